#include "base/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string_view>
#include <thread>

namespace dorvane {
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
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.valid()) {
        failure_ = "cannot open " + path + ": " + std::strerror(errno);
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
        fd_.reset();
    } else {
        failure_ = "cannot lock " + path + ": " + std::strerror(failure);
        fd_.reset();
    }
}

}  // namespace dorvane
