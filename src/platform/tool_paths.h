#pragma once

#include <string>

namespace dorvane {

// Where the power-management tools live. The defaults are macOS's own; the Linux build hands the
// simulated notebook's stand-ins instead, and sudo is then given the stand-in pmset's path.
struct ToolPaths {
    std::string pmset = "/usr/bin/pmset";
    std::string ioreg = "/usr/sbin/ioreg";
    std::string sudo = "/usr/bin/sudo";
};

}  // namespace dorvane
