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

}  // namespace
}  // namespace dorvane
