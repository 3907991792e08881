#pragma once

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

    // Takes the lock on the file at path without waiting, making the file (owner only) and its
    // folder when they are missing.
    explicit InstanceLock(const std::string& path);

    State state() const { return state_; }
    const std::string& failure() const { return failure_; }

private:
    UniqueFd fd_;
    State state_ = State::Failed;
    std::string failure_;
};

}  // namespace dorvane
