#pragma once

#include <chrono>
#include <string>

#include "base/unique_fd.h"

namespace dorvane {

// The claim of the one running instance: an exclusive flock on a file of the user's own, held for
// as long as this object lives. The kernel drops the lock when the descriptor closes, including at
// the process's death, so a crashed instance never blocks the next start; the descriptor is
// close-on-exec, so no tool the instance runs keeps the lock alive after it.
class InstanceLock {
public:
    enum class State {
        Held,           // this process is the one instance
        HeldElsewhere,  // another process holds the lock
        Failed,         // the lock file could not be made or locked; failure() says why
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

    // Takes the lock on the file at path, making the file (owner only) and its folder when they
    // are missing.
    explicit InstanceLock(const std::string& path) : InstanceLock(path, Claim{}) {}
    InstanceLock(const std::string& path, const Claim& claim);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }

private:
    UniqueFd fd_;
    State state_ = State::Failed;
    std::string failure_;
};

}  // namespace dorvane
