#include "base/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>
#include <vector>

#include "base/atomic_file.h"
#include "base/text_lines.h"

namespace dorvane {
namespace {

std::optional<InstanceLock::Holder> holderOf(ino_t inode) {
    const auto pid = parseLockHolder(readWholeFile("/proc/locks").value_or(""), inode);
    if (!pid) {
        return std::nullopt;
    }
    struct stat process {};
    const std::string folder = "/proc/" + std::to_string(*pid);
    if (::stat(folder.c_str(), &process) != 0) {
        return std::nullopt;
    }
    std::string program = readWholeFile(folder + "/comm").value_or("");
    if (!program.empty() && program.back() == '\n') {
        program.pop_back();
    }
    return InstanceLock::Holder{*pid, process.st_uid, program};
}

}  // namespace

std::optional<pid_t> parseLockHolder(std::string_view locks, ino_t inode) {
    for (const std::string_view line : splitLines(locks)) {
        // "1: FLOCK  ADVISORY  WRITE 4242 fe:00:1234 0 EOF"
        std::vector<std::string_view> fields;
        for (const std::string_view piece : splitAtEachBlank(line)) {
            if (!piece.empty()) {
                fields.push_back(piece);
            }
        }
        if (fields.size() < 6 || fields[1] != "FLOCK") {
            continue;
        }
        const std::string_view file = fields[5];
        const std::size_t colon = file.rfind(':');
        ino_t number = 0;
        pid_t pid = 0;
        const std::string_view inodeText = file.substr(colon + 1);
        if (colon == std::string_view::npos ||
            std::from_chars(inodeText.data(), inodeText.data() + inodeText.size(), number).ec !=
                std::errc{} ||
            number != inode ||
            std::from_chars(fields[4].data(), fields[4].data() + fields[4].size(), pid).ec !=
                std::errc{}) {
            continue;
        }
        return pid;
    }
    return std::nullopt;
}

std::optional<RefusedStart> refusedStart(const InstanceLock& lock, const std::string& path,
                                         std::string_view ownProgram, uid_t ownUser) {
    const auto& holder = lock.holder();
    switch (lock.state()) {
        case InstanceLock::State::Held:
            return std::nullopt;
        case InstanceLock::State::HeldElsewhere:
            if (holder && holder->user != ownUser) {
                return RefusedStart{"Dorvane is running for another user", 0};
            }
            if (holder && holder->program != ownProgram) {
                return RefusedStart{"Dorvane cannot start: its lock " + path + " is held by " +
                                        holder->program + " (process " +
                                        std::to_string(holder->pid) + "), which is not Dorvane",
                                    1};
            }
            return RefusedStart{"Dorvane is already running", 0};
        case InstanceLock::State::Failed:
            break;
    }
    if (lock.foreignOwner()) {
        return RefusedStart{"Dorvane cannot start: its lock " + path +
                                " belongs to another user, for whom Dorvane may be running",
                            0};
    }
    return RefusedStart{"Dorvane cannot start: " + lock.failure() +
                            "; without its lock a second Dorvane could undo what this one does",
                        1};
}

namespace {

constexpr std::string_view kBriefMark = "brief\n";
constexpr std::chrono::milliseconds kMarkGrace{500};

// True when the holder wrote that it holds the lock only for moments.
bool heldBriefly(int fd) {
    char mark[kBriefMark.size()];
    return ::pread(fd, mark, sizeof mark, 0) == static_cast<ssize_t>(sizeof mark) &&
           std::string_view(mark, sizeof mark) == kBriefMark;
}

}  // namespace

InstanceLock::InstanceLock(const std::string& path, const Claim& claim) {
    // A bare name is a file in the working folder, which needs no making.
    if (const auto folder = std::filesystem::path(path).parent_path(); !folder.empty()) {
        std::error_code folderFailure;
        std::filesystem::create_directories(folder, folderFailure);
        if (folderFailure) {
            failure_ = "cannot make the folder of " + path + ": " + folderFailure.message();
            return;
        }
    }
    // O_NOFOLLOW: a link planted at the lock's name never makes us open another file.
    // O_NONBLOCK: a FIFO there cannot hold the start.
    constexpr int kOpen = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | kOpen, 0644));
    if (!fd_.valid() && (errno == EACCES || errno == EPERM || errno == EROFS)) {
        fd_.reset(::open(path.c_str(), O_RDONLY | kOpen));
    }
    struct stat status {};
    if (!fd_.valid()) {
        failure_ = "cannot open " + path + ": " + std::strerror(errno);
        if (::lstat(path.c_str(), &status) == 0 && status.st_uid != ::getuid()) {
            foreignOwner_ = status.st_uid;
        }
        return;
    }
    if (::fstat(fd_.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        failure_ = "not a regular file: " + path;
        fd_.reset();
        return;
    }
    const auto began = std::chrono::steady_clock::now();
    int failure = 0;
    // A brief holder writes its mark a moment after it takes the lock, and a busy machine may
    // stretch that moment: a holder seen without a mark is given it before this claim gives up.
    while ((failure = ::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0 ? 0 : errno) == EWOULDBLOCK &&
           (claim.waitForAny || heldBriefly(fd_.get()) ||
            std::chrono::steady_clock::now() - began < kMarkGrace) &&
           std::chrono::steady_clock::now() - began < claim.patience) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (failure == 0) {
        state_ = State::Held;
        // The mark says what this holder is and replaces one that a brief holder left at its
        // death. Without it an instance that starts meanwhile only gives up sooner.
        if (::ftruncate(fd_.get(), 0) == 0 && claim.brief) {
            [[maybe_unused]] const ssize_t written =
                ::pwrite(fd_.get(), kBriefMark.data(), kBriefMark.size(), 0);
        }
    } else if (failure == EWOULDBLOCK) {
        state_ = State::HeldElsewhere;
        holder_ = holderOf(status.st_ino);
        fd_.reset();
    } else {
        failure_ = "cannot lock " + path + ": " + std::strerror(failure);
        fd_.reset();
    }
}

}  // namespace dorvane
