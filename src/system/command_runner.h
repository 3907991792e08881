#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/run_command.h"
#include "platform/bundle.h"
#include "platform/command_runner.h"

namespace dorvane {

// How long the shut-down's own tool runs may take together. launchd kills a job that has not
// ended 20 seconds after its termination request, which would leave the sleep switch as it is.
inline constexpr std::chrono::seconds kShutDownRunBudget{8};

// The runner the application uses: TRBRunCommand with its error texts taken from the string table
// at the moment they are needed. A backend hands it the descriptor that abandons a run (readable
// while a termination request waits), and bounds the runs of the shut-down.
class SpawnCommandRunner : public CommandRunner {
public:
    explicit SpawnCommandRunner(const Bundle& bundle, int abandonFd = -1,
                                std::chrono::milliseconds timeout = RunOptions{}.timeout)
        : bundle_(bundle), abandonFd_(abandonFd), timeout_(timeout) {}

    TRBCommandResult run(const std::string& executablePath,
                         const std::vector<std::string>& arguments) override;

    // Every later run ends by this moment, however long its own time-out, and is no longer
    // abandoned.
    void limitRunsTo(std::chrono::steady_clock::time_point deadline) { deadline_ = deadline; }

private:
    const Bundle& bundle_;
    int abandonFd_;
    std::chrono::milliseconds timeout_;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
};

}  // namespace dorvane
