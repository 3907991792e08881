#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

namespace keys = defaults_keys;

struct DialogFixture : testing::NotebookPlatform {
    DialogFixture() {
        test.bundle.texts["dialog.quiet_hours_auto_disabled.body_format"] = "off: %@";
        controller->loadQuietHoursState();
    }
    void answer(int code, std::vector<std::string> fields) {
        test.alerts.script.push_back({code, std::move(fields)});
    }
    std::vector<std::string> titles() const {
        std::vector<std::string> shown;
        for (const Alert& alert : test.alerts.shown)
            shown.push_back(alert.messageText + " / " + alert.informativeText);
        return shown;
    }
};

TEST(QuietHoursDialog, ValidatesInOrderAndAppliesOnlyWhatPasses) {
    struct Case {
        const char* what;
        int code;
        std::string start;
        std::string end;
        bool privilege;
        std::vector<std::string> messages;  // after the dialog itself
        bool enabled;
        std::string storedStart;
        std::string storedEnd;
        std::optional<std::string> wakeAt;
    };
    // clang-format off
    const Case cases[] = {
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DialogFixture f;
        f.notebook.state.privilegeInstalled = c.privilege;
        f.test.defaults.values.clear();
        f.answer(c.code, {"label", c.start, "label", c.end});
        f.controller->showQuietHoursDialog();
        std::vector<std::string> messages = f.titles();
        messages.erase(messages.begin());
        EXPECT_EQ(messages, c.messages);
        EXPECT_EQ(f.controller->quietHoursEnabled(), c.enabled);
        EXPECT_EQ(f.controller->quietHoursStart(), c.storedStart);
        EXPECT_EQ(f.controller->quietHoursEnd(), c.storedEnd);
        const bool saved = c.code == 1000 && (c.enabled || !c.privilege);
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursStart),
                  saved ? std::optional<std::string>(c.storedStart) : std::nullopt)
            << "nothing stored before every check has passed";
        EXPECT_EQ(f.notebook.state.wakeSlot ? std::optional(f.notebook.state.wakeSlot->time)
                                            : std::nullopt,
                  c.wakeAt);
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
        f.answer(kAlertFirstButtonReturn, {text});
        f.controller->showQuietHoursIntervalDialog();
        std::vector<std::string> messages = f.titles();
        messages.erase(messages.begin());
        EXPECT_EQ(messages,
                  message ? std::vector<std::string>{*message} : std::vector<std::string>{});
        EXPECT_EQ(f.controller->quietHoursIntervalMinutes(), after);
        EXPECT_EQ(f.test.defaults.objectForKey(keys::kQuietHoursIntervalMinutes),
                  message ? std::nullopt : std::optional<DefaultsValue>(after))
            << "stored only when accepted";
        EXPECT_EQ(f.test.mainQueue.timers.size(), message ? 0u : 1u)
            << "the timer restarts with the new period";
        EXPECT_FALSE(f.controller->quietHoursEnabled())
            << "the window and quiet hours are untouched";
    }
}

}  // namespace
}  // namespace dorvane
