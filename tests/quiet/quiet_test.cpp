#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "quiet/time_of_day.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
namespace keys = defaults_keys;

TEST(TimeParser, AcceptsWhatTheTextRulesAllow) {
    const std::tuple<const char*, std::optional<TimeOfDay>> cases[] = {
        {"\n\t23:59\r\n", TimeOfDay{23, 59}},
        {"0000000000000000000000000007:00", TimeOfDay{7, 0}},
        {"24:00", std::nullopt},
        {"23:60", std::nullopt},
        {"+7:30", std::nullopt},
        {"7.30", std::nullopt},
        {"0700", std::nullopt},
        {"07:00:00", std::nullopt},
        {"0 7:30", std::nullopt},
        {"", std::nullopt},
        {"99999999999999999999:00", std::nullopt},
        {"\xD9\xA7:00", std::nullopt},  // an Arabic-Indic seven is no ASCII digit
        {"07\n:00", std::nullopt},      // a line break inside a part is not trimmed
    };
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseTimeOfDay(text), want);
    }
}

TEST(QuietWindow, IncludesTheStartAndExcludesTheEnd) {
    const std::tuple<const char*, const char*, const char*, int, int, bool> cases[] = {
        {"across midnight, at the start", "22:00", "06:00", 22, 0, true},
        {"across midnight, last minute", "22:00", "06:00", 5, 59, true},
        {"across midnight, at the end", "22:00", "06:00", 6, 0, false},
        {"default window, at midnight", "00:00", "07:00", 0, 0, true},
        {"default window, at the end", "00:00", "07:00", 7, 0, false},
        {"start equals end", "08:00", "08:00", 8, 0, false},
        {"unparsable start", "8 am", "09:00", 8, 30, false},
    };
    for (const auto& [what, start, end, hour, minute, inside] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        auto controller = test.makeController();
        controller->setQuietHoursEnabled(true);
        controller->setQuietHoursStart(start);
        controller->setQuietHoursEnd(end);
        test.clock.setLocalTime(hour, minute, 59);
        EXPECT_EQ(controller->isInQuietHours(), inside);
    }
}

TEST(QuietSettings, LoadWithDefaultsForWhatIsMissingOrOutOfRange) {
    // clang-format off
    const std::tuple<const char*, std::map<std::string, DefaultsValue>, bool, std::string, std::string, std::int64_t> cases[] = {
        {"nothing stored", {}, false, "00:00", "07:00", 30},
        {"everything stored", {{keys::kQuietHoursEnabled, true}, {keys::kQuietHoursStart, std::string("22:00")}, {keys::kQuietHoursEnd, std::string("6:30")}, {keys::kQuietHoursIntervalMinutes, std::int64_t{45}}}, true, "22:00", "6:30", 45},
        {"an interval of 0", {{keys::kQuietHoursIntervalMinutes, std::int64_t{0}}}, false, "00:00", "07:00", 30},
        {"an interval of 1 is kept", {{keys::kQuietHoursIntervalMinutes, std::int64_t{1}}}, false, "00:00", "07:00", 1},
        {"a large interval is kept", {{keys::kQuietHoursIntervalMinutes, std::int64_t{5000}}}, false, "00:00", "07:00", 5000},
        {"texts that do not parse are kept as stored", {{keys::kQuietHoursStart, std::string("soon")}}, false, "soon", "07:00", 30},
    };
    // clang-format on
    for (const auto& [what, stored, enabled, start, end, interval] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        test.defaults.values = stored;
        auto controller = test.makeController();
        controller->loadQuietHoursState();
        EXPECT_EQ(controller->quietHoursEnabled(), enabled);
        EXPECT_EQ(controller->quietHoursStart(), start);
        EXPECT_EQ(controller->quietHoursEnd(), end);
        EXPECT_EQ(controller->quietHoursIntervalMinutes(), interval);
    }
}

struct QuietFixture : testing::NotebookPlatform {
    QuietFixture() { controller->loadQuietHoursState(); }
    // Title and text of each alert shown from the first on, by default after the dialog itself.
    std::vector<std::string> messages(std::size_t first = 1) const {
        std::vector<std::string> shown;
        for (std::size_t i = first; i < test.alerts.shown.size(); ++i)
            shown.push_back(test.alerts.shown[i].messageText + " / " +
                            test.alerts.shown[i].informativeText);
        return shown;
    }
};

TEST(QuietHoursDialog, ValidatesInOrderAndAppliesOnlyWhatPasses) {
    // Each row: the button, the two times typed, the privilege; then the messages after the dialog
    // itself, quiet hours, the window kept and the time of the wake event, empty without one.
    // clang-format off
    const std::tuple<const char*, int, std::string, std::string, bool, std::vector<std::string>, bool, std::string, std::string, std::string> cases[] = {
        {"22:00 to 6:00", 1000, "22:00", "6:00", true, {}, true, "22:00", "06:00", "06:00:00"},
        {"spaces and a short minute", 1000, "  7:5 ", "\t23:00\n", true, {}, true, "07:05", "23:00", "23:00:00"},
        {"a window within one hour", 1000, "22:00", "22:30", true, {}, true, "22:00", "22:30", "22:30:00"},
        {"a bad start", 1000, "25:00", "nonsense", true, {"dialog.invalid_format.title / dialog.invalid_start_time.body"}, false, "00:00", "07:00", ""},
        {"a bad end", 1000, "22:00", "7.30", true, {"dialog.invalid_format.title / dialog.invalid_end_time.body"}, false, "00:00", "07:00", ""},
        {"the same time twice", 1000, "08:00", "8:0", true, {"dialog.invalid_range.title / dialog.invalid_range.body"}, false, "00:00", "07:00", ""},
        {"cancel with nonsense in the fields", 1001, "nonsense", "", true, {}, false, "00:00", "07:00", ""},
        {"the wake event cannot be set", 1000, "22:00", "06:00", false, {"dialog.quiet_hours_auto_disabled.title / off: error.need_pmset_permission_with_wake"}, false, "00:00", "07:00", ""},
    };
    // clang-format on
    for (const auto& [what, code, start, end, privilege, shown, enabled, storedStart, storedEnd,
                      wakeAt] : cases) {
        SCOPED_TRACE(what);
        QuietFixture f;
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
        EXPECT_EQ(f.notebook.state.wakeSlot.value_or(sim::RepeatEvent{}).time, wakeAt);
        EXPECT_EQ(f.controller->lastUpdated().has_value(), saved) << "a refresh follows a change";
    }
}

TEST(IntervalDialog, AcceptsWholeMinutesFromOneToADay) {
    // clang-format off
    const std::tuple<const char*, std::vector<std::string>, std::int64_t> cases[] = {
        {"1440", {}, 1440},
        {" 45 \n", {}, 45},
        {"1", {}, 1},
        {"1441", {"dialog.interval.out_of_range.title / dialog.interval.out_of_range.body"}, 30},
        {"0", {"dialog.interval.out_of_range.title / dialog.interval.out_of_range.body"}, 30},
        {"99999999999999999999999", {"dialog.interval.out_of_range.title / dialog.interval.out_of_range.body"}, 30},
        {"1.5", {"dialog.invalid_format.title / dialog.interval.invalid_format"}, 30},
        {"", {"dialog.invalid_format.title / dialog.interval.invalid_format"}, 30},
        {"\xD9\xA5", {"dialog.invalid_format.title / dialog.interval.invalid_format"}, 30},
    };
    // clang-format on
    for (const auto& [text, messages, after] : cases) {
        SCOPED_TRACE(text);
        QuietFixture f;
        f.test.alerts.script.push_back({kAlertFirstButtonReturn, {text}});
        f.test.alerts.script.resize(1 + messages.size());
        f.controller->showQuietHoursIntervalDialog();
        EXPECT_EQ(f.messages(), messages);
        EXPECT_EQ(f.controller->quietHoursIntervalMinutes(), after);
        EXPECT_EQ(f.test.defaults.objectForKey(keys::kQuietHoursIntervalMinutes),
                  messages.empty() ? std::optional<DefaultsValue>(after) : std::nullopt)
            << "stored only when accepted";
        EXPECT_EQ(f.test.mainQueue.timers.size(), messages.empty() ? 1u : 0u)
            << "the timer restarts with the new period";
    }
}

TEST(QuietTimer, FiresEveryPeriodARestartReplacesItAndItOutlivesNoController) {
    testing::NotebookPlatform f;
    auto& [test, notebook, controller] = f;
    controller->setQuietHoursIntervalMinutes(45);
    controller->startQuietHoursTimer();
    test.mainQueue.alertOpen = true;  // it begins quiet hours, so it fires while an alert is open
    ASSERT_EQ(test.mainQueue.timers.size(), 1u);
    const auto refreshes = [&] {
        return std::count(f.test.commands.runs.begin(), f.test.commands.runs.end(),
                          testing::Run{"/usr/bin/pmset", {"-g", "ps"}});
    };
    test.mainQueue.advance(45min - 1s);
    EXPECT_EQ(refreshes(), 0);
    test.mainQueue.advance(1s);
    EXPECT_EQ(refreshes(), 1) << "the first firing comes one period after the start";
    test.mainQueue.advance(45min);
    EXPECT_EQ(refreshes(), 2) << "and the next one period later";

    controller->setQuietHoursIntervalMinutes(10);
    controller->startQuietHoursTimer();
    EXPECT_TRUE(test.mainQueue.timers[0]->cancelled) << "the old timer is gone";
    test.mainQueue.advance(10min);
    EXPECT_EQ(refreshes(), 3);

    const auto handler = test.mainQueue.timers.back()->handler;
    controller.reset();
    handler();  // holds the controller weakly: no crash, no run
    EXPECT_EQ(refreshes(), 3);
}

TEST(QuietTimer, APeriodTooLargeForNanosecondsSaturates) {
    const std::tuple<std::int64_t, std::chrono::nanoseconds> cases[] = {
        {0, 30min},
        {1, 1min},
        {153'722'867, std::chrono::minutes(153'722'867)},
        {153'722'868, std::chrono::nanoseconds::max()},
    };
    for (const auto& [minutes, period] : cases) {
        SCOPED_TRACE(minutes);
        EXPECT_EQ(quietHoursTimerPeriod(minutes), period);
    }
}

TEST(QuietCommands, SwitchingOnSetsTheWakeEventOrFallsBack) {
    using Text = std::optional<std::string>;
    // Each row: the window stored, the privilege, whether the schedule reads; then quiet hours,
    // the window stored after, the wake event on the machine and the alerts shown.
    // clang-format off
    const std::tuple<const char*, Text, Text, bool, bool, bool, std::string, std::string, bool, std::vector<std::string>> cases[] = {
        {"a window stored", "22:00", "06:00", true, false, true, "22:00", "06:00", true, {}},
        {"an empty start: the default window", "", "06:00", true, false, true, "00:00", "07:00", true, {}},
        {"an empty end: the default window", "22:00", "", true, false, true, "00:00", "07:00", true, {}},
        {"an empty start and no privilege: default window kept, quiet hours off", "", "06:00", false, false, false, "00:00", "07:00", false, {"dialog.quiet_hours_auto_disabled.title / off: error.need_pmset_permission_with_wake"}},
        {"an unparsable end is kept; the event is removed instead", "22:00", "later", true, false, true, "22:00", "later", false, {}},
        {"no privilege: the old window stays and quiet hours are off", "22:00", "06:00", false, false, false, "22:00", "06:00", false, {"dialog.quiet_hours_auto_disabled.title / off: error.need_pmset_permission_with_wake"}},
        {"the schedule unreadable: the read failure is the reason", "22:00", "06:00", false, true, false, "22:00", "06:00", false, {"dialog.quiet_hours_auto_disabled.title / off: error.read_wake_schedule_failed"}},
    };
    // clang-format on
    for (const auto& [what, start, end, privilege, readFails, enabledAfter, startAfter, endAfter,
                      wakeEvent, alerts] : cases) {
        SCOPED_TRACE(what);
        QuietFixture f;
        f.notebook.state.privilegeInstalled = privilege;
        if (readFails) {
            f.notebook.fail({"/usr/bin/pmset", {"-g", "sched"}}, testing::failed(1));
        }
        std::optional<bool> storedOnMeanwhile;  // while the wake event is being set or removed
        f.test.commands.handler = [&, machine = f.test.commands.handler](const testing::Run& run) {
            if (run.arguments.size() > 2 && run.arguments[2] == "repeat") {
                storedOnMeanwhile = boolForKey(f.test.defaults, keys::kQuietHoursEnabled);
            }
            return machine(run);
        };
        f.controller->setQuietHoursStart(start);
        f.controller->setQuietHoursEnd(end);
        f.test.alerts.script.resize(alerts.size());
        f.controller->setQuietHoursOn();
        EXPECT_EQ(f.controller->quietHoursEnabled(), enabledAfter);
        EXPECT_EQ(boolForKey(f.test.defaults, keys::kQuietHoursEnabled), enabledAfter)
            << "stored so";
        EXPECT_NE(storedOnMeanwhile, true) << "a crash then must not leave quiet hours on alone";
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursStart), startAfter);
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursEnd), endAfter);
        EXPECT_EQ(f.notebook.state.wakeSlot.has_value(), wakeEvent);
        EXPECT_TRUE(f.controller->lastUpdated().has_value()) << "a refresh ran";
        EXPECT_EQ(f.messages(0), alerts);
    }
}

TEST(QuietCommands, ARefreshUnderTheReplaceQuestionSeesQuietHoursAsTheyWere) {
    // Each row: the answer to the question about somebody else's event; then whether quiet hours
    // end up on, and the sleep requests after the question.
    const std::tuple<const char*, int, bool, int> cases[] = {
        {"Cancel: nothing took effect", kAlertSecondButtonReturn, false, 0},
        {"Overwrite: quiet hours begin once confirmed", kAlertFirstButtonReturn, true, 1},
    };
    for (const auto& [what, answer, enabledAfter, sleepsAfter] : cases) {
        SCOPED_TRACE(what);
        QuietFixture f;
        f.notebook.state.wakeSlot = sim::RepeatEvent{"wake", "MTWRF", "08:15:00"};
        f.test.clock.setLocalTime(23, 0);
        f.controller->setQuietHoursStart("22:00");
        f.controller->setQuietHoursEnd("06:00");
        f.test.alerts.script = {{answer, {}}, {kAlertFirstButtonReturn, {}}};
        std::optional<int> sleepsUnderQuestion;
        f.test.alerts.whileOpen = [&] {
            if (!sleepsUnderQuestion) {
                f.controller->refreshWithApplyChange(true);
                sleepsUnderQuestion = f.notebook.sleepRequests;
            }
        };
        f.controller->setQuietHoursOn();
        EXPECT_EQ(sleepsUnderQuestion, 0);
        EXPECT_EQ(f.controller->quietHoursEnabled(), enabledAfter);
        EXPECT_EQ(f.notebook.sleepRequests, sleepsAfter);
    }
}

}  // namespace
}  // namespace dorvane
