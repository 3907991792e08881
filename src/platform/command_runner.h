#pragma once

#include <string>
#include <vector>

#include "base/command_result.h"

namespace dorvane {

// Runs one system tool to its end. The real one is TRBRunCommand; tests record the runs.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    virtual TRBCommandResult run(const std::string& executablePath,
                                 const std::vector<std::string>& arguments) = 0;
};

}  // namespace dorvane
