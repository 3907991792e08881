#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

namespace keys = defaults_keys;
using testing::Run;
using namespace testing::runs;

struct App : testing::NotebookPlatform {
    bool terminated = false;
    App() { notebook.state.sleepSwitchEverSet = true; }
    void start() { controller->applicationDidFinishLaunching(); }
    // The answers to the alerts in turn, and termination running the controller's handler.
    void quitWith(const std::vector<int>& answers) {
        for (const int answer : answers) {
            test.alerts.script.push_back({answer, {}});
        }
        test.application.onTerminate = [this] {
            terminated = true;
            controller->applicationWillTerminate();
        };
    }
    long runsOf(const Run& run) const {
        return std::count(test.commands.runs.begin(), test.commands.runs.end(), run);
    }
};

TEST(StartUp, ReadsTheRunModeAndLeavesOddValuesStored) {
    const std::tuple<const char*, std::optional<DefaultsValue>, RunMode> cases[] = {
        {"nothing stored", std::nullopt, RunMode::PowerAdapter},
        {"1", std::int64_t{1}, RunMode::AlwaysAwake},
        {"2", std::int64_t{2}, RunMode::PowerAdapter},
        {"a text holding 1", std::string("1"), RunMode::AlwaysAwake},
    };
    for (const auto& [what, stored, mode] : cases) {
        SCOPED_TRACE(what);
        App app;
        if (stored) {
            app.test.defaults.values[keys::kRunMode] = *stored;
        }
        app.start();
        EXPECT_EQ(app.controller->runMode(), mode);
        EXPECT_EQ(app.test.defaults.objectForKey(keys::kRunMode), stored) << "never written back";
        EXPECT_EQ(app.test.urlSession.requests.size(), 1u) << "one silent update check";
    }
}

TEST(StartUp, QuietHoursAreSwitchedOffWithOneAlertOnlyWhenTheirWakeEventIsRefused) {
    using Stored = std::optional<DefaultsValue>;
    // Each row: run mode 1 with our event claimed and unreadable, the privilege, the write given up
    // (for a termination), switched on from the menu; then quiet hours stored and the alert's text.
    // clang-format off
    const std::tuple<const char*, bool, bool, bool, bool, Stored, const char*> cases[] = {
        {"no privilege", false, false, false, false, Stored(false), "off: error.need_pmset_permission_with_wake"},
        {"run mode 1, the claimed event cannot be cancelled", true, true, false, false, Stored(true), nullptr},
        {"the write given up at start-up", false, true, true, false, Stored(true), nullptr},
        {"the write given up when switched on from the menu", false, true, true, true, std::nullopt, nullptr},
    };
    // clang-format on
    for (const auto& [what, mode1, privilege, abandoned, fromMenu, stored, alert] : cases) {
        SCOPED_TRACE(what);
        App app;
        app.notebook.state.privilegeInstalled = privilege;
        if (mode1) {
            app.test.defaults.values[keys::kRunMode] = std::int64_t{1};
            app.test.defaults.values[keys::kWakeScheduleClaimed] = true;
            app.notebook.fail(SCHED, testing::failed(1));
        }
        if (abandoned) {
            app.notebook.fail(
                {kPaths.sudo,
                 {"-n", kPaths.pmset, "repeat", "wakeorpoweron", "MTWRFSU", "07:00:00"}},
                {128 + 9, "", "stopped", true});
        }
        if (!fromMenu) {
            app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        }
        app.start();
        if (fromMenu) {
            app.controller->setQuietHoursOn();
        }
        EXPECT_TRUE(app.test.alerts.shown.empty()) << "an alert waits until start-up has returned";
        if (alert) {
            EXPECT_EQ(app.controller->lastMessage(), "error.need_pmset_permission")
                << "the first refresh ran";
        }
        app.test.alerts.script.resize(alert ? 1 : 0);
        app.test.mainQueue.drain();
        EXPECT_EQ(app.test.defaults.objectForKey(keys::kQuietHoursEnabled), stored);
        EXPECT_EQ(app.test.application.activations, alert ? 1 : 0);
        ASSERT_EQ(app.test.alerts.shown.size(), alert ? 1u : 0u);
        if (alert) {
            EXPECT_FALSE(app.controller->quietHoursEnabled());
            EXPECT_EQ(app.test.alerts.shown[0].messageText,
                      "dialog.quiet_hours_auto_disabled.title");
            EXPECT_EQ(app.test.alerts.shown[0].informativeText, alert);
        }
    }
}

TEST(PowerEvents, SleepIsAllowedAtOnceAndBothWakeSignalsGiveTwoRefreshesWithTheEarlySwitch) {
    // On the adapter in run mode 0 each wake reads the power source afresh and sets the switch
    // before the refresh, whether or not it is on already.
    // clang-format off
    const std::tuple<const char*, sim::Power, bool, RunMode, std::vector<testing::Run>, bool> cases[] = {
        {"on the adapter", sim::Power::AC, false, RunMode::PowerAdapter, {PS, ON, PS, G, IO, PS, ON, PS, G, IO}, false},
        {"on battery", sim::Power::Battery, false, RunMode::PowerAdapter, {PS, PS, G, IO, PS, PS, G, IO}, false},
        {"inside quiet hours", sim::Power::AC, true, RunMode::PowerAdapter, {PS, G, IO, PS, G, IO}, false},
        {"always awake", sim::Power::AC, false, RunMode::AlwaysAwake, {PS, G, IO, PS, G, IO}, false},
        {"too hot: not kept awake before a reading", sim::Power::AC, false, RunMode::PowerAdapter, {PS, G, IO, OFF, G, PS, G, IO}, true},
    };
    // clang-format on
    for (const auto& [what, source, insideQuietHours, mode, runs, hot] : cases) {
        SCOPED_TRACE(what);
        App app;
        app.test.defaults.values[keys::kRunMode] = static_cast<std::int64_t>(mode);
        app.start();
        app.notebook.state.power = source;
        app.controller->setQuietHoursEnabled(insideQuietHours);
        app.controller->setQuietHoursStart("00:00");
        app.controller->setQuietHoursEnd("23:59");
        app.controller->setWasEffectiveQuietHours(insideQuietHours);
        app.controller->setThermalGuardHeld(hot);
        app.test.processInfo.thermal = hot ? ThermalState::Critical : ThermalState::Nominal;
        app.notebook.state.sleepDisabled = source == sim::Power::AC && !insideQuietHours;

        app.test.commands.runs.clear();
        // Sleep is allowed inside the callback, each message with its own number, and nothing
        // runs before it; other messages are not answered.
        auto& power = app.test.powerManagement;
        for (const std::uint32_t message :
             {kIOMessageSystemWillSleep, kIOMessageCanSystemSleep, 0xE0000100u}) {
            power.systemPowerCallback(power.systemPowerRefCon, 0, message,
                                      reinterpret_cast<void*>(std::intptr_t{message}));
        }
        EXPECT_EQ(power.allowed,
                  (std::vector<std::pair<std::uint32_t, std::intptr_t>>{
                      {42, kIOMessageSystemWillSleep}, {42, kIOMessageCanSystemSleep}}));
        EXPECT_TRUE(app.test.mainQueue.pending.empty());
        app.test.mainQueue.alertOpen = true;  // a wake is acted on while an alert is open
        app.test.workspace.observers.begin()->second();
        power.systemPowerCallback(power.systemPowerRefCon, 0, kIOMessageSystemHasPoweredOn,
                                  nullptr);
        app.test.mainQueue.drain();
        EXPECT_EQ(app.test.commands.runs, runs);
    }
}

TEST(PowerEvents, PowerChangesFoldIntoOneRefreshThatRunsWhileAnAlertIsOpen) {
    App app;
    app.start();
    app.test.mainQueue.drain();
    app.test.commands.runs.clear();
    // A change that lands while its refresh runs gives one more refresh.
    app.test.commands.handler = [&, answer = app.test.commands.handler,
                                 first = true](const testing::Run& run) mutable {
        if (run == PS && std::exchange(first, false)) {
            TRBPowerSourceChanged(app.controller.get());
        }
        return answer(run);
    };
    app.test.mainQueue.alertOpen = true;
    for (int change = 0; change < 3; ++change) {
        TRBPowerSourceChanged(app.controller.get());
    }
    app.test.mainQueue.drain();
    EXPECT_EQ(app.test.commands.runs, (std::vector<testing::Run>{PS, G, IO, PS, G, IO}));
}

TEST(ShutDown, ReleasesEverythingAndRestoresSilentlyUnlessQuitting) {
    // Each row: whether the quit command ran, whether start-up could make its event sources.
    const std::tuple<const char*, bool, bool> cases[] = {
        {"the system ends the app", false, true},
        {"after the quit command", true, true},
        {"without event sources, which start-up goes on without", false, false},
    };
    for (const auto& [what, quitting, sources] : cases) {
        SCOPED_TRACE(what);
        App app;
        app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        app.test.powerManagement.failEventSources = !sources;
        app.start();
        ASSERT_TRUE(app.notebook.state.wakeSlot.has_value());
        app.controller->setVersionCheckTimer(app.test.mainQueue.startTimer({}, [] {}));
        app.controller->setIsQuitting(quitting);
        app.controller->applicationWillTerminate();
        EXPECT_EQ(app.notebook.state.sleepDisabled, quitting);
        EXPECT_EQ(app.controller->powerSourceRunLoopSource(), nullptr);
        EXPECT_EQ(app.controller->powerNotificationRootPort(), 0u);
        EXPECT_EQ(app.controller->powerNotificationPort(), nullptr);
        EXPECT_EQ(app.controller->quietHoursTimer(), nullptr);
        EXPECT_EQ(app.controller->versionCheckTimer(), nullptr);
        EXPECT_EQ(app.notebook.state.wakeSlot.has_value(), quitting);
        if (!sources) {
            EXPECT_EQ(app.test.powerManagement.calls, 2) << "the two attempts, nothing to release";
        }
    }
}

TEST(RestoreAndQuit, EveryBranch) {
    // Each row: the privilege, the app's wake event, the answers given, whether the privilege
    // arrives before the retry; then the alerts shown, termination, the switch restored.
    // clang-format off
    const std::tuple<const char*, bool, bool, std::vector<int>, bool, std::vector<std::string>, bool, bool> cases[] = {
        {"privilege present, event owned", true, true, {}, false, {}, true, true},
        {"privilege missing, copy chosen", false, true, {1000}, false, {"error.restore_normal_sleep_failed", "dialog.permission_copied.title"}, false, false},
        {"privilege missing, retry fails", false, false, {1001}, false, {"error.restore_normal_sleep_failed", "error.restore_normal_sleep_failed"}, false, false},
        {"privilege missing, retry works", false, false, {1001}, true, {"error.restore_normal_sleep_failed"}, true, true},
        {"quit anyway, nothing owned", false, false, {1002}, false, {"error.restore_normal_sleep_failed"}, true, false},
        {"quit anyway, event owned: the partial alert, then quit anyway", false, true, {1002, 1001}, false, {"error.restore_normal_sleep_failed", "dialog.quiet_hours_off_partial.title"}, true, false},
        {"quit anyway, event owned: the partial alert, then copy", false, true, {1002, 1000}, false, {"error.restore_normal_sleep_failed", "dialog.quiet_hours_off_partial.title", "dialog.permission_copied.title"}, false, false},
    };
    // clang-format on
    for (const auto& [what, granted, owned, answers, lateGrant, alerts, ended, restored] : cases) {
        SCOPED_TRACE(what);
        App app;
        if (owned) {
            app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        }
        app.start();
        app.notebook.state.sleepDisabled = true;
        app.notebook.state.privilegeInstalled = granted;
        app.quitWith(answers);
        app.test.alerts.script.resize(alerts.size());  // the messages' one button
        if (lateGrant) {
            app.test.alerts.whileOpen = [&] { app.notebook.state.privilegeInstalled = true; };
        }
        app.controller->restoreAndQuit();

        std::vector<std::string> titles;
        for (const Alert& alert : app.test.alerts.shown) {
            titles.push_back(alert.messageText);
        }
        EXPECT_EQ(titles, alerts);
        EXPECT_EQ(app.terminated, ended);
        EXPECT_EQ(std::count(alerts.begin(), alerts.end(), "dialog.permission_copied.title"),
                  static_cast<std::ptrdiff_t>(app.test.pasteboard.contents.size()));
        EXPECT_EQ(!app.notebook.state.sleepDisabled, restored);
        if (ended) {
            EXPECT_EQ(app.controller->quietHoursTimer(), nullptr);
            EXPECT_EQ(app.runsOf(OFF), lateGrant ? 2 : 1)
                << "the termination handler does not restore a second time";
        }
    }
}

TEST(RestoreAndQuit, NothingSetsTheSwitchAgainOnceQuitIsChosen) {
    enum class Arrives { PowerChange, Wake, Timer };
    // Each row: what arrives while the alert is open; whether the alert is the restore failure
    // (the privilege granted meanwhile) or the partial one (our event replaced by somebody's);
    // the answers; then whether the app ended, and the switch after one more refresh.
    // clang-format off
    const std::tuple<const char*, Arrives, bool, std::vector<int>, bool, bool> cases[] = {
        {"a charge change under the partial alert, then Quit Anyway", Arrives::PowerChange, true, {1001}, true, false},
        {"a wake under the partial alert, then Quit Anyway", Arrives::Wake, true, {1001}, true, false},
        {"the timer under the partial alert, then Quit Anyway", Arrives::Timer, true, {1001}, true, false},
        {"a wake under the restore failure, then Quit Anyway", Arrives::Wake, false, {1002}, true, false},
        {"the quit given up at the partial alert: the run mode is back", Arrives::PowerChange, true, {1000, 1000}, false, true},
    };
    // clang-format on
    for (const auto& [what, arrives, partial, answers, ended, awakeAfter] : cases) {
        SCOPED_TRACE(what);
        App app;
        app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        app.start();
        ASSERT_TRUE(app.notebook.state.sleepDisabled);
        if (partial) {
            app.notebook.state.wakeSlot = sim::RepeatEvent{"wake", "MTWRF", "08:15:00"};
        } else {
            app.notebook.state.privilegeInstalled = false;
        }
        app.quitWith(answers);
        app.test.alerts.whileOpen = [&, arrives = arrives] {
            app.notebook.state.privilegeInstalled = true;
            app.test.mainQueue.alertOpen = true;
            if (arrives == Arrives::PowerChange) {
                TRBPowerSourceChanged(app.controller.get());
            } else if (arrives == Arrives::Wake) {
                app.test.workspace.observers.begin()->second();
            }
            app.test.mainQueue.advance(arrives == Arrives::Timer ? std::chrono::minutes(30)
                                                                 : std::chrono::seconds(0));
            app.test.mainQueue.drain();
            app.test.mainQueue.alertOpen = false;
        };
        app.test.commands.runs.clear();
        app.controller->restoreAndQuit();
        EXPECT_EQ(app.terminated, ended);
        if (ended) {
            EXPECT_EQ(app.runsOf(ON), 0);
        } else {
            app.test.alerts.whileOpen = nullptr;
            app.controller->refreshWithApplyChange(true);
        }
        EXPECT_EQ(app.notebook.state.sleepDisabled, awakeAfter);
    }
}

TEST(RestoreAndQuit, AToolThatReportsSuccessButLeavesTheSwitchSetHasNotRestored) {
    for (const bool fromTheMenu : {true, false}) {
        SCOPED_TRACE(fromTheMenu ? "Quit, Retry" : "termination by the system");
        const testing::TempFolder folder;
        App app;
        app.test.processInfo.home = folder.path;
        app.test.switchRecordPath = folder.path + "/record";
        app.controller = app.test.makeController();
        app.start();
        app.notebook.fail(OFF, testing::succeeded());
        app.quitWith({1001, 1000});
        app.test.commands.runs.clear();
        if (fromTheMenu) {
            app.controller->restoreAndQuit();
            ASSERT_EQ(app.test.alerts.shown.size(), 2u);
            EXPECT_EQ(app.test.alerts.shown[0].messageText, "error.restore_normal_sleep_failed");
            EXPECT_EQ(app.test.alerts.shown[0].informativeText, "error.sleep_switch_unchanged");
            EXPECT_EQ(app.test.alerts.shown[1].informativeText, "error.sleep_switch_unchanged");
        } else {
            app.controller->applicationWillTerminate();
            EXPECT_EQ(app.test.application.diagnostics,
                      std::vector<std::string>{"Dorvane could not restore normal sleep at "
                                               "termination: error.sleep_switch_unchanged"});
        }
        EXPECT_FALSE(app.terminated);
        EXPECT_EQ(app.runsOf(OFF), 2) << "one more try, each read back";
        EXPECT_TRUE(app.notebook.state.sleepDisabled);
        EXPECT_TRUE(std::filesystem::exists(app.test.switchRecordPath)) << "left to the guardian";
    }
}

}  // namespace
}  // namespace dorvane
