#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "support/fakes.h"
#include "system/command_runner.h"

namespace dorvane::testing {

// A simulated notebook of the test's own, in a fresh temporary folder: the stand-in tools and
// dorvane-sim find it through DORVANE_SIM_STATE, which the children inherit.
class SimNotebook {
public:
    SimNotebook() {
        ::setenv("DORVANE_SIM_STATE", statePath_.c_str(), 1);
        ::unsetenv("DORVANE_SIM_AS_ROOT");
    }

    // Runs dorvane-sim with these arguments.
    TRBCommandResult control(const std::vector<std::string>& arguments) const {
        return TRBRunCommand(DORVANE_SIM_BIN, arguments);
    }
    const std::string& statePath() const { return statePath_; }
    const std::string& folder() const { return folder_.path; }

private:
    TempFolder folder_;
    std::string statePath_ = folder_.path + "/notebook.json";
};

}  // namespace dorvane::testing
