#include <gtest/gtest.h>

#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using testing::itemTitled;

struct MenuFixture : testing::NotebookPlatform {
    MenuFixture() {
        controller->setStatusItem(test.statusBar.createStatusItem());
        controller->setDateFormatter(DateFormatter(test.clock, "HH:mm:ss"));
    }
    const Menu& menu() const { return *test.statusBar.lastCreated->menu; }
};

TEST(Menu, InformationRowsJoinLabelAndValueAndTheStatusRowShowsTheFirstPresentText) {
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

    using Text = std::optional<std::string>;
    // clang-format off
    const std::tuple<const char*, Text, bool, Text, Text, std::string> cases[] = {
        {"the error first", "e", true, "w", "m", "label.status: e"},
        {"an empty error still wins", "", false, "w", "m", "label.status: "},
        {"then settings that cannot be saved", std::nullopt, true, "w", "m", "label.status: error.settings_not_saved"},
        {"then the wake-schedule error", std::nullopt, false, "w", "m", "label.status: w"},
        {"then the message", std::nullopt, false, std::nullopt, "m", "label.status: m"},
        {"nothing at all", std::nullopt, false, std::nullopt, std::nullopt, "label.status: "},
    };
    // clang-format on
    for (const auto& [what, error, unsaved, wakeError, message, shown] : cases) {
        SCOPED_TRACE(what);
        f.test.defaults.failing = unsaved;
        f.controller->setLastError(error);
        f.controller->setWakeScheduleError(wakeError);
        f.controller->setLastMessage(message);
        f.controller->rebuildMenu();
        EXPECT_EQ(f.menu().items[5].title, shown);
    }
    f.controller->setSleepDisabled(std::nullopt);
    f.controller->rebuildMenu();
    EXPECT_EQ(f.menu().items[4].title, "label.system_switch: value.sleep.unknown");
}

TEST(ModeCommand, StoresTheModeSyncsTheWakeEventAndRefreshes) {
    // Each row: the mode chosen, quiet hours, the privilege, the app's wake event on the machine
    // before; then quiet hours after and the alert shown.
    // clang-format off
    const std::tuple<const char*, RunMode, bool, bool, bool, bool, const char*> cases[] = {
        {"to mode 1, nothing owned", RunMode::AlwaysAwake, true, true, false, true, nullptr},
        {"to mode 0 with quiet hours: the event is set", RunMode::PowerAdapter, true, true, false, true, nullptr},
        {"to mode 0 with quiet hours, no privilege: quiet hours go off", RunMode::PowerAdapter, true, false, false, false, "dialog.quiet_hours_auto_disabled.title"},
        {"to mode 1, owned event cannot be removed: partial alert", RunMode::AlwaysAwake, true, false, true, true, "dialog.quiet_hours_off_partial.title"},
        {"the current mode again goes through the same steps", RunMode::PowerAdapter, false, true, false, false, nullptr},
    };
    // clang-format on
    for (const auto& [what, chosen, quiet, privilege, owned, quietAfter, wanted] : cases) {
        SCOPED_TRACE(what);
        const bool m0 = chosen == RunMode::PowerAdapter;
        MenuFixture f;
        f.controller->setQuietHoursEnd("07:00");
        if (owned) {
            f.controller->setQuietHoursEnabled(true);
            ASSERT_TRUE(f.controller->syncRepeatWakeSchedule());
        }
        f.notebook.state.privilegeInstalled = privilege;
        f.controller->setQuietHoursEnabled(quiet);
        f.controller->rebuildMenu();
        f.test.alerts.script.resize(wanted ? 1 : 0);
        const MenuItem* item =
            itemTitled(f.menu(), m0 ? "mode.power_adapter" : "mode.always_awake");
        item->action(*item);

        EXPECT_EQ(f.test.defaults.values.at(defaults_keys::kRunMode),
                  DefaultsValue(static_cast<std::int64_t>(chosen)));
        EXPECT_EQ(f.controller->quietHoursEnabled(), quietAfter);
        EXPECT_EQ(f.notebook.state.wakeSlot.has_value(),
                  (m0 && quietAfter) || (owned && !privilege));
        // A refresh rebuilt the menu; in run mode 1 quiet hours cannot be chosen, and the rows'
        // own flags are final.
        EXPECT_EQ(itemTitled(f.menu(), "mode.power_adapter")->checked, m0);
        EXPECT_EQ(itemTitled(f.menu(), "mode.always_awake")->checked, !m0);
        EXPECT_EQ(f.menu().items[10].title,
                  m0 ? "mode.quiet_hours" : "mode.quiet_hours_disabled_note");
        EXPECT_EQ(f.menu().items[10].enabled, m0);
        EXPECT_FALSE(f.menu().autoenablesItems);
        const std::string alert =
            f.test.alerts.shown.empty() ? "" : f.test.alerts.shown[0].messageText;
        EXPECT_EQ(alert, wanted ? wanted : "");
    }
}

}  // namespace
}  // namespace dorvane
