#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

namespace keys = defaults_keys;
using testing::Journal;

const char* const kPs = "run /usr/bin/pmset -g ps";
const char* const kSettings = "run /usr/bin/pmset -g";
const char* const kLid = "run /usr/sbin/ioreg -r -k AppleClamshellState -d 4";
const char* const kOn = "run /usr/bin/sudo -n /usr/bin/pmset -a disablesleep 1";
const char* const kOff = "run /usr/bin/sudo -n /usr/bin/pmset -a disablesleep 0";
const char* const kSched = "run /usr/bin/pmset -g sched";
const char* const kCancel = "run /usr/bin/sudo -n /usr/bin/pmset repeat cancel";

struct App {
    testing::TestPlatform test;
    testing::FakeNotebook notebook{test.commands, ToolPaths{}};
    std::shared_ptr<TRBController> controller = test.makeController();

    App() {
        notebook.state.privilegeInstalled = true;
        notebook.state.sleepSwitchEverSet = true;
        test.bundle.texts["dialog.quiet_hours_auto_disabled.body_format"] = "off: %@";
        test.bundle.texts["dialog.quiet_hours_off_partial.body_format"] = "left: %@";
    }
    void start() { controller->applicationDidFinishLaunching(); }
    // Everything recorded from the given entry on.
    Journal journalFrom(std::size_t start) const {
        return Journal(test.journal.begin() + static_cast<long>(start), test.journal.end());
    }
};

TEST(StartUp, EndsWithARefreshThatAppliesThePolicyAndOneSilentUpdateCheck) {
    App app;
    app.start();
    EXPECT_EQ(app.test.urlSession.requests.size(), 1u);
    EXPECT_EQ(app.test.statusBar.lastCreated->title, "status.awake");
    EXPECT_EQ(app.controller->lastMessage(), "status.applied_power_adapter");
    EXPECT_TRUE(app.test.mainQueue.pending.empty()) << "no alert to show";
}

TEST(StartUp, TheStatusItemShowsThePlaceholderUntilTheFirstRefresh) {
    App app;
    std::string titleAtFirstRun;
    app.test.commands.handler = [&, inner = app.test.commands.handler](const testing::Run& run) {
        if (titleAtFirstRun.empty()) {
            titleAtFirstRun = app.test.statusBar.lastCreated->title;
        }
        return inner(run);
    };
    app.start();
    EXPECT_EQ(titleAtFirstRun, "status.placeholder");
}

TEST(StartUp, ReadsTheRunModeAndLeavesOddValuesStored) {
    struct Case {
        const char* what;
        std::optional<DefaultsValue> stored;
        RunMode mode;
    };
    const Case cases[] = {
        {"nothing stored", std::nullopt, RunMode::PowerAdapter},
        {"1", std::int64_t{1}, RunMode::AlwaysAwake},
        {"0", std::int64_t{0}, RunMode::PowerAdapter},
        {"2", std::int64_t{2}, RunMode::PowerAdapter},
        {"5", std::int64_t{5}, RunMode::PowerAdapter},
        {"-1", std::int64_t{-1}, RunMode::PowerAdapter},
        {"a text holding 1", std::string("1"), RunMode::AlwaysAwake},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        if (c.stored) {
            app.test.defaults.values[keys::kRunMode] = *c.stored;
        }
        app.start();
        EXPECT_EQ(app.controller->runMode(), c.mode);
        EXPECT_EQ(app.test.defaults.objectForKey(keys::kRunMode), c.stored) << "never written back";
    }
}

TEST(StartUp, QuietHoursThatCannotGetTheirWakeEventAreSwitchedOffWithOneAlert) {
    App app;
    app.notebook.state.privilegeInstalled = false;
    app.test.defaults.values[keys::kQuietHoursEnabled] = true;
    app.start();
    EXPECT_FALSE(app.controller->quietHoursEnabled());
    EXPECT_FALSE(boolForKey(app.test.defaults, keys::kQuietHoursEnabled)) << "saved so";
    EXPECT_TRUE(app.test.alerts.shown.empty()) << "the alert waits until start-up has returned";
    EXPECT_EQ(app.controller->lastMessage(), "error.need_pmset_permission")
        << "the first refresh ran";
    const std::size_t before = app.test.journal.size();
    app.test.mainQueue.drain();
    EXPECT_EQ(app.journalFrom(before),
              (Journal{"activate", "alert dialog.quiet_hours_auto_disabled.title"}));
    EXPECT_EQ(app.test.alerts.shown[0].informativeText,
              "off: error.need_pmset_permission_with_wake");
}

TEST(StartUp, InModeOneAFailedSyncOnlyShowsInTheMenu) {
    App app;
    app.controller->setQuietHoursEnabled(true);
    app.controller->setQuietHoursEnd("07:00");
    ASSERT_TRUE(app.controller->syncRepeatWakeSchedule());  // an event owned from an earlier run
    app.notebook.state.privilegeInstalled = false;
    app.test.defaults.values[keys::kRunMode] = std::int64_t{1};
    app.test.defaults.values[keys::kQuietHoursEnabled] = true;
    app.controller = app.test.makeController();
    app.start();
    app.test.mainQueue.drain();
    EXPECT_TRUE(app.test.alerts.shown.empty());
    EXPECT_TRUE(app.controller->quietHoursEnabled());
    EXPECT_EQ(app.controller->wakeScheduleError(), "error.need_pmset_permission_with_wake");
}

TEST(StartUp, GoesOnWithoutEventSourcesThatCannotBeMade) {
    App app;
    app.test.powerManagement.failPowerSource = true;
    app.test.powerManagement.failSystemPower = true;
    app.start();
    EXPECT_EQ(app.controller->powerSourceRunLoopSource(), nullptr);
    EXPECT_EQ(app.controller->powerNotificationRootPort(), 0u);
    EXPECT_EQ(app.test.powerManagement.calls,
              (std::vector<std::string>{"IOPSNotificationCreateRunLoopSource",
                                        "IORegisterForSystemPower"}));
    app.controller->applicationWillTerminate();
    EXPECT_EQ(app.test.powerManagement.calls.size(), 2u) << "nothing to release";
}

TEST(PowerEvents, APowerSourceChangeQueuesAFullRefresh) {
    App app;
    app.start();
    const std::size_t before = app.test.commands.runs.size();
    app.test.powerManagement.powerSourceCallback(app.test.powerManagement.powerSourceContext);
    EXPECT_EQ(app.test.commands.runs.size(), before) << "nothing runs inside the callback";
    app.test.mainQueue.drain();
    EXPECT_EQ(app.test.commands.runs.size(), before + 3);
}

TEST(PowerEvents, SleepIsAcknowledgedInsideTheCallback) {
    App app;
    app.start();
    auto& power = app.test.powerManagement;
    const std::size_t runsBefore = app.test.commands.runs.size();
    power.systemPowerCallback(power.systemPowerRefCon, 0, kIOMessageSystemWillSleep,
                              reinterpret_cast<void*>(17));
    power.systemPowerCallback(power.systemPowerRefCon, 0, kIOMessageCanSystemSleep,
                              reinterpret_cast<void*>(18));
    power.systemPowerCallback(power.systemPowerRefCon, 0, 0xE0000100, reinterpret_cast<void*>(19));
    EXPECT_EQ(power.allowed,
              (std::vector<std::pair<std::uint32_t, std::intptr_t>>{{42, 17}, {42, 18}}));
    EXPECT_TRUE(app.test.mainQueue.pending.empty());
    EXPECT_EQ(app.test.commands.runs.size(), runsBefore) << "no refresh before sleep";
}

TEST(PowerEvents, BothWakeSignalsGiveTwoCompleteRefreshesWithTheEarlySwitch) {
    struct Case {
        const char* what;
        sim::Power power;
        bool insideQuietHours;
        RunMode mode;
        bool early;
    };
    const Case cases[] = {
        {"on the adapter", sim::Power::AC, false, RunMode::PowerAdapter, true},
        {"on battery", sim::Power::Battery, false, RunMode::PowerAdapter, false},
        {"inside quiet hours", sim::Power::AC, true, RunMode::PowerAdapter, false},
        {"always awake", sim::Power::AC, false, RunMode::AlwaysAwake, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        app.test.defaults.values[keys::kRunMode] = static_cast<std::int64_t>(c.mode);
        app.start();
        app.notebook.state.power = c.power;
        app.controller->setQuietHoursEnabled(c.insideQuietHours);
        app.controller->setQuietHoursStart("00:00");
        app.controller->setQuietHoursEnd("23:59");
        app.controller->setWasEffectiveQuietHours(c.insideQuietHours);
        app.notebook.state.sleepDisabled = c.power == sim::Power::AC && !c.insideQuietHours;

        const std::size_t before = app.test.journal.size();
        app.test.workspace.observers.begin()->second();
        auto& power = app.test.powerManagement;
        power.systemPowerCallback(power.systemPowerRefCon, 0, kIOMessageSystemHasPoweredOn,
                                  nullptr);
        app.test.mainQueue.drain();
        const Journal refresh = {kPs, kSettings, kLid};
        Journal want;
        for (int wake = 0; wake < 2; ++wake) {
            if (c.mode == RunMode::PowerAdapter && !c.insideQuietHours) {
                want.push_back(kPs);  // the fresh reading for the early switch
            }
            if (c.early) {
                want.push_back(kOn);  // made whether or not the switch is on already
            }
            want.insert(want.end(), refresh.begin(), refresh.end());
        }
        EXPECT_EQ(app.journalFrom(before), want);
        if (c.early) {
            EXPECT_EQ(app.controller->lastMessage(), "status.power_adapter_active");
        }
    }
}

TEST(ShutDown, ReleasesInOrderAndRestoresSilentlyUnlessQuitting) {
    for (const bool quitting : {false, true}) {
        SCOPED_TRACE(quitting);
        App app;
        app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        app.start();
        ASSERT_TRUE(app.notebook.state.wakeSlot.has_value());
        app.controller->setVersionCheckTimer(app.test.mainQueue.startTimer({}, [] {}));
        app.controller->setIsQuitting(quitting);
        const std::size_t before = app.test.journal.size();
        app.controller->applicationWillTerminate();
        Journal want = {"CFRunLoopRemoveSource(power source)",
                        "CFRelease",
                        "removeWakeObserver",
                        "IONotificationPortGetRunLoopSource",
                        "CFRunLoopRemoveSource(system power)",
                        "IODeregisterForSystemPower",
                        "IOServiceClose",
                        "IONotificationPortDestroy",
                        "cancelTimer",
                        "cancelTimer"};
        if (!quitting) {
            want.insert(want.end(), {kOff, kSched, kCancel});
        }
        EXPECT_EQ(app.journalFrom(before), want);
        EXPECT_EQ(app.controller->powerSourceRunLoopSource(), nullptr);
        EXPECT_EQ(app.controller->powerNotificationRootPort(), 0u);
        EXPECT_EQ(app.controller->powerNotificationPort(), nullptr);
        EXPECT_EQ(app.controller->quietHoursTimer(), nullptr);
        EXPECT_EQ(app.controller->versionCheckTimer(), nullptr);
        EXPECT_TRUE(app.test.alerts.shown.empty());
        EXPECT_EQ(app.notebook.state.wakeSlot.has_value(), quitting);
    }
}

TEST(RestoreAndQuit, EveryBranch) {
    struct Case {
        const char* what;
        bool privilege;
        bool ownedEvent;
        std::vector<int> answers;
        bool retryWorks;  // the privilege arrives before the retry
        std::vector<std::string> alerts;
        bool terminated;
        bool copied;
        bool switchRestored;
    };
    // clang-format off
    const Case cases[] = {
        {"privilege present, event owned", true, true, {}, false, {}, true, false, true},
        {"privilege present, nothing owned", true, false, {}, false, {}, true, false, true},
        {"privilege missing, copy chosen", false, true, {1000}, false, {"error.restore_normal_sleep_failed"}, false, true, false},
        {"privilege missing, retry fails", false, false, {1001}, false, {"error.restore_normal_sleep_failed", "error.restore_normal_sleep_failed"}, false, false, false},
        {"privilege missing, retry works", false, false, {1001}, true, {"error.restore_normal_sleep_failed"}, true, false, true},
        {"quit anyway, nothing owned", false, false, {1002}, false, {"error.restore_normal_sleep_failed"}, true, false, false},
        {"quit anyway, event owned: the partial alert, then quit anyway", false, true, {1002, 1001}, false, {"error.restore_normal_sleep_failed", "dialog.quiet_hours_off_partial.title"}, true, false, false},
        {"quit anyway, event owned: the partial alert, then copy", false, true, {1002, 1000}, false, {"error.restore_normal_sleep_failed", "dialog.quiet_hours_off_partial.title"}, false, true, false},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        App app;
        if (c.ownedEvent) {
            app.test.defaults.values[keys::kQuietHoursEnabled] = true;
        }
        app.start();
        app.notebook.state.sleepDisabled = true;
        app.notebook.state.privilegeInstalled = c.privilege;
        for (const int answer : c.answers) {
            app.test.alerts.script.push_back({answer, {}});
        }
        if (c.retryWorks) {
            app.test.alerts.whileOpen = [&] { app.notebook.state.privilegeInstalled = true; };
        }
        bool terminatedRan = false;
        app.test.application.onTerminate = [&] {
            terminatedRan = true;
            app.controller->applicationWillTerminate();
        };
        app.controller->restoreAndQuit();

        std::vector<std::string> titles;
        for (const Alert& alert : app.test.alerts.shown) {
            if (alert.messageText != "dialog.permission_copied.title") {
                titles.push_back(alert.messageText);
            }
        }
        EXPECT_EQ(titles, c.alerts);
        EXPECT_EQ(terminatedRan, c.terminated);
        EXPECT_EQ(app.controller->isQuitting(), c.terminated);
        EXPECT_EQ(app.test.pasteboard.contents.size(), c.copied ? 1u : 0u);
        EXPECT_EQ(!app.notebook.state.sleepDisabled, c.switchRestored);
        if (c.terminated) {
            EXPECT_EQ(app.controller->quietHoursTimer(), nullptr);
            const auto& journal = app.test.journal;
            EXPECT_EQ(std::count(journal.begin(), journal.end(), std::string(kOff)),
                      c.switchRestored ? 1 + (c.retryWorks ? 1 : 0) : (c.retryWorks ? 2 : 1))
                << "the termination handler does not restore a second time";
        }
        if (!c.alerts.empty()) {
            EXPECT_EQ(app.test.alerts.shown[0].buttons,
                      (std::vector<std::string>{"menu.copy_permission", "button.retry",
                                                "button.quit_anyway"}));
            EXPECT_EQ(app.test.alerts.shown[0].informativeText, "error.need_pmset_permission");
        }
    }
}

TEST(MainMenu, QuitsThroughTheRestorePathAndEditsThroughTheResponder) {
    App app;
    app.start();
    const Menu& menu = *app.test.application.mainMenu;
    ASSERT_EQ(menu.items.size(), 2u);
    const Menu& application = *menu.items[0].submenu;
    ASSERT_EQ(application.items.size(), 1u);
    EXPECT_EQ(application.items[0].title, "menu.quit_app");
    EXPECT_EQ(application.items[0].keyEquivalent, "q");
    const Menu& edit = *menu.items[1].submenu;
    EXPECT_EQ(edit.title, "menu.edit");
    const std::vector<std::tuple<std::string, ResponderAction, std::string>> want = {
        {"menu.cut", ResponderAction::Cut, "x"},
        {"menu.copy", ResponderAction::Copy, "c"},
        {"menu.paste", ResponderAction::Paste, "v"},
        {"menu.select_all", ResponderAction::SelectAll, "a"}};
    ASSERT_EQ(edit.items.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(edit.items[i].title, std::get<0>(want[i]));
        EXPECT_EQ(edit.items[i].responderAction, std::get<1>(want[i]));
        EXPECT_EQ(edit.items[i].keyEquivalent, std::get<2>(want[i]));
        EXPECT_FALSE(edit.items[i].action) << "no target";
    }
    app.test.application.onTerminate = [&] { app.controller->applicationWillTerminate(); };
    application.items[0].action(application.items[0]);
    EXPECT_TRUE(app.controller->isQuitting());
    EXPECT_FALSE(app.notebook.state.sleepDisabled);
}

}  // namespace
}  // namespace dorvane
