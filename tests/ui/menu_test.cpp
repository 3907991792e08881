#include <gtest/gtest.h>

#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

const MenuItem* itemTitled(const Menu& menu, const std::string& title) {
    for (const MenuItem& item : menu.items) {
        if (item.title == title) {
            return &item;
        }
    }
    return nullptr;
}

struct MenuFixture {
    testing::TestPlatform test;
    testing::FakeNotebook notebook{test.commands, ToolPaths{}};
    std::shared_ptr<TRBController> controller = test.makeController();

    MenuFixture() {
        controller->setStatusItem(test.statusBar.createStatusItem());
        controller->setDateFormatter(DateFormatter(test.clock, "HH:mm:ss"));
        notebook.state.privilegeInstalled = true;
    }
    const Menu& menu() const { return *test.statusBar.lastCreated->menu; }
};

TEST(Menu, TheModeRowsFollowTheRunMode) {
    for (const RunMode mode : {RunMode::PowerAdapter, RunMode::AlwaysAwake}) {
        SCOPED_TRACE(static_cast<int>(mode));
        MenuFixture f;
        f.controller->setRunMode(mode);
        f.controller->rebuildMenu();
        const bool m0 = mode == RunMode::PowerAdapter;
        EXPECT_EQ(itemTitled(f.menu(), "mode.power_adapter")->checked, m0);
        EXPECT_EQ(itemTitled(f.menu(), "mode.always_awake")->checked, !m0);
        const MenuItem& quiet = f.menu().items[10];
        EXPECT_EQ(quiet.title, m0 ? "mode.quiet_hours" : "mode.quiet_hours_disabled_note");
        EXPECT_EQ(quiet.enabled, m0);
    }
}

TEST(Menu, TheQuietHoursSubmenuReadsAsARadioPair) {
    for (const bool enabled : {false, true}) {
        SCOPED_TRACE(enabled);
        MenuFixture f;
        f.test.bundle.texts["menu.quiet_hours.interval_format"] = "every %ld min";
        f.controller->setQuietHoursEnabled(enabled);
        f.controller->setQuietHoursStart("22:00");
        f.controller->setQuietHoursEnd("06:00");
        f.controller->setQuietHoursIntervalMinutes(45);
        f.controller->rebuildMenu();
        const Menu& submenu = *f.menu().items[10].submenu;
        EXPECT_EQ(submenu.items[0].checked, !enabled);
        EXPECT_EQ(submenu.items[1].checked, enabled);
        EXPECT_EQ(submenu.items[1].title, "22:00 \u2013 06:00");
        EXPECT_EQ(submenu.items[4].title, "every 45 min");
    }
}

TEST(Menu, AnUpdateFoundLeadsTheMenuInBold) {
    for (const std::optional<std::string>& version :
         {std::optional<std::string>(), std::optional<std::string>(""),
          std::optional<std::string>("2.0")}) {
        MenuFixture f;
        f.test.bundle.texts["menu.update_available_format"] = "update %@";
        f.controller->setLatestAvailableVersion(version);
        f.controller->rebuildMenu();
        const bool offered = version && !version->empty();
        const Menu& menu = f.menu();
        EXPECT_EQ(menu.items[0].title, offered ? "update 2.0" : "app.name");
        EXPECT_EQ(menu.items[0].bold, offered);
        EXPECT_EQ(menu.items[1].separator, offered);
    }
}

TEST(Menu, InformationRowsJoinLabelAndValue) {
    MenuFixture f;
    f.test.bundle.texts["menu.label_format"] = "%@: %@";
    f.test.bundle.texts["value.power.with_charge_format"] = "%@ (%ld%%)";
    f.test.clock.setLocalTime(9, 5, 7);
    f.controller->refreshWithApplyChange(true);
    const std::vector<std::string> want = {
        "label.mode: mode.power_adapter",
        "label.power: value.power.ac (100%)",
        "label.lid: value.lid.open",
        "label.system_switch: value.sleep.disabled",
        "label.status: status.applied_power_adapter",
        "label.updated: 09:05:07",
    };
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(f.menu().items[1 + i].title, want[i]);
    }
}

TEST(Menu, TheStatusRowShowsTheFirstPresentText) {
    struct Case {
        const char* what;
        std::optional<std::string> error;
        std::optional<std::string> wakeError;
        std::optional<std::string> message;
        std::string shown;
    };
    const Case cases[] = {
        {"the error first", "e", "w", "m", "label.status: e"},
        {"an empty error still wins", "", "w", "m", "label.status: "},
        {"then the wake-schedule error", std::nullopt, "w", "m", "label.status: w"},
        {"then the message", std::nullopt, std::nullopt, "m", "label.status: m"},
        {"nothing at all", std::nullopt, std::nullopt, std::nullopt, "label.status: "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MenuFixture f;
        f.test.bundle.texts["menu.label_format"] = "%@: %@";
        f.controller->setLastError(c.error);
        f.controller->setWakeScheduleError(c.wakeError);
        f.controller->setLastMessage(c.message);
        f.controller->rebuildMenu();
        EXPECT_EQ(f.menu().items[5].title, c.shown);
    }
}

TEST(Menu, RefreshNowRefreshesWithApply) {
    MenuFixture f;
    f.notebook.state.sleepDisabled = false;
    f.controller->refreshWithApplyChange(false);
    const MenuItem* refresh = itemTitled(f.menu(), "menu.refresh_now");
    ASSERT_NE(refresh, nullptr);
    refresh->action(*refresh);
    EXPECT_TRUE(f.notebook.state.sleepDisabled) << "the switch was applied";
}

TEST(ModeCommand, StoresTheModeSyncsTheWakeEventAndRefreshes) {
    struct Case {
        const char* what;
        RunMode chosen;
        bool quietHours;
        bool privilege;
        bool ownedEvent;  // the application's wake event is on the machine
        RunMode modeAfter;
        bool quietHoursAfter;
        std::optional<std::string> alertTitle;
        std::string alertBody;
    };
    // clang-format off
    const Case cases[] = {
        {"to mode 1, nothing owned", RunMode::AlwaysAwake, true, true, false, RunMode::AlwaysAwake, true, std::nullopt, ""},
        {"to mode 0 with quiet hours: the event is set", RunMode::PowerAdapter, true, true, false, RunMode::PowerAdapter, true, std::nullopt, ""},
        {"to mode 0 with quiet hours, no privilege: quiet hours go off", RunMode::PowerAdapter, true, false, false, RunMode::PowerAdapter, false, "dialog.quiet_hours_auto_disabled.title", "dialog.quiet_hours_auto_disabled.body_format"},
        {"to mode 1, owned event cannot be removed: partial alert", RunMode::AlwaysAwake, true, false, true, RunMode::AlwaysAwake, true, "dialog.quiet_hours_off_partial.title", "dialog.quiet_hours_off_partial.body_format"},
        {"the current mode again goes through the same steps", RunMode::PowerAdapter, false, true, false, RunMode::PowerAdapter, false, std::nullopt, ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MenuFixture f;
        f.test.bundle.texts["dialog.quiet_hours_auto_disabled.body_format"] = "off because: %@";
        f.test.bundle.texts["dialog.quiet_hours_off_partial.body_format"] = "left behind: %@";
        f.notebook.state.privilegeInstalled = true;
        if (c.ownedEvent) {
            f.controller->setQuietHoursEnabled(true);
            f.controller->setQuietHoursEnd("07:00");
            ASSERT_TRUE(f.controller->syncRepeatWakeSchedule());
        }
        f.notebook.state.privilegeInstalled = c.privilege;
        f.controller->setQuietHoursEnabled(c.quietHours);
        f.controller->setQuietHoursStart("00:00");
        f.controller->setQuietHoursEnd("07:00");
        f.controller->rebuildMenu();
        const MenuItem* item =
            itemTitled(f.menu(), c.chosen == RunMode::PowerAdapter ? "mode.power_adapter"
                                                                   : "mode.always_awake");
        ASSERT_NE(item, nullptr);
        const std::size_t runsBefore = f.test.commands.runs.size();
        item->action(*item);

        EXPECT_EQ(f.controller->runMode(), c.modeAfter);
        EXPECT_EQ(f.test.defaults.values.at(defaults_keys::kRunMode),
                  DefaultsValue(static_cast<std::int64_t>(c.modeAfter)));
        EXPECT_EQ(f.controller->quietHoursEnabled(), c.quietHoursAfter);
        EXPECT_GT(f.test.commands.runs.size(), runsBefore + 2) << "a refresh ran";
        if (c.alertTitle) {
            ASSERT_EQ(f.test.alerts.shown.size(), 1u);
            EXPECT_EQ(f.test.alerts.shown[0].messageText, *c.alertTitle);
            EXPECT_NE(f.test.alerts.shown[0].informativeText.find(
                          "error.need_pmset_permission_with_wake"),
                      std::string::npos)
                << f.test.alerts.shown[0].informativeText;
            if (!c.quietHoursAfter) {
                EXPECT_EQ(f.test.defaults.values.at(defaults_keys::kQuietHoursEnabled),
                          DefaultsValue(false));
            }
        } else {
            EXPECT_TRUE(f.test.alerts.shown.empty());
        }
        const bool checkedM0 = f.menu().items[8].checked;
        EXPECT_EQ(checkedM0, c.modeAfter == RunMode::PowerAdapter) << "the menu shows the new mode";
    }
}

}  // namespace
}  // namespace dorvane
