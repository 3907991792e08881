#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "base/atomic_file.h"
#include "e2e/app_process.h"
#include "platform/linux/libplist_property_lists.h"
#include "sim_state.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::AppProcess;
using ::testing::HasSubstr;
using testing::waitUntil;

sim::State notebookState(const AppProcess& app) {
    return *sim::StateFile(app.notebook.statePath()).read(nullptr);
}

bool isAlert(const json& m, const std::string& title) {
    return m.contains("alert") && m["alert"]["title"] == title;
}

// One working day of the app, through the line protocol, on the real program and notebook.
TEST(LineProtocol, SleepsUnpluggedSetsQuietHoursAndQuitsRestoring) {
    AppProcess app;
    app.control({"privilege", "grant"});
    app.start();
    ASSERT_TRUE(app.waitForKey("main_menu"));
    ASSERT_TRUE(app.waitForKey("title", "Dorvane")) << "the placeholder first";
    ASSERT_TRUE(app.waitForKey("title", "Awake"));
    EXPECT_TRUE(notebookState(app).sleepDisabled);

    // Unplugged with the lid closed while a dialog waits for an answer: within a second the
    // switch is cleared and the sleep request acknowledged, and the dialog stays open.
    app.send(R"({"choose":["Quiet Hours","Set Quiet Hours…"]})");
    ASSERT_TRUE(app.waitFor([](const json& m) { return isAlert(m, "Quiet Hours"); }));
    EXPECT_EQ(app.messages.back()["alert"]["fields"][0]["text"], "00:00");
    app.control({"lid", "closed"});
    app.control({"power", "battery"});
    EXPECT_TRUE(waitUntil([&] { return notebookState(app).asleep; }, 1s));
    EXPECT_FALSE(notebookState(app).sleepDisabled);
    ASSERT_TRUE(app.waitForKey("title", "Normal"));
    app.control({"wake"});
    app.control({"lid", "open"});
    app.control({"power", "ac"});
    ASSERT_TRUE(app.waitForKey("title", "Awake"));
    app.send(R"({"answer":1000,"fields":["22:00","6:00"]})");
    ASSERT_TRUE(app.waitFor([](const json& m) {
        return m.contains("menu") && m["menu"][10]["submenu"][1]["checked"] == true;
    }));
    EXPECT_EQ(notebookState(app).wakeSlot.value_or(sim::RepeatEvent{}).time, "06:00:00");

    // Always awake it stays awake unplugged, until a change of the charge alone reaches the floor.
    const auto menuShows = [&](std::size_t row, const std::string& title) {
        return app.waitFor(
            [&](const json& m) { return m.contains("menu") && m["menu"][row]["title"] == title; });
    };
    app.send(R"({"choose":["Always Awake"]})");
    ASSERT_TRUE(menuShows(1, "Mode: Always Awake"));
    app.control({"power", "battery"});
    ASSERT_TRUE(menuShows(2, "Power: Battery (100%)"));
    ASSERT_TRUE(notebookState(app).sleepDisabled);
    app.control({"power", "battery", "10"});
    EXPECT_TRUE(waitUntil([&] { return !notebookState(app).sleepDisabled; }, 2s));

    app.send(R"({"choose":["Copy Permission Command"]})");
    ASSERT_TRUE(app.waitForKey("clipboard"));
    const std::string command = app.messages.back()["clipboard"];
    EXPECT_TRUE(command.starts_with("printf '#" + std::to_string(::getuid()) + " ALL=(root) "));
    ASSERT_TRUE(app.waitFor([](const json& m) { return isAlert(m, "Permission Command Copied"); }));
    app.send(R"({"answer":1000})");

    app.send(R"({"key":"q"})");
    ASSERT_TRUE(app.waitForKey("terminated"));
    EXPECT_EQ(app.wait(), 0);
    EXPECT_FALSE(notebookState(app).sleepDisabled);
    EXPECT_FALSE(notebookState(app).wakeSlot.has_value());
}

// A second app leaves the first alone; the end of input, or SIGTERM even while a tool hangs, then
// restores silently and soon. That a killed app's lock goes with it shows below, where each killed
// app is started again.
TEST(LineProtocol, ASecondAppLeavesTheFirstAloneAndTheEndOfInputAndSigtermRestoreSoon) {
    for (const char* how : {"end of input", "SIGTERM while a tool hangs"}) {
        SCOPED_TRACE(how);
        // Noon on the notebook, outside quiet hours: the app disables sleep and owns a wake event.
        AppProcess app("<key>quietHoursEnabled</key><true/>");
        app.control({"clock", "set", "12:00"});
        app.control({"privilege", "grant"});
        app.start();
        ASSERT_TRUE(app.waitForKey("title", "Awake"));
        ASSERT_TRUE(notebookState(app).sleepDisabled);
        if (how == std::string("end of input")) {
            ASSERT_TRUE(notebookState(app).wakeSlot.has_value());
            std::string settings;
            ASSERT_TRUE(waitUntil([&] {
                settings = readWholeFile(app.defaultsPath()).value_or("");
                return settings.find("<key>appOwnedWakeSchedule</key>") != std::string::npos;
            }));
            const TRBCommandResult second = TRBRunCommand(DORVANE_APP_BIN, {});
            EXPECT_EQ(second.status, 0) << "a login item that fails is started again";
            EXPECT_EQ(second.error, "Dorvane is already running.\n");
            EXPECT_EQ(second.output, "{\"error\":\"Dorvane is already running\"}\n");
            EXPECT_TRUE(notebookState(app).sleepDisabled);
            EXPECT_TRUE(notebookState(app).wakeSlot.has_value());
            EXPECT_EQ(readWholeFile(app.defaultsPath()), settings);
        } else {
            app.control({"fail", "pmset", "-g", "ps", "--misbehave", "hang"});
            ASSERT_EQ(notebookState(app).faults.at(0).misbehaviour, sim::Misbehaviour::Hang);
            app.control({"power", "battery"});
            std::this_thread::sleep_for(500ms);  // the refresh now waits for the hung tool
        }
        const auto asked = std::chrono::steady_clock::now();
        how == std::string("end of input") ? app.closeInput() : app.signal(SIGTERM);
        ASSERT_TRUE(app.waitForKey("terminated"));
        EXPECT_EQ(app.wait(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
        EXPECT_FALSE(notebookState(app).sleepDisabled);
        for (const json& m : app.messages) {
            EXPECT_FALSE(m.contains("alert"));
        }
    }
}

// Gone, or a zombie nobody reaps yet.
bool ended(pid_t process) {
    const auto stat = readWholeFile("/proc/" + std::to_string(process) + "/stat").value_or("");
    return stat.empty() || stat.find(") Z ") != std::string::npos;
}

// Whatever ends the app, the switch it set does not outlive it: a kill -9 leaves it to the
// guardian, a kill of both (as a power loss does) to the check run by hand. The check changes
// nothing while an app runs or on a switch nobody recorded, and after a SIGTERM that restored,
// the guardian only ends.
TEST(CrashSafety, TheSwitchTheAppSetDoesNotOutliveIt) {
    AppProcess app;
    app.control({"privilege", "grant"});
    const std::string record = app.notebook.folder() + "/sleep-switch.record";
    const auto failSafe = [] { return TRBRunCommand(DORVANE_APP_BIN, {"--fail-safe"}).output; };
    // Answers the guardian of an app that has set the switch and recorded it.
    const auto startAwake = [&] {
        app.start();
        EXPECT_TRUE(app.waitForKey("title", "Awake") && notebookState(app).sleepDisabled &&
                    std::filesystem::exists(record));
        return app.guardian();
    };

    const pid_t killedAlone = startAwake();
    ASSERT_GT(killedAlone, 0);
    for (const int logout : {SIGTERM, SIGINT, SIGHUP})
        ::kill(killedAlone, logout);
    app.signal(SIGKILL);
    app.wait();
    EXPECT_TRUE(waitUntil([&] { return !notebookState(app).sleepDisabled; }, 2s));
    EXPECT_TRUE(waitUntil([&] { return ended(killedAlone) && !std::filesystem::exists(record); }));

    const pid_t killedWithTheApp = startAwake();
    ASSERT_GT(killedWithTheApp, 0);
    ::kill(killedWithTheApp, SIGKILL);
    app.signal(SIGKILL);
    app.wait();
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(notebookState(app).sleepDisabled);
    EXPECT_THAT(failSafe(), HasSubstr("is not running; normal sleep restored.\n"));
    EXPECT_FALSE(notebookState(app).sleepDisabled);

    const pid_t guardian = startAwake();
    EXPECT_THAT(failSafe(), HasSubstr("Dorvane is running and watches the sleep switch;"));
    ASSERT_TRUE(notebookState(app).sleepDisabled);
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForKey("terminated"));
    app.wait();
    EXPECT_TRUE(waitUntil([&] { return ended(guardian); }));
    EXPECT_FALSE(notebookState(app).sleepDisabled || std::filesystem::exists(record));

    // Someone else's switch: nothing recorded it.
    const std::string tools =
        std::filesystem::path(DORVANE_APP_BIN).parent_path().parent_path() / "libexec/dorvane/";
    TRBRunCommand(tools + "sudo", {"-n", tools + "pmset", "-a", "disablesleep", "1"});
    EXPECT_THAT(failSafe(), HasSubstr("has not left the sleep switch set; nothing changed.\n"));
    EXPECT_TRUE(notebookState(app).sleepDisabled);
}

TEST(CrashSafety, AKillInTheMiddleOfAWriteLeavesWholeFilesAndNothingAfterTheNextStart) {
    AppProcess app;
    const std::string agents = app.notebook.folder() + "/home/Library/LaunchAgents";
    const std::string agent = agents + "/com.dorvane.Dorvane.plist";
    const std::string settingsFolder = std::filesystem::path(app.defaultsPath()).parent_path();
    LibplistPropertyLists plists;
    std::mt19937 random(11);
    for (int round = 0; round < 24; ++round) {
        SCOPED_TRACE(round);
        app.start();
        ASSERT_TRUE(app.waitForKey("menu"));
        // Each toggle writes the launch agent (or removes it) and the settings at once.
        for (int toggle = 0; toggle < 40; ++toggle) {
            app.send(R"({"choose":["Launch at Login"]})");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5 + random() % 60));
        app.signal(SIGKILL);
        app.wait();

        EXPECT_TRUE(plists.parse(readWholeFile(app.defaultsPath()).value_or(""), nullptr));
        EXPECT_TRUE(!std::filesystem::exists(agent) ||
                    plists.parse(readWholeFile(agent).value_or(""), nullptr));
    }
    app.start();
    ASSERT_TRUE(app.waitForKey("menu"));
    // Nothing but the files themselves: no temporary file is left.
    for (const std::string& folder : {agents, settingsFolder}) {
        for (const auto& entry : std::filesystem::directory_iterator(folder)) {
            EXPECT_EQ(entry.path().filename(), "com.dorvane.Dorvane.plist");
        }
    }
}

}  // namespace
}  // namespace dorvane
