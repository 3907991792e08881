#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
namespace keys = defaults_keys;

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

struct CommandFixture : testing::NotebookPlatform {
    CommandFixture() { controller->loadQuietHoursState(); }
};

TEST(QuietCommands, SwitchingOnSetsTheWakeEventOrFallsBack) {
    using Text = std::optional<std::string>;
    // Each row: the window stored, the privilege, whether the schedule reads; then quiet hours,
    // the window stored after, the wake event on the machine and the alert's text.
    // clang-format off
    const std::tuple<const char*, Text, Text, bool, bool, bool, std::string, std::string, bool, Text> cases[] = {
        {"a window stored", "22:00", "06:00", true, false, true, "22:00", "06:00", true, std::nullopt},
        {"an empty start: the default window", "", "06:00", true, false, true, "00:00", "07:00", true, std::nullopt},
        {"an empty end: the default window", "22:00", "", true, false, true, "00:00", "07:00", true, std::nullopt},
        {"an empty start and no privilege: default window kept, quiet hours off", "", "06:00", false, false, false, "00:00", "07:00", false, "off: error.need_pmset_permission_with_wake"},
        {"an unparsable end is kept; the event is removed instead", "22:00", "later", true, false, true, "22:00", "later", false, std::nullopt},
        {"no privilege: the old window stays and quiet hours are off", "22:00", "06:00", false, false, false, "22:00", "06:00", false, "off: error.need_pmset_permission_with_wake"},
        {"the schedule unreadable: the read failure is the reason", "22:00", "06:00", false, true, false, "22:00", "06:00", false, "off: error.read_wake_schedule_failed"},
    };
    // clang-format on
    for (const auto& [what, start, end, privilege, readFails, enabledAfter, startAfter, endAfter,
                      wakeEvent, alertBody] : cases) {
        SCOPED_TRACE(what);
        CommandFixture f;
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
        f.test.alerts.script.resize(alertBody ? 1 : 0);
        f.controller->setQuietHoursOn();
        EXPECT_EQ(f.controller->quietHoursEnabled(), enabledAfter);
        EXPECT_EQ(boolForKey(f.test.defaults, keys::kQuietHoursEnabled), enabledAfter)
            << "stored so";
        EXPECT_NE(storedOnMeanwhile, true) << "a crash then must not leave quiet hours on alone";
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursStart), startAfter);
        EXPECT_EQ(stringForKey(f.test.defaults, keys::kQuietHoursEnd), endAfter);
        EXPECT_EQ(f.notebook.state.wakeSlot.has_value(), wakeEvent);
        EXPECT_TRUE(f.controller->lastUpdated().has_value()) << "a refresh ran";
        EXPECT_EQ(f.test.alerts.shown.empty()
                      ? std::nullopt
                      : std::optional(f.test.alerts.shown[0].informativeText),
                  alertBody);
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
        CommandFixture f;
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
