#include "base/run_command.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "base/text_lines.h"
#include "base/unique_fd.h"

extern char** environ;

namespace dorvane {

bool makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe(fds) != 0) {
        return false;
    }
    pipe.readEnd.reset(fds[0]);
    pipe.writeEnd.reset(fds[1]);
    return ::fcntl(fds[0], F_SETFD, FD_CLOEXEC) == 0 && ::fcntl(fds[1], F_SETFD, FD_CLOEXEC) == 0;
}

namespace {

using SteadyClock = std::chrono::steady_clock;

// The GNU strerror_r returns the text, which may or may not be in the buffer; the POSIX one
// (macOS, musl) returns 0 and fills the buffer. Overloading on the result type picks the right
// reading for whichever C library this is, without compiling the other.
[[maybe_unused]] std::string strerrorText(const char* text, const char*) {
    return text != nullptr ? std::string(text) : std::string();
}

[[maybe_unused]] std::string strerrorText(int failure, const char* buffer) {
    return failure == 0 ? std::string(buffer) : std::string();
}

std::string describeErrno(int error) {
    std::array<char, 256> buffer{};
    return strerrorText(strerror_r(error, buffer.data(), buffer.size()), buffer.data());
}

// Owns the spawn attributes and file actions for the duration of one launch.
class SpawnSetup {
public:
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    int prepare(const SpawnPlan& plan) {
        int failure = 0;
        for (int target = STDIN_FILENO; target <= STDERR_FILENO && failure == 0; ++target) {
            const int source = plan.standard[target];
            if (source >= 0) {
                failure = posix_spawn_file_actions_adddup2(&actions_, source, target);
            } else if (source == SpawnPlan::kNullDevice) {
                failure = posix_spawn_file_actions_addopen(
                    &actions_, target, "/dev/null", target == STDIN_FILENO ? O_RDONLY : O_WRONLY,
                    0);
            } else {
                failure = keepInherited(target);
            }
        }
        short flags = POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
#ifdef DORVANE_HAVE_ADDCLOSEFROM
        if (failure == 0) {
            failure = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        }
#endif
#ifdef DORVANE_HAVE_CLOEXEC_DEFAULT
        // Every descriptor the file actions do not name is closed.
        flags |= POSIX_SPAWN_CLOEXEC_DEFAULT;
#endif
        sigset_t blocked;
        sigset_t allSignals;
        sigemptyset(&blocked);
        sigfillset(&allSignals);
        for (const int signalNumber : plan.blockedSignals) {
            sigaddset(&blocked, signalNumber);
        }
        if (failure == 0) {
            failure = posix_spawnattr_setsigmask(&attributes_, &blocked);
        }
        if (failure == 0) {
            failure = posix_spawnattr_setsigdefault(&attributes_, &allSignals);
        }
        if (failure == 0) {
            failure = posix_spawnattr_setpgroup(&attributes_, 0);
        }
        if (failure == 0) {
            failure = posix_spawnattr_setflags(&attributes_, flags);
        }
        return failure;
    }

    const posix_spawn_file_actions_t* actions() const {
        return &actions_;
    }
    const posix_spawnattr_t* attributes() const {
        return &attributes_;
    }

private:
    // Where every descriptor is closed unless named, one that stays must be named.
    int keepInherited([[maybe_unused]] int fd) {
#ifdef DORVANE_HAVE_CLOEXEC_DEFAULT
        return posix_spawn_file_actions_addinherit_np(&actions_, fd);
#else
        return 0;
#endif
    }

    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

int spawnProcess(const std::string& executablePath, const std::vector<std::string>& arguments,
                 const SpawnPlan& plan, pid_t& child) {
    SpawnSetup setup;
    if (const int failure = setup.prepare(plan); failure != 0) {
        return failure;
    }
    std::vector<char*> argv;
    argv.reserve(arguments.size() + 2);
    argv.push_back(const_cast<char*>(executablePath.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return ::posix_spawn(&child, executablePath.c_str(), setup.actions(), setup.attributes(),
                         argv.data(), environ);
}

namespace {

// True when a run must be abandoned now.
bool abandoned(int abandonFd) {
    if (abandonFd < 0) {
        return false;
    }
    pollfd watched{abandonFd, POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
}

// Appends what is ready on fd to sink; closes fd once its stream has ended.
void readInto(UniqueFd& fd, std::string& sink) {
    std::array<char, 64 * 1024> buffer;
    const ssize_t count = ::read(fd.get(), buffer.data(), buffer.size());
    if (count > 0) {
        sink.append(buffer.data(), static_cast<std::size_t>(count));
    } else if (count == 0 || errno != EINTR) {
        fd.reset();
    }
}

// Reads both pipes as data arrives on either, so a child that fills one pipe's buffer never
// blocks while the other is being waited on. Returns false when the deadline passed first or the
// run was abandoned.
bool drainBoth(UniqueFd& outputFd, UniqueFd& errorFd, std::string& output, std::string& error,
               SteadyClock::time_point deadline, int abandonFd) {
    while (outputFd.valid() || errorFd.valid()) {
        std::array<pollfd, 3> watched{};
        watched[0] = {outputFd.get(), POLLIN, 0};
        watched[1] = {errorFd.get(), POLLIN, 0};  // a negative fd is skipped by poll
        watched[2] = {abandonFd, POLLIN, 0};
        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
        if (remaining.count() <= 0) {
            return false;
        }
        const int ready =
            ::poll(watched.data(), watched.size(), static_cast<int>(remaining.count()));
        if ((ready < 0 && errno != EINTR) || (ready > 0 && watched[2].revents != 0)) {
            return false;
        }
        if (ready > 0 && watched[0].revents != 0) {
            readInto(outputFd, output);
        }
        if (ready > 0 && watched[1].revents != 0) {
            readInto(errorFd, error);
        }
    }
    return true;
}

enum class Exit { Reaped, Lost, TimedOut };

// Waits for the child's exit status until the deadline. A child normally exits as it closes its
// streams, so the first checks come quickly and the pauses grow only for one that lingers.
Exit waitForExit(pid_t child, int& waitStatus, SteadyClock::time_point deadline, int abandonFd) {
    auto pause = std::chrono::microseconds(20);
    while (true) {
        const pid_t reaped = ::waitpid(child, &waitStatus, WNOHANG);
        if (reaped == child) {
            return Exit::Reaped;
        }
        // A child whose status cannot be had (reaped by someone else, SIGCHLD ignored) may
        // have failed: nothing says it succeeded.
        if (reaped < 0 && errno != EINTR) {
            return Exit::Lost;
        }
        if (SteadyClock::now() >= deadline || abandoned(abandonFd)) {
            return Exit::TimedOut;
        }
        std::this_thread::sleep_for(pause);
        pause = std::min<std::chrono::microseconds>(pause * 2, std::chrono::milliseconds(10));
    }
}

// How long a killed child is waited for. SIGKILL ends a child at once unless the kill was refused;
// then the caller's deadline must still hold.
constexpr auto kWaitAfterKill = std::chrono::seconds(1);

// Reaps a child that outlived its run when it ends by itself, so that it does not stay a zombie.
// The thread sleeps in the kernel until then.
void reapLater(pid_t child) {
    try {
        std::thread([child] {
            int waitStatus = 0;
            while (::waitpid(child, &waitStatus, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // Without a thread the child stays a zombie until the application ends.
    }
}

int exitStatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) {
        return WEXITSTATUS(waitStatus);
    }
    if (WIFSIGNALED(waitStatus)) {
        return 128 + WTERMSIG(waitStatus);
    }
    return 1;
}

}  // namespace

TRBCommandResult TRBRunCommand(const std::string& executablePath,
                               const std::vector<std::string>& arguments,
                               const RunOptions& options) {
    TRBCommandResult result;
    auto failLaunch = [&](int error) {
        result.error = describeErrno(error);
        if (result.error.empty()) {
            result.error = options.launchFailedText();
        }
        return result;
    };
    auto stopped = [&] {
        // What a stopped tool printed is incomplete and is not handed on: a half-written
        // message must not be read as the tool's answer.
        result.status = kTimedOutStatus;
        result.error = options.timedOutText();
        return result;
    };
    if (abandoned(options.abandonFd) || options.timeout.count() <= 0) {
        return stopped();
    }
    // Only an absolute path names a program: nothing is looked up on the search path or relative
    // to the working directory.
    if (executablePath.empty() || executablePath.front() != '/') {
        return failLaunch(ENOENT);
    }

    Pipe outputPipe;
    Pipe errorPipe;
    if (!makePipe(outputPipe) || !makePipe(errorPipe)) {
        return failLaunch(errno);
    }
    // The child gets the two pipes as its standard output and error, and no input: a tool never
    // reads what was meant for the application.
    SpawnPlan plan;
    plan.standard[STDOUT_FILENO] = outputPipe.writeEnd.get();
    plan.standard[STDERR_FILENO] = errorPipe.writeEnd.get();
    pid_t child = -1;
    if (const int failure = spawnProcess(executablePath, arguments, plan, child); failure != 0) {
        return failLaunch(failure);
    }
    // The child holds its own copies of the write ends; ours must go, or the reads never end.
    outputPipe.writeEnd.reset();
    errorPipe.writeEnd.reset();

    const auto deadline = SteadyClock::now() + options.timeout;
    std::string outputBytes;
    std::string errorBytes;
    int waitStatus = 0;
    const Exit exit = drainBoth(outputPipe.readEnd, errorPipe.readEnd, outputBytes, errorBytes,
                                deadline, options.abandonFd)
                          ? waitForExit(child, waitStatus, deadline, options.abandonFd)
                          : Exit::TimedOut;
    if (exit == Exit::TimedOut) {
        // Everything the child started shares its process group, so one signal stops it all.
        options.signalGroup(child, SIGKILL);
        if (waitForExit(child, waitStatus, SteadyClock::now() + kWaitAfterKill, -1) ==
            Exit::TimedOut) {
            reapLater(child);
        }
        return stopped();
    }

    result.status = exit == Exit::Lost ? kLostStatus : exitStatusOf(waitStatus);
    if (isValidUtf8(outputBytes)) {
        result.output = std::move(outputBytes);
    }
    if (isValidUtf8(errorBytes)) {
        result.error = std::move(errorBytes);
    }
    return result;
}

}  // namespace dorvane
