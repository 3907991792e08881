#pragma once

#include <cstdint>
#include <string>

namespace dorvane {

// The outcome of one run of an external program.
struct TRBCommandResult {
    std::int32_t status = -1;  // exit status; 0 success; -1 when the program could not start
    std::string output;        // standard output as UTF-8, empty when it was not valid UTF-8
    std::string error;         // standard error as UTF-8, or the launch-failure description
    // The run was given up because the application is terminating: its status tells nothing of
    // the machine.
    bool abandoned = false;
};

}  // namespace dorvane
