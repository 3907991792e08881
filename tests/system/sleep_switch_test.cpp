#include <fnmatch.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "base/atomic_file.h"
#include "support/fake_notebook.h"
#include "system/command_runner.h"
#include "system/privilege.h"

namespace dorvane {
namespace {

// sudo runs a command without a password only when a drop-in entry matches it, "*" standing for
// any text: every command the app runs as root must match one.
TEST(PermissionCommand, AllowsEveryCommandTheAppRunsAsRoot) {
    const std::string allowed = std::string(kAllowedPmsetCommands) + ", ";
    for (const std::vector<std::string>& arguments :
         {tool_args::kDisableSleepOn,
          tool_args::kDisableSleepOff,
          tool_args::kRepeatCancel,
          {"repeat", tool_args::kRepeatWakeType, tool_args::kRepeatWakeDays, "06:00:00"}}) {
        std::string command = "/usr/bin/pmset";
        for (const std::string& argument : arguments) {
            command += " " + argument;
        }
        bool matched = false;
        for (std::size_t start = 0, end = 0; (end = allowed.find(", ", start)) != std::string::npos;
             start = end + 2) {
            matched |=
                ::fnmatch(allowed.substr(start, end - start).c_str(), command.c_str(), 0) == 0;
        }
        EXPECT_TRUE(matched) << command;
    }
}

// The drop-in line the command writes, made by running its printf part in a shell as the user's
// terminal would, passes sudo's own syntax check and allows exactly the listed entries.
TEST(PermissionCommand, TheDropInPassesVisudo) {
    if (testing::missingTool("/usr/sbin/visudo")) {
        GTEST_SKIP() << "visudo is not installed";
    }
    const std::string command = composePermissionCommand(501);
    const std::string printfPart = command.substr(0, command.find(" | sudo tee "));
    const testing::TempFolder folder;
    const std::string dropIn = folder.path + "/dorvane";
    const TRBCommandResult written =
        TRBRunCommand("/bin/sh", {"-c", printfPart + " > '" + dropIn + "'"});
    ASSERT_EQ(written.status, 0) << written.error;

    EXPECT_EQ(readWholeFile(dropIn),
              "#501 ALL=(root) NOPASSWD: " + std::string(kAllowedPmsetCommands) + "\n")
        << "one line, every entry as it is after the shell's quoting";

    const TRBCommandResult checked = TRBRunCommand("/usr/sbin/visudo", {"-cf", dropIn});
    EXPECT_EQ(checked.status, 0) << checked.output << checked.error;
}

// The record is written before the switch is set and removed once normal sleep is back, so the
// guardian knows what is ours; a switch without its record is not set. The first set also leaves
// the login check's agent.
TEST(SleepSwitch, KeepsTheRecordTheGuardianReads) {
    struct Case {
        const char* what;
        bool privileged, recordWritable, disable, recordedBefore, applied, recordedAfter, setAfter;
    } const cases[] = {
        {"set", true, true, true, false, true, true, true},
        {"restored", true, true, false, true, true, false, false},
        {"restore refused", false, true, false, true, false, true, true},
        {"record unwritable", true, false, true, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::TempFolder folder;
        testing::NotebookPlatform p;
        p.test.processInfo.home = folder.path + "/home";
        p.test.switchRecordPath = (c.recordWritable ? folder.path : "/proc/none") + "/record";
        p.controller = p.test.makeController();
        p.notebook.state.privilegeInstalled = c.privileged;
        p.notebook.state.sleepDisabled = !c.disable;
        ASSERT_TRUE(!c.recordedBefore || writeFileAtomically(p.test.switchRecordPath, "set\n"));
        EXPECT_EQ(p.controller->applySleepDisabled(c.disable), c.applied);
        EXPECT_EQ(std::filesystem::exists(p.test.switchRecordPath), c.recordedAfter);
        EXPECT_EQ(p.notebook.state.sleepDisabled, c.setAfter);
        EXPECT_EQ(p.test.commands.runs.empty(), !c.recordWritable);
        const auto agent = readWholeFile(p.controller->failSafeLaunchAgentPath());
        ASSERT_EQ(agent.has_value(), c.disable && c.recordWritable);
        if (agent) {
            EXPECT_EQ(readWholeFile(p.test.switchRecordPath),
                      "sleep disabled by Dorvane at 2026-12-06T12:00:00Z\n");
            EXPECT_NE(agent->find("<string>--fail-safe</string>"), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace dorvane
