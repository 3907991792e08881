#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

namespace keys = defaults_keys;

struct DialogFixture : testing::NotebookPlatform {
    DialogFixture() { controller->loadQuietHoursState(); }
    // Title and text of each alert shown after the dialog itself.
    std::vector<std::string> messages() const {
        std::vector<std::string> shown;
        for (std::size_t i = 1; i < test.alerts.shown.size(); ++i)
            shown.push_back(test.alerts.shown[i].messageText + " / " +
                            test.alerts.shown[i].informativeText);
        return shown;
    }
};

TEST(QuietHoursDialog, ValidatesInOrderAndAppliesOnlyWhatPasses) {
    // Each row: the button, the two times typed, the privilege; then the messages after the dialog
    // itself, quiet hours, the window kept and the time of the wake event.
    // clang-format off
    const std::tuple<const char*, int, std::string, std::string, bool, std::vector<std::string>, bool, std::string, std::string, std::optional<std::string>> cases[] = {
        {"22:00 to 6:00", 1000, "22:00", "6:00", true, {}, true, "22:00", "06:00", "06:00:00"},
        {"spaces and a short minute", 1000, "  7:5 ", "\t23:00\n", true, {}, true, "07:05", "23:00", "23:00:00"},
        {"a window within one hour", 1000, "22:00", "22:30", true, {}, true, "22:00", "22:30", "22:30:00"},
        {"a bad start", 1000, "25:00", "nonsense", true, {"dialog.invalid_format.title / dialog.invalid_start_time.body"}, false, "00:00", "07:00", std::nullopt},
        {"a bad end", 1000, "22:00", "7.30", true, {"dialog.invalid_format.title / dialog.invalid_end_time.body"}, false, "00:00", "07:00", std::nullopt},
        {"the same time twice", 1000, "08:00", "8:0", true, {"dialog.invalid_range.title / dialog.invalid_range.body"}, false, "00:00", "07:00", std::nullopt},
        {"cancel with nonsense in the fields", 1001, "nonsense", "", true, {}, false, "00:00", "07:00", std::nullopt},
        {"the wake event cannot be set", 1000, "22:00", "06:00", false, {"dialog.quiet_hours_auto_disabled.title / off: error.need_pmset_permission_with_wake"}, false, "00:00", "07:00", std::nullopt},
    };
    // clang-format on
    for (const auto& [what, code, start, end, privilege, shown, enabled, storedStart, storedEnd,
                      wakeAt] : cases) {
        SCOPED_TRACE(what);
        DialogFixture f;
        f.notebook.state.privilegeInstalled = privilege;
        f.test.defaults.values.clear();
        f.test.alerts.script.push_back({code, {"label", start, "label", end}});
        f.test.alerts.script.resize(1 + shown.size());
        f.controller->showQuietHoursDialog();
        EXPECT_EQ(f.messages(), shown);
        EXPECT_EQ(f.test.application.activations, 1) << "the dialog comes forward, no message";
        EXPECT_EQ(f.controller->quietHoursEnabled(), enabled);
        EXPECT_EQ(f.controller->quietHoursStart(), storedStart);
        EXPECT_EQ(f.controller->quietHoursEnd(), storedEnd);
        const bool saved = code == 1000 && (enabled || !privilege);
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursStart),
                  saved ? std::optional<std::string>(storedStart) : std::nullopt)
            << "nothing stored before every check has passed";
        EXPECT_EQ(f.notebook.state.wakeSlot ? std::optional(f.notebook.state.wakeSlot->time)
                                            : std::nullopt,
                  wakeAt);
        EXPECT_EQ(f.controller->lastUpdated().has_value(), saved) << "a refresh follows a change";
    }
}

TEST(IntervalDialog, AcceptsWholeMinutesFromOneToADay) {
    // clang-format off
    const std::tuple<const char*, std::optional<std::string>, std::int64_t> cases[] = {
        {"1440", std::nullopt, 1440},
        {" 45 \n", std::nullopt, 45},
        {"1", std::nullopt, 1},
        {"1441", "dialog.interval.out_of_range.title / dialog.interval.out_of_range.body", 30},
        {"0", "dialog.interval.out_of_range.title / dialog.interval.out_of_range.body", 30},
        {"99999999999999999999999", "dialog.interval.out_of_range.title / dialog.interval.out_of_range.body", 30},
        {"1.5", "dialog.invalid_format.title / dialog.interval.invalid_format", 30},
        {"", "dialog.invalid_format.title / dialog.interval.invalid_format", 30},
        {"\xD9\xA5", "dialog.invalid_format.title / dialog.interval.invalid_format", 30},
    };
    // clang-format on
    for (const auto& [text, message, after] : cases) {
        SCOPED_TRACE(text);
        DialogFixture f;
        f.test.alerts.script.push_back({kAlertFirstButtonReturn, {text}});
        f.test.alerts.script.resize(message ? 2 : 1);
        f.controller->showQuietHoursIntervalDialog();
        EXPECT_EQ(f.messages(),
                  message ? std::vector<std::string>{*message} : std::vector<std::string>{});
        EXPECT_EQ(f.controller->quietHoursIntervalMinutes(), after);
        EXPECT_EQ(f.test.defaults.objectForKey(keys::kQuietHoursIntervalMinutes),
                  message ? std::nullopt : std::optional<DefaultsValue>(after))
            << "stored only when accepted";
        EXPECT_EQ(f.test.mainQueue.timers.size(), message ? 0u : 1u)
            << "the timer restarts with the new period";
    }
}

}  // namespace
}  // namespace dorvane
