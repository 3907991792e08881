#pragma once

#include "base/command_result.h"
#include "base/text_lines.h"

namespace dorvane {

// The one rule that tells a missing privilege from other failures: sudo, run with "-n", fails
// with a message that mentions a password or names sudo whenever no rule lets the user run the
// command without one. The error text is searched, then the output, without regard to case.
inline bool failedForWantOfPermission(const TRBCommandResult& result) {
    const std::string joined = asciiLower(result.error + result.output);
    return joined.find("password") != std::string::npos || joined.find("sudo") != std::string::npos;
}

}  // namespace dorvane
