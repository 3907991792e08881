#include <gtest/gtest.h>

#include "support/sim_notebook.h"

namespace dorvane {
namespace {

// Only the fault table's options are checked here: the tool-fault and floor tests rely on a fault
// being stored as written, and on a misspelt one being refused rather than taken as another.
TEST(SimTools, BadFaultArgumentsGetAUsageLineAndStatusTwo) {
    testing::SimNotebook notebook;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"fail", "ls", "-l"},
        {"fail", "pmset", "-g", "--status", "x"},
        {"fail", "pmset", "-g", "--colour", "red"},
        {"fail", "pmset", "-g", "--colour", "hang"},
        {"garble", "pmset", "-g", "\xff\xfe"},
        {"fail", "pmset", "-g", "--stdout", "\xc3"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.back());
        const TRBCommandResult result = notebook.control(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.error.starts_with("usage: dorvane-sim") ||
                    result.output.starts_with("usage: dorvane-sim"))
            << result.output << result.error;
    }
}

}  // namespace
}  // namespace dorvane
