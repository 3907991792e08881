#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/run_command.h"
#include "platform/bundle.h"
#include "platform/command_runner.h"

namespace dorvane {

// The runner the application uses: TRBRunCommand with its error texts taken from the string table
// at the moment they are needed.
class SpawnCommandRunner : public CommandRunner {
public:
    explicit SpawnCommandRunner(const Bundle& bundle,
                                std::chrono::milliseconds timeout = RunOptions{}.timeout)
        : bundle_(bundle), timeout_(timeout) {}

    TRBCommandResult run(const std::string& executablePath,
                         const std::vector<std::string>& arguments) override;

private:
    const Bundle& bundle_;
    std::chrono::milliseconds timeout_;
};

}  // namespace dorvane
