#include "system/command_runner.h"

#include <poll.h>

#include <algorithm>

namespace dorvane {

TRBCommandResult SpawnCommandRunner::run(const std::string& executablePath,
                                         const std::vector<std::string>& arguments) {
    RunOptions options;
    options.launchFailedText = [this] {
        return bundle_.localizedString("error.command_launch_failed");
    };
    options.timedOutText = [this] { return bundle_.localizedString("error.command_timed_out"); };
    options.timeout = timeout_;
    // The shut-down's own runs are bounded by its budget instead: a repeated termination request
    // must not cut the restore short.
    options.abandonFd = deadline_ ? -1 : abandonFd_;
    if (deadline_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            *deadline_ - std::chrono::steady_clock::now());
        options.timeout = std::clamp(left, std::chrono::milliseconds(0), timeout_);
    }
    TRBCommandResult result = TRBRunCommand(executablePath, arguments, options);
    // A stopped run while the termination request waits was given up for it, not timed out.
    if (result.status == kTimedOutStatus && options.abandonFd >= 0) {
        pollfd watched{options.abandonFd, POLLIN, 0};
        result.abandoned = ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN) != 0;
    }
    return result;
}

}  // namespace dorvane
