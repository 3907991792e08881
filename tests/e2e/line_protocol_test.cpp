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

// One working day of the app, through the line protocol, on the real program and notebook.
TEST(LineProtocol, SleepsUnpluggedSetsQuietHoursAndQuitsRestoring) {
    // A home like the runner's own, holding what looks like the app's leftover: the app has a home
    // of its own, so the file survives the whole day.
    const testing::TempFolder runnersHome;
    const std::string planted =
        runnersHome.path +
        "/Library/LaunchAgents/.com.dorvane.Dorvane.plist.dorvane-partial-XXXXXX";
    std::filesystem::create_directories(std::filesystem::path(planted).parent_path());
    ASSERT_TRUE(writeFileAtomically(planted, "mine"));
    ::setenv("HOME", runnersHome.path.c_str(), 1);
    AppProcess app;
    app.start();
    ASSERT_TRUE(app.waitForKey("main_menu"));
    ASSERT_TRUE(app.waitForKey("title", "Dorvane")) << "the placeholder first";
    ASSERT_TRUE(app.waitForKey("title", "Awake"));
    EXPECT_TRUE(app.state().sleepDisabled);

    // Unplugged with the lid closed while a dialog waits for an answer: within a second the
    // switch is cleared and the sleep request acknowledged, and the dialog stays open.
    app.send(R"({"choose":["Quiet Hours","Set Quiet Hours…"]})");
    ASSERT_TRUE(app.waitForAlert("Quiet Hours"));
    EXPECT_EQ(app.messages.back()["alert"]["fields"][0]["text"], "00:00");
    app.control({"lid", "closed"});
    app.control({"power", "battery"});
    EXPECT_TRUE(waitUntil([&] { return app.state().asleep; }, 1s));
    EXPECT_FALSE(app.state().sleepDisabled);
    ASSERT_TRUE(app.waitForKey("title", "Normal"));
    app.control({"wake"});
    app.control({"lid", "open"});
    app.control({"power", "ac"});
    ASSERT_TRUE(app.waitForKey("title", "Awake"));
    app.send(R"({"answer":1000,"fields":["22:00","6:00"]})");
    ASSERT_TRUE(app.waitFor([](const json& m) {
        return m.contains("menu") && m["menu"][10]["submenu"][1]["checked"] == true;
    }));
    EXPECT_EQ(app.state().wakeSlot.value_or(sim::RepeatEvent{}).time, "06:00:00");

    // Always awake it stays awake unplugged, until a change of the charge alone reaches the floor.
    app.send(R"({"choose":["Always Awake"]})");
    ASSERT_TRUE(app.waitForMenuRow(1, "Mode: Always Awake"));
    app.control({"power", "battery"});
    ASSERT_TRUE(app.waitForMenuRow(2, "Power: Battery (100%)"));
    ASSERT_TRUE(app.state().sleepDisabled);
    app.control({"power", "battery", "10"});
    EXPECT_TRUE(waitUntil([&] { return !app.state().sleepDisabled; }, 2s));

    app.send(R"({"choose":["Copy Permission Command"]})");
    ASSERT_TRUE(app.waitForKey("clipboard"));
    const std::string command = app.messages.back()["clipboard"];
    EXPECT_TRUE(command.starts_with("printf '#" + std::to_string(::getuid()) + " ALL=(root) "));
    ASSERT_TRUE(app.waitForAlert("Permission Command Copied"));
    app.send(R"({"answer":1000})");

    app.send(R"({"key":"q"})");
    ASSERT_TRUE(app.waitForKey("terminated"));
    EXPECT_EQ(app.wait(), 0);
    EXPECT_FALSE(app.state().sleepDisabled);
    EXPECT_FALSE(app.state().wakeSlot.has_value());
    EXPECT_EQ(readWholeFile(planted), "mine");
}

// A second app leaves the first alone; the end of input, or SIGTERM even while a tool hangs, then
// restores silently and soon. That a killed app's lock goes with it shows below, where each killed
// app is started again.
TEST(LineProtocol, ASecondAppLeavesTheFirstAloneAndTheEndOfInputAndSigtermRestoreSoon) {
    for (const char* how : {"end of input", "SIGTERM while a tool hangs"}) {
        SCOPED_TRACE(how);
        // Noon on the notebook, outside quiet hours: the app disables sleep and owns a wake event.
        AppProcess app("<key>quietHoursEnabled</key><true/>");
        ASSERT_TRUE(app.startAwake("12:00"));
        ASSERT_TRUE(app.state().sleepDisabled);
        if (how == std::string("end of input")) {
            ASSERT_TRUE(app.state().wakeSlot.has_value());
            std::string settings;
            ASSERT_TRUE(waitUntil([&] {
                settings = readWholeFile(app.defaultsPath()).value_or("");
                return settings.find("<key>appOwnedWakeSchedule</key>") != std::string::npos;
            }));
            const TRBCommandResult second = TRBRunCommand(DORVANE_APP_BIN, {});
            EXPECT_EQ(second.status, 0) << "a login item that fails is started again";
            EXPECT_EQ(second.error, "Dorvane is already running.\n");
            EXPECT_EQ(second.output, "{\"error\":\"Dorvane is already running\"}\n");
            EXPECT_TRUE(app.state().sleepDisabled);
            EXPECT_TRUE(app.state().wakeSlot.has_value());
            EXPECT_EQ(readWholeFile(app.defaultsPath()), settings);
        } else {
            app.control({"fail", "pmset", "-g", "ps", "--misbehave", "hang"});
            ASSERT_EQ(app.state().faults.at(0).misbehaviour, sim::Misbehaviour::Hang);
            app.control({"power", "battery"});
            ASSERT_TRUE(waitUntil([&] { return app.childRunning("/pmset -g ps"); }))
                << "the refresh waits for the hung tool";
        }
        const auto asked = std::chrono::steady_clock::now();
        how == std::string("end of input") ? app.closeInput() : app.signal(SIGTERM);
        ASSERT_TRUE(app.waitForKey("terminated"));
        EXPECT_EQ(app.wait(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
        EXPECT_FALSE(app.state().sleepDisabled);
        for (const json& m : app.messages) {
            EXPECT_FALSE(m.contains("alert"));
        }
    }
}

// What arrives under the quit's alerts, under an unanswered question, at the start of quiet hours
// or at the floor never leaves the notebook awake unwatched, nor asleep with no way back.
TEST(LineProtocol, TheMachineStaysSafeUnderAlertsOddToolsAndOddSettings) {
    {
        SCOPED_TRACE("a charge change under the quit's partial alert sets nothing");
        AppProcess app("<key>quietHoursEnabled</key><true/>");
        ASSERT_TRUE(app.startAwake("12:00"));
        app.control({"repeat", "set", "wake", "MTWRF", "08:15:00"});
        app.send(R"({"key":"q"})");
        ASSERT_TRUE(app.waitForAlert("Wake Event Not Removed"));
        app.control({"power", "ac", "99"});
        ASSERT_TRUE(app.waitForKey("menu"));
        EXPECT_FALSE(app.state().sleepDisabled);
        app.send(R"({"answer":1001})");
        ASSERT_TRUE(app.waitForKey("terminated"));
        EXPECT_EQ(app.wait(), 0);
        EXPECT_FALSE(app.state().sleepDisabled);
    }
    {
        SCOPED_TRACE("a restore that reports success and changes nothing is a failed one");
        AppProcess app;
        ASSERT_TRUE(app.startAwake());
        app.control({"fail", "pmset", "-a", "disablesleep", "0", "--status", "0"});
        app.send(R"({"key":"q"})");
        ASSERT_TRUE(app.waitForAlert("Could not restore normal sleep."));
        EXPECT_NE(app.messages.back()["alert"]["body"].get<std::string>().find("did not change"),
                  std::string::npos);
        app.send(R"({"answer":1000})");
        ASSERT_TRUE(app.waitForAlert("Permission Command Copied"));
        app.send(R"({"answer":1000})");
        app.control({"unfail", "pmset", "-a", "disablesleep", "0"});
        app.send(R"({"key":"q"})");
        ASSERT_TRUE(app.waitForKey("terminated"));
        EXPECT_FALSE(app.state().sleepDisabled);
    }
    {
        SCOPED_TRACE("quiet hours the user has not confirmed sleep nothing");
        AppProcess app;
        app.control({"repeat", "set", "wake", "MTWRF", "08:15:00"});
        ASSERT_TRUE(app.startAwake("23:00"));
        app.send(R"({"choose":["Quiet Hours","Set Quiet Hours…"]})");
        ASSERT_TRUE(app.waitForAlert("Quiet Hours"));
        app.send(R"({"answer":1000,"fields":["22:00","06:00"]})");
        ASSERT_TRUE(app.waitForAlert("Replace the Existing Wake Schedule?"));
        app.control({"power", "ac", "99"});
        ASSERT_TRUE(app.waitForKey("menu"));
        app.send(R"({"answer":1001})");
        ASSERT_TRUE(app.waitForAlert("Quiet Hours Switched Off"));
        EXPECT_FALSE(app.state().asleep);
        EXPECT_TRUE(app.state().sleepDisabled);
    }
    {
        SCOPED_TRACE("quiet hours with only a sleep event keep the machine as outside them");
        AppProcess app("<key>quietHoursEnabled</key><true/>");
        ASSERT_TRUE(app.startAwake("12:00"));
        app.control({"repeat", "clear"});
        app.control({"repeat", "set", "sleep", "MTWRFSU", "23:30:00"});
        app.control({"clock", "set", "01:00"});
        app.control({"power", "ac", "99"});
        ASSERT_TRUE(app.waitFor([](const json& m) {
            return m.contains("menu") &&
                   m["menu"].dump().find("does not wake") != std::string::npos;
        }));
        EXPECT_FALSE(app.state().asleep);
        EXPECT_TRUE(app.state().sleepDisabled);
        EXPECT_FALSE(app.state().wakeSlot.has_value()) << "somebody else's is kept";
    }
    {
        SCOPED_TRACE("the floor holds through unreadable power readings and reads a boolean as 10");
        AppProcess app(
            "<key>runMode</key><integer>1</integer>"
            "<key>batteryFloorPercent</key><false/>");
        app.control({"power", "battery", "10"});
        app.start();
        ASSERT_TRUE(app.waitForKey("title", "Normal"));
        EXPECT_FALSE(app.state().sleepDisabled);
        app.control({"fail", "pmset", "-g", "ps"});
        app.control({"power", "battery", "9"});
        ASSERT_TRUE(app.waitForKey("menu"));
        app.control({"garble", "pmset", "-g", "ps", "Now drawing from 'Battery Power'\n"});
        app.control({"power", "battery", "8"});
        ASSERT_TRUE(app.waitForKey("menu"));
        EXPECT_FALSE(app.state().sleepDisabled);
    }
    {
        SCOPED_TRACE("a wake event write given up for SIGTERM stores nothing");
        AppProcess app("<key>quietHoursEnabled</key><true/>");
        app.control({"clock", "set", "12:00"});
        app.control({"fail", "pmset", "repeat", "wakeorpoweron", "MTWRFSU", "07:00:00",
                     "--misbehave", "hang"});
        app.start();
        ASSERT_TRUE(waitUntil([&] {
            return app.childRunning("/pmset repeat wakeorpoweron MTWRFSU 07:00:00");
        })) << "the start-up waits for the hung tool";
        app.signal(SIGTERM);
        ASSERT_TRUE(app.waitForKey("terminated"));
        EXPECT_EQ(app.wait(), 0);
        LibplistPropertyLists plists;
        const auto settings = plists.parse(readWholeFile(app.defaultsPath()).value_or(""), nullptr);
        ASSERT_TRUE(settings.has_value());
        EXPECT_EQ(std::get<PlistDictionary>(settings->value).at("quietHoursEnabled"),
                  PlistValue{true});
    }
}

// Output nobody reads holds up neither the sleep policy nor a termination, on either front end.
TEST(FrontEnds, OutputNobodyReadsHoldsUpNeitherThePolicyNorSigterm) {
    for (const auto output : {AppProcess::Output::UnreadPipe, AppProcess::Output::UnreadTerminal}) {
        SCOPED_TRACE(output == AppProcess::Output::UnreadPipe ? "lines" : "full screen");
        AppProcess app;
        app.start(output);
        ASSERT_TRUE(waitUntil([&] { return app.state().sleepDisabled; }));
        if (output == AppProcess::Output::UnreadTerminal) {
            app.fillTerminal();
            app.send("");  // Enter: the menu opens on a terminal that takes nothing more
        } else {
            for (int line = 0; line < 300; ++line) {
                app.send("{}");  // each answered with an error line: more than the pipe takes
            }
        }
        app.control({"lid", "closed"});
        app.control({"power", "battery"});
        ASSERT_TRUE(waitUntil([&] { return app.state().asleep; }, 2s));
        app.control({"wake"});
        app.control({"power", "ac"});
        ASSERT_TRUE(waitUntil([&] { return app.state().sleepDisabled; }, 2s));
        const auto asked = std::chrono::steady_clock::now();
        app.signal(SIGTERM);
        ASSERT_TRUE(waitUntil([&] { return !app.state().sleepDisabled; }, 3s));
        EXPECT_EQ(app.wait(), 0);
        EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s);
    }
}

// Quiet hours switched on while the settings folder refuses new files (a full disk, a read-only
// home): the status row says so, and the change lands, through the link the settings file is,
// once the folder takes files again. Then an editor saves its older copy over the file: the claim
// on the wake event is written back at the next refresh, and the event removed at quit.
TEST(Settings, AChangeThatCannotBeSavedLandsLaterAndTheWakeEventOutlivesAnOlderCopy) {
    AppProcess app;
    const std::string dotfiles = app.notebook.folder() + "/dotfiles";
    std::filesystem::create_directory(dotfiles);
    std::filesystem::rename(app.defaultsPath(), dotfiles + "/dorvane.plist");
    std::filesystem::create_symlink("../../dotfiles/dorvane.plist", app.defaultsPath());
    ASSERT_TRUE(app.startAwake("12:00"));
    const std::string older = readWholeFile(app.defaultsPath()).value_or("");
    std::optional<testing::RefusingFolder> refusing(std::in_place, dotfiles);
    app.send(R"({"choose":["Quiet Hours",1]})");
    ASSERT_TRUE(app.waitForMenuRow(5, "Status: Settings cannot be saved; Dorvane keeps trying."));
    EXPECT_TRUE(app.state().wakeSlot.has_value());
    refusing.reset();
    ASSERT_TRUE(app.waitForMenuRow(
        5, "Status: On the power adapter: staying awake, even with the lid closed."));
    const auto saved = [&] { return readWholeFile(app.defaultsPath()).value_or(""); };
    EXPECT_NE(saved().find("<key>quietHoursEnabled</key>\n\t<true/>"), std::string::npos);
    EXPECT_NE(saved().find("<key>appOwnedWakeSchedule</key>"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(app.defaultsPath()));

    ASSERT_TRUE(writeFileAtomically(dotfiles + "/dorvane.plist", older));
    app.send(R"({"choose":["Refresh Now"]})");
    EXPECT_TRUE(waitUntil(
        [&] { return saved().find("<key>appOwnedWakeSchedule</key>") != std::string::npos; }));
    // Saved over once more, right before the quit, which refreshes nothing.
    ASSERT_TRUE(writeFileAtomically(dotfiles + "/dorvane.plist", older));
    app.send(R"({"key":"q"})");
    ASSERT_TRUE(app.waitForKey("terminated"));
    EXPECT_FALSE(app.state().wakeSlot.has_value());
}

// Gone, or a zombie nobody reaps yet.
bool ended(pid_t process) {
    const auto stat = readWholeFile("/proc/" + std::to_string(process) + "/stat").value_or("");
    return stat.empty() || stat.find(") Z ") != std::string::npos;
}

// Hot, the notebook sleeps even on the adapter, and cool again it is kept awake; kept awake on
// battery behind a closed lid, its panel goes dark once; a switch cleared behind the app's back
// is set again at the next display change, and the status row says so.
TEST(LineProtocol, AHotNotebookSleepsAClosedOneGoesDarkAndAChangedSwitchIsSetAgain) {
    AppProcess app("<key>runMode</key><integer>1</integer>");
    app.control({"lid", "closed"});
    ASSERT_TRUE(app.startAwake());
    app.control({"thermal", "critical"});
    EXPECT_TRUE(waitUntil([&] { return app.state().asleep; }, 2s));
    EXPECT_FALSE(app.state().sleepDisabled);
    app.control({"thermal", "fair"});
    app.control({"wake"});
    EXPECT_TRUE(waitUntil([&] { return app.state().sleepDisabled; }, 2s));

    app.control({"power", "battery"});
    EXPECT_TRUE(waitUntil([&] { return app.state().events.back().kind == "display-sleep"; }, 2s));

    app.setSwitchBehindTheAppsBack(false);
    app.control({"display", "external"});
    EXPECT_TRUE(app.waitFor([](const json& m) {
        return m.dump().find("changed outside Dorvane") != std::string::npos;
    }));
    EXPECT_TRUE(app.state().sleepDisabled);
}

// Whatever ends the app, the switch it set does not outlive it: a kill -9 leaves it to the
// guardian, a kill of both (as a power loss does) to the check run by hand. The check changes
// nothing while an app runs or on a switch nobody recorded, and after a SIGTERM that restored,
// the guardian only ends.
TEST(CrashSafety, TheSwitchTheAppSetDoesNotOutliveIt) {
    AppProcess app;
    const std::string record = app.notebook.folder() + "/sleep-switch.record";
    const auto failSafe = [] { return TRBRunCommand(DORVANE_APP_BIN, {"--fail-safe"}).output; };
    // Answers the guardian of an app that has set the switch and recorded it.
    const auto startAwake = [&] {
        EXPECT_TRUE(app.startAwake() && app.state().sleepDisabled &&
                    std::filesystem::exists(record));
        return app.guardian();
    };

    const pid_t killedAlone = startAwake();
    ASSERT_GT(killedAlone, 0);
    for (const int logout : {SIGTERM, SIGINT, SIGHUP})
        ::kill(killedAlone, logout);
    app.signal(SIGKILL);
    app.wait();
    EXPECT_TRUE(waitUntil([&] { return !app.state().sleepDisabled; }, 2s));
    EXPECT_TRUE(waitUntil([&] { return ended(killedAlone) && !std::filesystem::exists(record); }));

    const pid_t killedWithTheApp = startAwake();
    ASSERT_GT(killedWithTheApp, 0);
    ::kill(killedWithTheApp, SIGKILL);
    app.signal(SIGKILL);
    app.wait();
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(app.state().sleepDisabled);
    EXPECT_THAT(failSafe(), HasSubstr("is not running; normal sleep restored.\n"));
    EXPECT_FALSE(app.state().sleepDisabled);

    const pid_t guardian = startAwake();
    EXPECT_THAT(failSafe(), HasSubstr("Dorvane is running and watches the sleep switch;"));
    ASSERT_TRUE(app.state().sleepDisabled);
    app.signal(SIGTERM);
    ASSERT_TRUE(app.waitForKey("terminated"));
    app.wait();
    EXPECT_TRUE(waitUntil([&] { return ended(guardian); }));
    EXPECT_FALSE(app.state().sleepDisabled || std::filesystem::exists(record));

    // Someone else's switch: nothing recorded it.
    app.setSwitchBehindTheAppsBack(true);
    EXPECT_THAT(failSafe(), HasSubstr("has not left the sleep switch set; nothing changed.\n"));
    EXPECT_TRUE(app.state().sleepDisabled);
}

TEST(CrashSafety, AKillInTheMiddleOfAWriteLeavesWholeFilesAndNothingAfterTheNextStart) {
    AppProcess app;
    const std::string agents = app.home() + "/Library/LaunchAgents";
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
            EXPECT_THAT(entry.path().filename().string(),
                        ::testing::AnyOf("com.dorvane.Dorvane.plist",
                                         "com.dorvane.Dorvane.fail-safe.plist"));
        }
    }
}

}  // namespace
}  // namespace dorvane
