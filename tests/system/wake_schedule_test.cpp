#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"
#include "system/schedule_reader.h"

namespace dorvane {
namespace {

using testing::Run;
namespace keys = defaults_keys;

using namespace testing::runs;
Run wakeAt(const char* time) {
    return {kPaths.sudo, {"-n", kPaths.pmset, "repeat", "wakeorpoweron", "MTWRFSU", time}};
}
const sim::RepeatEvent kAppAt7{"wakeorpoweron", "MTWRFSU", "07:00:00"};
const sim::RepeatEvent kForeign{"wake", "MTWRF", "08:15:00"};
const std::string kAppAt7Text = "wakepoweron at 7:00AM every day";

// Each row: the listing; then the repeating events read from it and whether they wake the machine.
TEST(ScheduleReader, CollectsTheRepeatingSectionAndTellsAWayBack) {
    const std::string heading = "Repeating power events:\n  ";
    // clang-format off
    const std::tuple<const char*, std::string, std::string, bool> cases[] = {
        {"one event", heading + "wakepoweron at 7:00AM every day\n", kAppAt7Text, true},
        {"two events joined", heading + "wake at 8:00AM weekdays only\n  sleep at 11:00PM every day\n", "wake at 8:00AM weekdays only; sleep at 11:00PM every day", true},
        // The layout of Apple's open-source pmset.m: midnight is 0:00AM, and the one-off events
        // follow at once, with four-digit years.
        {"ends at the scheduled heading without an empty line", heading + "wakepoweron at 0:00AM every day\n  shutdown at 11:30PM weekdays only\nScheduled power events:\n [0]  wake at 12/08/2026 06:59:00 by 'com.apple.alarm.user-visible-Weekday' User visible: true\n", "wakepoweron at 0:00AM every day; shutdown at 11:30PM weekdays only", true},
        {"nothing scheduled", "No scheduled events.\n", "", false},
        {"ends at an empty line", heading + "a\n\n  b\n", "a", false},
        {"heading in other capitals and words", "  REPEATING POWER EVENTS (2):\n\ta\t\n", "a", false},
        {"CR LF line ends", "Repeating power events:\r\n  a\r\n  b\r\n\r\nScheduled power events:\r\n", "a; b", false},
        {"only one-off events", "Scheduled power events:\n [0]  wake at 12/07/26 07:00:00\n", "", false},
        {"power on", heading + "poweron at 6:30AM every day\n", "poweron at 6:30AM every day", true},
        {"in other capitals, after a sleep", heading + "sleep at 11:00PM every day\n  WAKEORPOWERON at 7:00AM\n", "sleep at 11:00PM every day; WAKEORPOWERON at 7:00AM", true},
        {"only sleep", heading + "sleep at 11:00PM every day\n", "sleep at 11:00PM every day", false},
        {"shut down and restart", heading + "shutdown at 11:00PM every day\n  restart at 3:00AM weekdays only\n", "shutdown at 11:00PM every day; restart at 3:00AM weekdays only", false},
        {"a word that only begins like one", heading + "wakeful at 8:00AM\n", "wakeful at 8:00AM", false},
    };
    // clang-format on
    for (const auto& [what, listing, description, wakes] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(describeRepeatingEvents(listing), description);
        EXPECT_EQ(repeatingEventsWakeTheMachine(description), wakes);
    }
}

TEST(ScheduleMatch, OnlyTheRecordedSingleEventMatches) {
    testing::TestPlatform test;
    auto controller = test.makeController();
    const DefaultsDictionary record{{"canonical", kAppAt7Text}};
    // clang-format off
    const std::tuple<const char*, std::optional<std::string>, std::optional<DefaultsDictionary>, bool> cases[] = {
        {"the same text", kAppAt7Text, record, true},
        {"case differs", "WAKEPOWERON at 7:00AM every day", record, false},
        {"two events, one of them ours", kAppAt7Text + "; sleep at 11:00PM every day", record, false},
        {"two events recorded as they stand", kAppAt7Text + "; sleep at 11:00PM every day", DefaultsDictionary{{"canonical", kAppAt7Text + "; sleep at 11:00PM every day"}}, false},
        {"no description", std::nullopt, record, false},
        {"no record", kAppAt7Text, std::nullopt, false},
        {"empty canonical", "", DefaultsDictionary{{"canonical", std::string()}}, false},
        {"canonical of the wrong type", kAppAt7Text, DefaultsDictionary{{"canonical", std::int64_t{7}}}, false},
    };
    // clang-format on
    for (const auto& [what, description, record, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(controller->currentScheduleMatchesAppOwned(description, record), want);
    }
}

enum class Claim { NotOwned, Owned, UserRemoved };
enum class Operation { Install7, Install630, Cancel };
enum class Fault { None, Read, RepeatPermission, RepeatOther, ReadBack };

// Each row: the claim before, somebody else's event on the machine (in place of ours when
// claimed), the operation, the fault, the answer to the overwrite question; then the tool runs,
// the result, the claim and its record after, the event on the machine after, the text left
// (lastError for installs, wakeScheduleError for cancels) and whether the question was asked.
// clang-format off
const std::tuple<const char*, Claim, std::optional<sim::RepeatEvent>, Operation, Fault, int, std::vector<Run>, bool, bool, std::optional<std::string>, std::optional<sim::RepeatEvent>, std::optional<std::string>, bool> kStateCases[] = {
    {"not owned, nothing on the machine: install without a question", Claim::NotOwned, std::nullopt, Operation::Install7, Fault::None, 1000, {SCHED, wakeAt("07:00:00"), SCHED}, true, true, kAppAt7Text, kAppAt7, std::nullopt, false},
    {"not owned, foreign event, overwrite chosen", Claim::NotOwned, kForeign, Operation::Install7, Fault::None, 1000, {SCHED, wakeAt("07:00:00"), SCHED}, true, true, kAppAt7Text, kAppAt7, std::nullopt, true},
    {"not owned, foreign event, cancel chosen", Claim::NotOwned, kForeign, Operation::Install7, Fault::None, 1001, {SCHED}, false, false, std::nullopt, kForeign, "status.user_canceled_overwrite", true},
    {"owned and unchanged: replaced without a question", Claim::Owned, std::nullopt, Operation::Install630, Fault::None, 1000, {SCHED, wakeAt("06:30:00"), SCHED}, true, true, "wakepoweron at 6:30AM every day", sim::RepeatEvent{"wakeorpoweron", "MTWRFSU", "06:30:00"}, std::nullopt, false},
    {"out of date, removed by the user: claim dropped, install without a question", Claim::UserRemoved, std::nullopt, Operation::Install7, Fault::None, 1000, {SCHED, SCHED, wakeAt("07:00:00"), SCHED}, true, true, kAppAt7Text, kAppAt7, std::nullopt, false},
    {"out of date, replaced by somebody: claim dropped, then asked", Claim::Owned, kForeign, Operation::Install7, Fault::None, 1001, {SCHED, SCHED}, false, false, std::nullopt, kForeign, "status.user_canceled_overwrite", true},
    {"owned: cancel removes it", Claim::Owned, std::nullopt, Operation::Cancel, Fault::None, 1000, {SCHED, CANCEL}, true, false, std::nullopt, std::nullopt, std::nullopt, false},
    {"owned, cancel refused for want of the privilege: claim stays", Claim::Owned, std::nullopt, Operation::Cancel, Fault::RepeatPermission, 1000, {SCHED, CANCEL}, false, true, kAppAt7Text, kAppAt7, "error.need_pmset_permission_with_wake", false},
    {"owned, cancel fails otherwise: claim stays", Claim::Owned, std::nullopt, Operation::Cancel, Fault::RepeatOther, 1000, {SCHED, CANCEL}, false, true, kAppAt7Text, kAppAt7, "error.set_wake_failed", false},
    {"owned, removed by the user: cancel drops the claim", Claim::UserRemoved, std::nullopt, Operation::Cancel, Fault::None, 1000, {SCHED}, true, false, std::nullopt, std::nullopt, std::nullopt, false},
    {"out of date, replaced: cancel leaves it and drops the claim", Claim::Owned, kForeign, Operation::Cancel, Fault::None, 1000, {SCHED}, false, false, std::nullopt, kForeign, "error.cancel_skipped_external_schedule", false},
    {"claimed, reading fails: cancel changes nothing", Claim::Owned, std::nullopt, Operation::Cancel, Fault::Read, 1000, {SCHED}, false, true, kAppAt7Text, kAppAt7, "error.read_wake_schedule_failed", false},
    {"claimed, reading fails: install changes nothing", Claim::Owned, std::nullopt, Operation::Install630, Fault::Read, 1000, {SCHED}, false, true, kAppAt7Text, kAppAt7, "error.read_wake_schedule_failed", false},
    {"not owned: cancel runs nothing", Claim::NotOwned, kForeign, Operation::Cancel, Fault::None, 1000, {}, true, false, std::nullopt, kForeign, std::nullopt, false},
    {"not owned, repeat refused for want of the privilege", Claim::NotOwned, std::nullopt, Operation::Install7, Fault::RepeatPermission, 1000, {SCHED, wakeAt("07:00:00")}, false, false, std::nullopt, std::nullopt, "error.need_pmset_permission_with_wake", false},
    {"owned, repeat fails otherwise: claim kept", Claim::Owned, std::nullopt, Operation::Install630, Fault::RepeatOther, 1000, {SCHED, wakeAt("06:30:00")}, false, true, kAppAt7Text, kAppAt7, "error.set_wake_failed", false},
    {"not owned, read-back fails: the new event is foreign", Claim::NotOwned, std::nullopt, Operation::Install7, Fault::ReadBack, 1000, {SCHED, wakeAt("07:00:00"), SCHED}, false, false, std::nullopt, kAppAt7, "error.read_wake_schedule_failed", false},
    {"owned, read-back fails: old record kept", Claim::Owned, std::nullopt, Operation::Install630, Fault::ReadBack, 1000, {SCHED, wakeAt("06:30:00"), SCHED}, false, true, kAppAt7Text, sim::RepeatEvent{"wakeorpoweron", "MTWRFSU", "06:30:00"}, "error.read_wake_schedule_failed", false},
    };
// clang-format on

TEST(WakeSchedule, EveryRowOfTheStateTable) {
    for (const auto& [what, claim, machine, operation, fault, answer, runs, result, ownedAfter,
                      canonicalAfter, machineAfter, text, asked] : kStateCases) {
        SCOPED_TRACE(what);
        testing::NotebookPlatform f;
        auto& [test, notebook, controller] = f;
        if (claim != Claim::NotOwned) {
            ASSERT_TRUE(controller->applyRepeatWakeAtHour(7, 0));
        }
        if (claim == Claim::UserRemoved || machine) {
            notebook.state.wakeSlot = machine;
        }
        test.commands.runs.clear();
        switch (fault) {
            case Fault::Read:
                notebook.fail(SCHED, testing::failed(1));
                break;
            case Fault::ReadBack:
                notebook.fail(SCHED, testing::failed(1), 2 + (claim == Claim::NotOwned ? 0 : 2));
                break;
            case Fault::RepeatPermission:
                notebook.state.privilegeInstalled = false;
                break;
            case Fault::RepeatOther:
                notebook.fail(CANCEL, testing::failed(1, "pmset: failure"));
                notebook.fail(wakeAt("06:30:00"), testing::failed(1, "pmset: failure"));
                break;
            case Fault::None:
                break;
        }
        test.alerts.script.push_back({answer, {}});
        test.bundle.texts["dialog.existing_schedule.body_format"] = "found: %@";
        controller->setWakeScheduleError("before");

        const bool at7 = operation == Operation::Install7;
        const bool succeeded = operation == Operation::Cancel
                                   ? controller->cancelRepeatWake()
                                   : controller->applyRepeatWakeAtHour(at7 ? 7 : 6, at7 ? 0 : 30);
        EXPECT_EQ(succeeded, result);
        EXPECT_EQ(test.commands.runs, runs);
        EXPECT_EQ(boolForKey(test.defaults, keys::kWakeScheduleClaimed), ownedAfter);
        const auto record = dictionaryForKey(test.defaults, keys::kAppOwnedWakeSchedule);
        EXPECT_EQ(
            record ? std::optional(std::get<std::string>(record->at("canonical"))) : std::nullopt,
            canonicalAfter)
            << "the record goes with the claim";
        EXPECT_EQ(notebook.state.wakeSlot, machineAfter);
        if (operation == Operation::Cancel) {
            // A cancel that changed nothing in its own keeps the earlier text.
            const bool keeps = runs.empty() || (result && runs.size() == 2);
            EXPECT_EQ(controller->wakeScheduleError(),
                      keeps ? std::optional<std::string>("before") : text);
        } else {
            EXPECT_EQ(controller->lastError(), text) << "an install that works leaves no error";
            EXPECT_EQ(controller->lastMessage(), text);
        }
        EXPECT_EQ(test.alerts.shown.size(), asked ? 1u : 0u);
        if (asked) {
            EXPECT_EQ(test.alerts.shown[0].messageText, "dialog.existing_schedule.title");
            EXPECT_EQ(test.alerts.shown[0].informativeText, "found: wake at 8:15AM weekdays only");
        }
    }
}

}  // namespace
}  // namespace dorvane
