#include <gtest/gtest.h>

#include <array>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "base/run_command.h"
#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using namespace testing::runs;

// How a tool misbehaves, as the runner hands it on (a hung tool timed out, invalid UTF-8 as empty
// text, a flood whole). The app tells a failure, the password text and junk apart: a failure that
// mentions a password or names sudo, in either stream and any case, is a missing privilege.
enum Kind { kFails, kNeedsPassword, kJunk };
// clang-format off
const std::tuple<const char*, Kind, TRBCommandResult> kFaults[] = {
    {"fails with a message", kFails, testing::failed(1, "pmset: internal error")},
    {"fails without a word", kFails, testing::failed(1)},
    {"cannot be started", kFails, testing::failed(-1, "No such file or directory")},
    {"hangs", kFails, {kTimedOutStatus, "", "error.command_timed_out"}},
    {"fails with the password text", kNeedsPassword, testing::failed(1, "sudo: a password is required")},
    {"fails naming sudo only", kNeedsPassword, testing::failed(1, "Sudo refused")},
    {"fails with the password in capitals on standard output", kNeedsPassword, testing::failed(1, "", "PASSWORD needed")},
    {"prints garbage", kJunk, testing::succeeded("\xc2\xa7 odd text \xe4\xb8\xad")},
    {"prints nothing, or invalid UTF-8", kJunk, testing::succeeded()},
    {"prints 5 MB", kJunk, testing::succeeded(std::string(5 << 20, 'x'))},
};
// clang-format on

// What the app does to meet each command line: a refresh on the adapter with the switch off, a
// refresh on battery with the lid closed and the switch on, switching quiet hours on, and off.
// A tool that answers success with junk cannot always be caught: a schedule listing without
// events reads as no events, so switching quiet hours off then believes the event gone.
enum class Scenario { Adapter, LidClosed, QuietOn, QuietOff };

// Somebody else's event sits in the sleep slot throughout a refresh.
struct Machine : testing::NotebookPlatform {
    explicit Machine(Scenario scenario) {
        controller->setStatusItem(test.statusBar.createStatusItem());
        test.bundle.texts["menu.label_format"] = "%2$@";
        controller->setQuietHoursStart("22:00");
        controller->setQuietHoursEnd("06:00");
        notebook.state.sleepSwitchEverSet = true;
        if (scenario == Scenario::LidClosed) {
            notebook.state.sleepDisabled = true;
            notebook.state.power = sim::Power::Battery;
            notebook.state.lid = sim::Lid::Closed;
        }
        // Not for quiet hours: replacing somebody else's event is a question for the user.
        if (scenario == Scenario::Adapter || scenario == Scenario::LidClosed) {
            notebook.state.offSlot = sim::RepeatEvent{"shutdown", "MTWRFSU", "23:30:00"};
        }
        if (scenario == Scenario::QuietOff) {
            controller->setQuietHoursOn();
        }
    }
    // A row of the menu as it shows: 3 is the lid, 5 the status.
    std::string row(std::size_t index) const {
        return test.statusBar.lastCreated->menu->items.at(index).title;
    }
};

TEST(ToolFaults, EveryToolRunSurvivesEveryMisbehaviour) {
    // The status row each kind of fault leaves, in the order of the kinds.
    using Statuses = std::array<const char*, 3>;
    // clang-format off
    const std::tuple<testing::Run, Scenario, Statuses> rows[] = {
        {PS, Scenario::Adapter, {"error.read_power_state_failed", "error.read_power_state_failed", "status.waiting_power"}},
        {G, Scenario::Adapter, {"error.read_sleep_switch_failed", "error.read_sleep_switch_failed", "error.sleep_switch_unchanged"}},
        {IO, Scenario::Adapter, {"status.applied_power_adapter", "status.applied_power_adapter", "status.applied_power_adapter"}},
        {ON, Scenario::Adapter, {"error.enable_lid_closed_failed", "error.need_pmset_permission", "error.sleep_switch_unchanged"}},
        {OFF, Scenario::LidClosed, {"error.restore_normal_sleep_failed", "error.need_pmset_permission", "error.sleep_switch_unchanged"}},
        {SLEEP, Scenario::LidClosed, {"error.sleep_now_failed", "error.sleep_now_failed", "status.unplugged_lid_closed"}},
        {SCHED, Scenario::QuietOn, {"error.read_wake_schedule_failed", "error.read_wake_schedule_failed", "error.set_wake_failed"}},
        {{kPaths.sudo, {"-n", kPaths.pmset, "repeat", "wakeorpoweron", "MTWRFSU", "06:00:00"}}, Scenario::QuietOn, {"error.set_wake_failed", "error.need_pmset_permission_with_wake", "error.set_wake_failed"}},
        {SCHED, Scenario::QuietOff, {"error.read_wake_schedule_failed", "error.read_wake_schedule_failed", "status.power_adapter_active"}},
        {CANCEL, Scenario::QuietOff, {"error.set_wake_failed", "error.need_pmset_permission_with_wake", "status.power_adapter_active"}},
    };
    // clang-format on
    for (const auto& [run, scenario, statuses] : rows) {
        for (const auto& [what, kind, answer] : kFaults) {
            SCOPED_TRACE(::testing::PrintToString(run) + ": " + what);
            Machine machine(scenario);
            const auto offSlotBefore = machine.notebook.state.offSlot;
            const auto settingsBefore = machine.test.defaults.values;
            machine.notebook.fail(run, answer);
            machine.controller->setBatteryCharge(42);  // from a reading before this one
            const bool refresh = scenario == Scenario::Adapter || scenario == Scenario::LidClosed;
            machine.test.alerts.script.resize(refresh ? 0 : 1);  // a failure's alert, counted below

            if (refresh) {
                machine.controller->refreshWithApplyChange(true);
            } else if (scenario == Scenario::QuietOn) {
                machine.controller->setQuietHoursOn();
            } else {
                machine.controller->setQuietHoursOff();
            }
            EXPECT_EQ(machine.row(5), statuses[kind]);
            EXPECT_NE(machine.controller->batteryCharge(), 42) << "never older than the listing";
            if (run == IO) {
                EXPECT_EQ(machine.row(3), "value.lid.unknown") << "a failed reading is no open lid";
            }
            if (refresh) {
                EXPECT_EQ(machine.test.defaults.values, settingsBefore);
                EXPECT_EQ(machine.notebook.state.offSlot, offSlotBefore) << "somebody else's event";
            } else {
                // Quiet hours stay on, and are stored on, only with their wake event confirmed on
                // the machine; a failure either way is told in one alert.
                const bool failed = machine.row(5).starts_with("error.");
                const bool on = scenario == Scenario::QuietOn && !failed;
                EXPECT_EQ(machine.controller->quietHoursEnabled(), on);
                EXPECT_EQ(machine.test.defaults.objectForKey(defaults_keys::kQuietHoursEnabled),
                          std::optional<DefaultsValue>(on));
                EXPECT_EQ(machine.test.alerts.shown.size(), failed ? 1u : 0u);
            }
        }
    }
}

}  // namespace
}  // namespace dorvane
