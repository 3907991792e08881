#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "base/unique_fd.h"

namespace dorvane {

// The claim of the one running instance: an exclusive flock on a file, held for as long as this
// object lives. The kernel drops the lock when the descriptor closes, including at the process's
// death, so a crashed instance never blocks the next start; the descriptor is close-on-exec, so
// no tool the instance runs keeps the lock alive after it. The file is made readable by everyone
// and writable by its maker only: a lock may be held through a descriptor open for reading alone,
// so the instance of another user, or one meeting a file it may not write (an immutable one), is
// still held off by the same lock.
class InstanceLock {
public:
    enum class State {
        Held,           // this process is the one instance
        HeldElsewhere,  // another process holds the lock
        Failed,         // the lock file could not be made, opened or locked; failure() says why
    };
    // The process holding the lock, where the system says (Linux lists every lock it holds).
    struct Holder {
        pid_t pid = 0;
        uid_t user = 0;
        std::string program;  // its short name, as the process table gives it
    };

    // How the lock is taken.
    struct Claim {
        // Holds it only for moments (the fail-safe check while it clears a switch left set) and
        // says so in the file, so that an instance starting meanwhile waits instead of giving up.
        bool brief = false;
        // How long to try again while a brief holder has it, or any holder when waitForAny.
        std::chrono::milliseconds patience{0};
        bool waitForAny = false;
    };

    // Takes the lock on the file at path, making the file and its folder when they are missing.
    // A link or anything but a regular file at path is never used.
    explicit InstanceLock(const std::string& path) : InstanceLock(path, Claim{}) {}
    InstanceLock(const std::string& path, const Claim& claim);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }
    const std::optional<Holder>& holder() const { return holder_; }
    // The user owning the file at the lock's name, when it could not be opened.
    const std::optional<uid_t>& foreignOwner() const { return foreignOwner_; }

private:
    UniqueFd fd_;
    State state_ = State::Failed;
    std::string failure_;
    std::optional<Holder> holder_;
    std::optional<uid_t> foreignOwner_;
};

// Why this start goes no further, and its exit status: 0 where a Dorvane runs already (a login
// item that fails is started again), 1 where a second one could not be ruled out or the lock is
// held by another program. Absent when the lock is held here.
struct RefusedStart {
    std::string message;  // one line, without the line end
    int status = 0;
};
std::optional<RefusedStart> refusedStart(const InstanceLock& lock, const std::string& path,
                                         std::string_view ownProgram, uid_t ownUser);

// The process holding a flock on the file with this inode, read from the kernel's lock list
// (/proc/locks); waiters, marked "->", hold nothing.
std::optional<pid_t> parseLockHolder(std::string_view locks, ino_t inode);

}  // namespace dorvane
