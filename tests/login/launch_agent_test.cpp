#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/defaults_keys.h"
#include "base/atomic_file.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

struct AgentFixture {
    testing::TestPlatform test;
    std::string home = test.processInfo.home;
    std::shared_ptr<TRBController> controller = test.makeController();

    AgentFixture() {
        test.bundle.executable = "/opt/dorvane/bin/dorvane";
        controller->setStatusItem(test.statusBar.createStatusItem());
    }
    std::string agentPath = home + "/Library/LaunchAgents/com.dorvane.Dorvane.plist";
};

std::string agentXml(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>" + entries +
           "</dict></plist>\n";
}

TEST(LaunchAgent, SwitchingOnWritesTheAgentAndTheMirror) {
    AgentFixture f;
    EXPECT_FALSE(f.controller->isLaunchAtLoginEnabled());
    std::string error;
    ASSERT_TRUE(f.controller->setLaunchAtLoginEnabled(true, &error)) << error;
    // Started again after a crash only, writing to the user's own logs.
    const std::string logs = f.home + "/Library/Logs/Dorvane";
    const PlistDictionary want = {
        {"Label", {std::string("com.dorvane.Dorvane")}},
        {"ProgramArguments", {PlistArray{{std::string("/opt/dorvane/bin/dorvane")}}}},
        {"RunAtLoad", {true}},
        {"KeepAlive", {PlistDictionary{{"SuccessfulExit", {false}}}}},
        {"StandardOutPath", {logs + "/dorvane.out"}},
        {"StandardErrorPath", {logs + "/dorvane.err"}},
    };
    const auto agent = f.test.propertyLists.parse(readWholeFile(f.agentPath).value_or(""), nullptr);
    ASSERT_TRUE(agent.has_value());
    EXPECT_TRUE(std::get<PlistDictionary>(agent->value) == want);
    EXPECT_TRUE(std::filesystem::is_directory(logs)) << "launchd cannot make the folder itself";
    EXPECT_EQ(f.test.defaults.values.at(defaults_keys::kLaunchAtLoginEnabled), DefaultsValue(true));
    EXPECT_EQ(f.test.defaults.synchronizeCount, 1);

    ASSERT_TRUE(f.controller->setLaunchAtLoginEnabled(false, &error));
    EXPECT_FALSE(std::filesystem::exists(f.agentPath));
    EXPECT_EQ(f.test.defaults.values.at(defaults_keys::kLaunchAtLoginEnabled),
              DefaultsValue(false));
    ASSERT_TRUE(f.controller->setLaunchAtLoginEnabled(false, &error))
        << "a file gone already is a success";
    EXPECT_EQ(f.test.defaults.synchronizeCount, 3);
}

TEST(LaunchAgent, ReadsTheStateFromTheFileAlone) {
    const std::string label = "<key>Label</key><string>com.dorvane.Dorvane</string>";
    // clang-format off
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"our own agent", agentXml(label + "<key>RunAtLoad</key><true/>"), true},
        {"RunAtLoad missing", agentXml(label), false},
        {"RunAtLoad as a number", agentXml(label + "<key>RunAtLoad</key><integer>1</integer>"), true},
        {"RunAtLoad as the number 0", agentXml(label + "<key>RunAtLoad</key><integer>0</integer>"), false},
        {"RunAtLoad as the text YES", agentXml(label + "<key>RunAtLoad</key><string>YES</string>"), true},
        {"RunAtLoad as the text no", agentXml(label + "<key>RunAtLoad</key><string>no</string>"), false},
        {"another label", agentXml("<key>Label</key><string>com.example.other</string><key>RunAtLoad</key><true/>"), false},
        {"our label in other capitals", agentXml( "<key>Label</key><string>COM.DORVANE.DORVANE</string><key>RunAtLoad</key><true/>"), false},
        {"not a property list", "hello", false},
    };
    // clang-format on
    for (const auto& [what, content, enabled] : cases) {
        SCOPED_TRACE(what);
        AgentFixture f;
        std::filesystem::create_directories(std::filesystem::path(f.agentPath).parent_path());
        ASSERT_TRUE(writeFileAtomically(f.agentPath, content));
        EXPECT_EQ(f.controller->isLaunchAtLoginEnabled(), enabled);
        if (!enabled) {
            f.controller->toggleLaunchAtLogin(MenuItem{});
            EXPECT_TRUE(f.controller->isLaunchAtLoginEnabled())
                << "toggling writes our own file over it";
        }
    }
}

TEST(LaunchAgent, ProgramPathPrefersTheCopyInTheUsersApplications) {
    AgentFixture f;
    const std::string candidate = f.home + "/Applications/Dorvane.app/Contents/MacOS/Dorvane";
    EXPECT_EQ(f.controller->launchAgentProgramPath(), "/opt/dorvane/bin/dorvane")
        << "no copy there";
    std::filesystem::create_directories(std::filesystem::path(candidate).parent_path());
    ASSERT_TRUE(writeFileAtomically(candidate, "binary", nullptr, 0644));
    EXPECT_EQ(f.controller->launchAgentProgramPath(), "/opt/dorvane/bin/dorvane")
        << "not executable";
    ::chmod(candidate.c_str(), 0755);
    EXPECT_EQ(f.controller->launchAgentProgramPath(), candidate);
    std::filesystem::remove(candidate);
    f.test.bundle.executable.reset();
    EXPECT_EQ(f.controller->launchAgentProgramPath(), candidate) << "the candidate all the same";
}

TEST(LaunchAgent, AtStartUpFollowsAMovedApplicationButNeverToACopyThatWillBeGone) {
    const std::string moved = "/Applications/Old.app/Contents/MacOS/Dorvane";
    const std::string translocated = "/private/var/folders/x/AppTranslocation/1A/d/Dorvane.app";
    // Each row: the program the agent names, this copy's path; then the program named after, and
    // whether the user is told to move the application.
    // clang-format off
    const std::tuple<const char*, std::string, std::string, std::string, bool> cases[] = {
        {"moved: written again", moved, "/opt/dorvane/bin/dorvane", "/opt/dorvane/bin/dorvane", false},
        {"run from the disk image", moved, "/Volumes/Dorvane/Dorvane.app/Contents/MacOS/Dorvane", moved, true},
        {"translocated", moved, translocated, moved, true},
        {"translocated, the agent's copy still there", "/bin/sh", translocated, "/bin/sh", false},
    };
    // clang-format on
    for (const auto& [what, named, running, namedAfter, told] : cases) {
        SCOPED_TRACE(what);
        AgentFixture f;
        f.test.bundle.executable = named;
        ASSERT_TRUE(f.controller->setLaunchAtLoginEnabled(true, nullptr));
        f.test.bundle.executable = running;
        if (told) {
            f.test.alerts.script.push_back({kAlertFirstButtonReturn, {}});
        }
        f.controller->keepLaunchAgentCurrent();
        f.test.mainQueue.drain();
        const auto agent = f.test.propertyLists.parse(*readWholeFile(f.agentPath), nullptr);
        const auto& program = std::get<PlistDictionary>(agent->value).at("ProgramArguments");
        EXPECT_EQ(program, PlistValue{PlistArray{{namedAfter}}});
        EXPECT_EQ(f.test.alerts.shown.size(), told ? 1u : 0u);
    }
}

// The login check's agent follows a moved application too: one naming a copy that is gone would
// start nothing after a power loss.
TEST(LaunchAgent, TheLoginChecksAgentNamesACopyThatIsThereAtTheNextLogin) {
    const std::string moved = "/Applications/Old.app/Contents/MacOS/Dorvane";
    const std::string image = "/Volumes/Dorvane/Dorvane.app/Contents/MacOS/Dorvane";
    // Each row: the program the agent names first, this copy's path; then the program named after.
    // clang-format off
    const std::tuple<const char*, std::string, std::string, std::string> cases[] = {
        {"moved: written again", moved, "/opt/dorvane/bin/dorvane", "/opt/dorvane/bin/dorvane"},
        {"run from the disk image, the agent's copy gone", moved, image, image},
        {"run from the disk image, the agent's copy still there", "/bin/sh", image, "/bin/sh"},
    };
    // clang-format on
    for (const auto& [what, named, running, namedAfter] : cases) {
        SCOPED_TRACE(what);
        AgentFixture f;
        f.test.switchRecordPath = f.home + "/record";
        f.controller = f.test.makeController();
        f.test.bundle.executable = named;
        f.controller->ensureFailSafeLaunchAgent();
        f.test.bundle.executable = running;
        f.controller->ensureFailSafeLaunchAgent();
        const auto agent = f.test.propertyLists.parse(
            readWholeFile(f.controller->failSafeLaunchAgentPath()).value_or(""), nullptr);
        ASSERT_TRUE(agent.has_value());
        EXPECT_EQ(std::get<PlistDictionary>(agent->value).at("ProgramArguments"),
                  (PlistValue{PlistArray{{namedAfter}, {std::string("--fail-safe")}}}));
    }
}

TEST(LaunchAgent, AFailedToggleSaysWhyAndShowsTheRealState) {
    AgentFixture f;
    f.test.bundle.texts["dialog.launch_at_login_failed.body_format"] = "because: %@";
    // A file where the LaunchAgents folder should be.
    std::filesystem::create_directories(f.home + "/Library");
    ASSERT_TRUE(writeFileAtomically(f.home + "/Library/LaunchAgents", "in the way"));
    f.controller->rebuildMenu();
    f.test.alerts.script.resize(1);
    f.controller->toggleLaunchAtLogin(MenuItem{});
    ASSERT_EQ(f.test.alerts.shown.size(), 1u);
    EXPECT_EQ(f.test.alerts.shown[0].messageText, "dialog.launch_at_login_failed.title");
    EXPECT_TRUE(f.test.alerts.shown[0].informativeText.starts_with("because: "));
    EXPECT_FALSE(f.test.defaults.values.contains(defaults_keys::kLaunchAtLoginEnabled))
        << "only after success";
    EXPECT_FALSE(
        testing::itemTitled(*f.test.statusBar.lastCreated->menu, "menu.launch_at_login")->checked);
}

}  // namespace
}  // namespace dorvane
