#include "system/command_runner.h"

namespace dorvane {

TRBCommandResult SpawnCommandRunner::run(const std::string& executablePath,
                                         const std::vector<std::string>& arguments) {
    RunOptions options;
    options.launchFailedText = [this] {
        return bundle_.localizedString("error.command_launch_failed");
    };
    options.timedOutText = [this] { return bundle_.localizedString("error.command_timed_out"); };
    options.timeout = timeout_;
    return TRBRunCommand(executablePath, arguments, options);
}

}  // namespace dorvane
