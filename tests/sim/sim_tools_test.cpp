#include <gtest/gtest.h>

#include <thread>

#include "base/atomic_file.h"
#include "sim_state.h"
#include "support/fakes.h"
#include "support/sim_notebook.h"
#include "system/command_runner.h"

namespace dorvane {
namespace {

using testing::SimNotebook;

void expectSucceeds(const TRBCommandResult& result) {
    EXPECT_EQ(result.status, 0) << result.output << result.error;
}

TEST(SimTools, OnlyRootChangesSettingsAndOnlyThePrivilegeMakesRoot) {
    SimNotebook notebook;
    const std::string pmset = SimNotebook::toolPath("pmset");
    // clang-format off
    const std::tuple<const char*, bool, std::string, std::vector<std::string>, int, std::string, std::string> cases[] = {
        {"settings change run directly", true, "pmset", {"-a", "disablesleep", "1"}, 1, "'pmset' must be run as root...\n", ""},
        {"sudo without the privilege", false, "sudo", {"-n", pmset, "-a", "disablesleep", "1"}, 1, "", "sudo: a password is required\n"},
        {"sudo with the privilege", true, "sudo", {"-n", pmset, "-a", "disablesleep", "1"}, 0, "", ""},
        {"a command the privilege does not name", true, "sudo", {"-n", pmset, "-a", "sleep", "0"}, 1, "", "sudo: a password is required\n"},
        {"malformed repeat through sudo", true, "sudo", {"-n", pmset, "repeat", "wakeorpoweron", "MTWRFSU", "7:00"}, 1, "", "Error: badly formatted repeating power event\n"},
        {"any other program", true, "sudo", {"-n", "/bin/sh", "-c", "true"}, 1, "", "sudo: the simulated notebook runs only its own pmset\n"},
        {"dorvane-sim itself", true, "sudo", {"-n", DORVANE_SIM_BIN, "reset"}, 1, "", "sudo: the simulated notebook runs only its own pmset\n"},
    };
    // clang-format on
    for (const auto& [what, privilege, tool, arguments, status, output, error] : cases) {
        SCOPED_TRACE(what);
        expectSucceeds(notebook.control({"privilege", privilege ? "grant" : "revoke"}));
        const TRBCommandResult result = notebook.tool(tool, arguments);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.output, output);
        EXPECT_EQ(result.error, error);
    }
}

TEST(SimTools, TwoProcessesChangingTheStateAtOnceLoseNothing) {
    SimNotebook notebook;
    constexpr int kChangesEach = 30;
    auto toggle = [&](std::vector<std::string> first, std::vector<std::string> second) {
        for (int i = 0; i < kChangesEach; ++i) {
            expectSucceeds(notebook.control(i % 2 == 0 ? first : second));
        }
    };
    std::thread power(toggle, std::vector<std::string>{"power", "battery"},
                      std::vector<std::string>{"power", "ac"});
    std::thread lid(toggle, std::vector<std::string>{"lid", "closed"},
                    std::vector<std::string>{"lid", "open"});
    power.join();
    lid.join();
    const TRBCommandResult events = notebook.control({"events"});
    EXPECT_TRUE(events.output.starts_with("events: " + std::to_string(2 * kChangesEach) + "\n"))
        << events.output;
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
