#include <gtest/gtest.h>

#include "base/atomic_file.h"
#include "support/sim_notebook.h"
#include "system/command_runner.h"

namespace dorvane {
namespace {

using testing::SimNotebook;

void expectSucceeds(const TRBCommandResult& result) {
    EXPECT_EQ(result.status, 0) << result.output << result.error;
}

TEST(SimTools, AStateFileThatIsNotValidIsReportedNeverReset) {
    SimNotebook notebook;
    expectSucceeds(notebook.control({"status"}));
    ASSERT_TRUE(writeFileAtomically(notebook.statePath(), "{ this is not a notebook"));
    for (const auto& [program, arguments] :
         std::vector<std::pair<std::string, std::vector<std::string>>>{
             {DORVANE_SIM_BIN, {"status"}},
             {DORVANE_SIM_BIN, {"power", "battery"}},
             {SimNotebook::toolPath("pmset"), {"-g", "ps"}}}) {
        SCOPED_TRACE(program + " " + arguments[0]);
        const TRBCommandResult result = TRBRunCommand(program, arguments);
        EXPECT_EQ(result.status, 1);
        EXPECT_NE(result.error.find("is not valid"), std::string::npos) << result.error;
        EXPECT_NE(result.error.find("dorvane-sim reset"), std::string::npos);
    }
    EXPECT_EQ(readWholeFile(notebook.statePath()), "{ this is not a notebook");
    expectSucceeds(notebook.control({"reset"}));
    expectSucceeds(notebook.tool("pmset", {"-g", "ps"}));
}

TEST(SimTools, BadArgumentsGetAUsageLineAndStatusTwo) {
    SimNotebook notebook;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"explode"},
        {"power", "solar"},
        {"power", "battery", "101"},
        {"lid", "ajar"},
        {"repeat", "set", "wake", "MX", "07:00:00"},
        {"fail", "ls", "-l"},
        {"fail", "pmset", "-g", "--status", "x"},
        {"fail", "pmset", "-g", "--colour", "red"},
        {"fail", "pmset", "-g", "--colour", "hang"},
        {"garble", "pmset", "-g", "\xff\xfe"},
        {"fail", "pmset", "-g", "--stdout", "\xc3"},
        {"wake", "--later"},
        {"clock", "set", "25:00"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments[0]);
        const TRBCommandResult result = notebook.control(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.error.starts_with("usage: dorvane-sim") ||
                    result.output.starts_with("usage: dorvane-sim"))
            << result.output << result.error;
    }
}

}  // namespace
}  // namespace dorvane
