#include <gtest/gtest.h>

#include "support/fake_notebook.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using testing::Run;
using namespace testing::runs;

enum class Switch { On, Off, Unreadable };
enum class Quiet { Outside, Beginning, InForce };
enum class Fault {
    None,
    SudoPermission,
    SudoFails,
    SudoIgnored,
    SleepNow,
    PowerSource,
    WakeGone,
    WakeGoneForGood,
    WakeGoneWithoutPrivilege,
    WakeUnreadable,
    SleepOnlySchedule
};

struct Case {
    const char* what;
    RunMode mode;
    sim::Power power;
    Switch sleepSwitch;
    sim::Lid lid;
    Quiet quiet;
    Fault fault;
    std::vector<Run> runs;
    std::string message;
    std::optional<std::string> error;
    bool effective;
    std::string title;
    bool apply = true;
    int charge = 100;  // below 0: the listing carries no readable charge
};

constexpr auto M0 = RunMode::PowerAdapter;
constexpr auto M1 = RunMode::AlwaysAwake;
constexpr auto AC = sim::Power::AC;
constexpr auto BAT = sim::Power::Battery;
constexpr auto UNK = sim::Power::Unknown;
constexpr auto OPEN = sim::Lid::Open;
constexpr auto CLOSED = sim::Lid::Closed;
const std::string kBefore = "status.initializing";
const Run kWakeAt6{kPaths.sudo,
                   {"-n", kPaths.pmset, "repeat", "wakeorpoweron", "MTWRFSU", "06:00:00"}};

const Case kCases[] = {
    // clang-format off
    {"adapter, switch off: turned on", M0, AC, Switch::Off, OPEN, Quiet::Outside, Fault::None, {PS, G, IO, ON, G}, "status.applied_power_adapter", std::nullopt, false, "status.awake"},
    {"adapter, the switch cannot be set: no retry", M0, AC, Switch::Off, OPEN, Quiet::Outside, Fault::SudoFails, {PS, G, IO, ON}, "error.enable_lid_closed_failed", "error.enable_lid_closed_failed", false, "status.error"},
    {"adapter, switch on: as desired", M0, AC, Switch::On, OPEN, Quiet::Outside, Fault::None, {PS, G, IO}, "status.power_adapter_active", std::nullopt, false, "status.awake"},
    {"battery, lid open, switch on: turned off, no sleep", M0, BAT, Switch::On, OPEN, Quiet::Outside, Fault::None, {PS, G, IO, OFF, G}, "status.applied_battery_sleep", std::nullopt, false, "status.sleep"},
    {"battery, no lid to read: no sleep", M0, BAT, Switch::Off, sim::Lid::None, Quiet::Outside, Fault::None, {PS, G, IO}, "status.battery_normal_sleep", std::nullopt, false, "status.sleep"},
    {"battery, lid closed, switch on: off, then sleep", M0, BAT, Switch::On, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, OFF, G, SLEEP}, "status.unplugged_lid_closed", std::nullopt, false, "status.sleep"},
    {"battery, lid closed, switch off: straight to sleep", M0, BAT, Switch::Off, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, SLEEP}, "status.unplugged_lid_closed", std::nullopt, false, "status.sleep"},
    {"battery, lid closed, the switch stays on: no sleep", M0, BAT, Switch::On, CLOSED, Quiet::Outside, Fault::SudoIgnored, {PS, G, IO, OFF, G, OFF, G}, "error.sleep_switch_unchanged", "error.sleep_switch_unchanged", false, "status.error"},
    {"always awake on battery with the lid closed: the panel goes dark", M1, BAT, Switch::On, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, DARK}, "status.always_awake_active", std::nullopt, false, "status.awake"},
    {"always awake, switch off: turned on", M1, BAT, Switch::Off, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, ON, G, DARK}, "status.applied_always_awake", std::nullopt, false, "status.awake"},
    {"always awake, source unknown", M1, UNK, Switch::On, OPEN, Quiet::Outside, Fault::None, {PS, G, IO}, "status.always_awake_active", std::nullopt, false, "status.awake"},
    {"unknown source: waiting, no lid step", M0, UNK, Switch::On, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO}, "status.waiting_power", std::nullopt, false, "status.sleep"},
    {"unknown source inside quiet hours decides off", M0, UNK, Switch::On, OPEN, Quiet::Beginning, Fault::None, {PS, G, IO, SCHED, OFF, G, SLEEP}, "status.entered_quiet_hours", std::nullopt, true, "status.sleep"},
    {"quiet hours begin on the adapter", M0, AC, Switch::On, OPEN, Quiet::Beginning, Fault::None, {PS, G, IO, SCHED, OFF, G, SLEEP}, "status.entered_quiet_hours", std::nullopt, true, "status.ac_power"},
    {"quiet hours already in force: no second sleep", M0, AC, Switch::Off, OPEN, Quiet::InForce, Fault::None, {PS, G, IO}, "status.power_adapter_active", std::nullopt, true, "status.ac_power"},
    {"quiet hours begin with the lid closed on battery: two sleep requests", M0, BAT, Switch::On, CLOSED, Quiet::Beginning, Fault::None, {PS, G, IO, SCHED, OFF, G, SLEEP, SLEEP}, "status.entered_quiet_hours", std::nullopt, true, "status.sleep"},
    {"quiet hours begin, sleep request fails", M0, AC, Switch::Off, OPEN, Quiet::Beginning, Fault::SleepNow, {PS, G, IO, SCHED, SLEEP}, "status.entered_quiet_hours", "error.sleep_now_failed", true, "status.error"},
    {"quiet hours begin, their wake event removed: set again, then sleep", M0, AC, Switch::Off, OPEN, Quiet::Beginning, Fault::WakeGone, {PS, G, IO, SCHED, SCHED, kWakeAt6, SCHED, SLEEP}, "status.entered_quiet_hours", std::nullopt, true, "status.ac_power"},
    {"quiet hours begin, their wake event cannot be set again: no sleep", M0, AC, Switch::Off, OPEN, Quiet::Beginning, Fault::WakeGoneForGood, {PS, G, IO, SCHED, SCHED, kWakeAt6, ON, G}, "no wake: error.set_wake_failed", "no wake: error.set_wake_failed", true, "status.error"},
    {"quiet hours begin, their wake event cannot be set again for want of privilege: says so", M0, AC, Switch::Off, OPEN, Quiet::Beginning, Fault::WakeGoneWithoutPrivilege, {PS, G, IO, SCHED, SCHED, kWakeAt6, ON, G}, "no wake: error.need_pmset_permission_with_wake", "no wake: error.need_pmset_permission_with_wake", true, "status.error"},
    {"quiet hours begin, the schedule cannot be read: no sleep", M0, AC, Switch::Off, OPEN, Quiet::Beginning, Fault::WakeUnreadable, {PS, G, IO, SCHED, ON, G}, "no wake: error.read_wake_schedule_failed", "no wake: error.read_wake_schedule_failed", true, "status.error"},
    {"quiet hours begin with a schedule that only sleeps: no sleep, the switch kept on", M0, AC, Switch::On, OPEN, Quiet::Beginning, Fault::SleepOnlySchedule, {PS, G, IO, SCHED}, "no wake: error.schedule_without_wake", "no wake: error.schedule_without_wake", true, "status.error"},
    {"switch unreadable, lid closed on battery: switch off tried, no sleep", M0, BAT, Switch::Unreadable, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, OFF, G}, kBefore, "error.read_sleep_switch_failed", false, "status.error"},
    {"switch unreadable on the adapter: message unchanged", M0, AC, Switch::Unreadable, OPEN, Quiet::Outside, Fault::None, {PS, G, IO}, kBefore, "error.read_sleep_switch_failed", false, "status.error"},
    {"privilege missing, lid closed at the start of quiet hours: no sleep at all", M0, BAT, Switch::On, CLOSED, Quiet::Beginning, Fault::SudoPermission, {PS, G, IO, SCHED, OFF, OFF, OFF}, "error.need_pmset_permission", "error.need_pmset_permission", true, "status.error"},
    {"power source unreadable: unknown, waiting", M0, AC, Switch::On, OPEN, Quiet::Outside, Fault::PowerSource, {PS, G, IO}, "status.waiting_power", "error.read_power_state_failed", false, "status.error"},
    {"always awake inside the window: no quiet action", M1, AC, Switch::On, OPEN, Quiet::Beginning, Fault::None, {PS, G, IO}, "status.always_awake_active", std::nullopt, false, "status.awake"},
    {"without apply nothing changes", M0, AC, Switch::Off, CLOSED, Quiet::Beginning, Fault::None, {PS, G, IO}, kBefore, std::nullopt, true, "status.ac_power", false},
    {"without apply an undecidable state still says so", M0, UNK, Switch::Off, OPEN, Quiet::Outside, Fault::None, {PS, G, IO}, "status.waiting_power", std::nullopt, false, "status.sleep", false},
    {"floor: below it, lid open, switch off stays off", M1, BAT, Switch::Off, OPEN, Quiet::Outside, Fault::None, {PS, G, IO}, "floor 8/10", std::nullopt, false, "status.sleep", true, 8},
    {"floor: below it, lid closed: cleared, then sleep", M1, BAT, Switch::On, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, OFF, G, SLEEP}, "status.unplugged_lid_closed", std::nullopt, false, "status.sleep", true, 8},
    {"floor: no charge readable", M1, BAT, Switch::On, CLOSED, Quiet::Outside, Fault::None, {PS, G, IO, DARK}, "status.always_awake_active", std::nullopt, false, "status.awake", true, -1},
    // clang-format on
};

// What the tools answer in place of the machine under each fault.
const std::multimap<Fault, std::pair<Run, TRBCommandResult>> kFaultAnswers = {
    {Fault::SudoFails, {ON, testing::failed(1, "pmset: failure")}},
    {Fault::SudoIgnored, {ON, testing::succeeded()}},
    {Fault::SudoIgnored, {OFF, testing::succeeded()}},
    {Fault::SleepNow, {SLEEP, testing::failed(1, "", "Sleep failed")}},
    {Fault::PowerSource, {PS, testing::failed(1)}},
    {Fault::WakeGoneForGood, {kWakeAt6, testing::failed(1, "pmset: failure")}},
    {Fault::WakeGoneWithoutPrivilege,
     {kWakeAt6, testing::failed(1, "", "sudo: a password is required")}},
    {Fault::WakeUnreadable, {SCHED, testing::failed(1)}},
};

TEST(Refresh, FollowsThePolicyStepByStep) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.what);
        testing::TestPlatform test;
        test.bundle.texts["status.battery_floor_format"] = "floor %ld/%ld";
        test.bundle.texts["error.quiet_hours_without_wake_format"] = "no wake: %@";
        testing::FakeNotebook notebook(test.commands, kPaths);
        notebook.state.power = c.power;
        notebook.state.batteryPercent = std::max(c.charge, 0);
        if (c.charge < 0) {
            notebook.fail(PS, testing::succeeded("Now drawing from 'Battery Power'\n"));
        }
        notebook.state.lid = c.lid;
        notebook.state.sleepDisabled = c.sleepSwitch == Switch::On;
        notebook.state.sleepSwitchEverSet = true;
        notebook.state.privilegeInstalled = c.fault != Fault::SudoPermission;
        if (c.sleepSwitch == Switch::Unreadable) {
            notebook.fail(G, testing::failed(1, "pmset: error"));
        }
        for (auto [answer, end] = kFaultAnswers.equal_range(c.fault); answer != end; ++answer) {
            notebook.fail(answer->second.first, answer->second.second);
        }
        if (c.fault == Fault::SleepOnlySchedule) {
            notebook.state.offSlot = sim::RepeatEvent{"sleep", "MTWRFSU", "22:00:00"};
        } else if (c.fault < Fault::WakeGone || c.fault > Fault::WakeGoneWithoutPrivilege) {
            notebook.state.wakeSlot = sim::RepeatEvent{"wake", "MTWRF", "08:15:00"};
        }

        auto controller = test.makeController();
        controller->setStatusItem(test.statusBar.createStatusItem());
        controller->setRunMode(c.mode);
        controller->setLastMessage(kBefore);
        controller->setLastError("an earlier error");
        controller->setQuietHoursEnabled(true);
        controller->setQuietHoursStart("22:00");
        controller->setQuietHoursEnd("06:00");
        test.clock.setLocalTime(c.quiet == Quiet::Outside ? 12 : 23, 30);
        controller->setWasEffectiveQuietHours(c.quiet == Quiet::InForce);

        controller->refreshWithApplyChange(c.apply);

        EXPECT_EQ(test.commands.runs, c.runs);
        EXPECT_EQ(controller->lastMessage(), c.message);
        EXPECT_EQ(controller->lastError(), c.error);
        EXPECT_EQ(controller->wasEffectiveQuietHours(), c.effective);
        EXPECT_EQ(test.statusBar.lastCreated->title, c.title);
        EXPECT_TRUE(test.alerts.shown.empty()) << "a refresh opens no alert";
    }
}

TEST(Refresh, AFailedWakeCheckHoldsForTheRestOfItsWindowOnly) {
    testing::NotebookPlatform f;
    auto& [test, notebook, controller] = f;
    notebook.state.offSlot = sim::RepeatEvent{"sleep", "MTWRFSU", "22:00:00"};
    controller->setQuietHoursEnabled(true);
    controller->setQuietHoursStart("22:00");
    controller->setQuietHoursEnd("06:00");
    for (const int hour : {23, 1, 3}) {
        test.clock.setLocalTime(hour, 0);
        controller->refreshWithApplyChange(true);
        EXPECT_TRUE(notebook.state.sleepDisabled) << "kept as outside quiet hours at " << hour;
    }
    EXPECT_EQ(notebook.sleepRequests, 0);
    notebook.state.wakeSlot = sim::RepeatEvent{"wake", "MTWRFSU", "06:00:00"};
    for (const int hour : {12, 23}) {
        test.clock.setLocalTime(hour, 0);
        controller->refreshWithApplyChange(true);
    }
    EXPECT_EQ(notebook.sleepRequests, 1) << "the next window begins afresh";
    EXPECT_FALSE(notebook.state.sleepDisabled);
}

// Each step: the power source, the charge and, when set, a floor another program stores first;
// then the switch after the refresh.
struct FloorStep {
    sim::Power power;
    int charge;
    bool awake;
    std::optional<DefaultsValue> floor = {};
};
using I = std::int64_t;

TEST(Refresh, TheFloorHoldsUntilTheChargeClimbsClearOrTheAdapterReturns) {
    // clang-format off
    const std::pair<const char*, std::vector<FloorStep>> cases[] = {
        {"a wobble around the floor does not flap", {{BAT, 11, true}, {BAT, 10, false}, {BAT, 11, false}, {BAT, 12, false}, {BAT, 10, false}}},
        {"three points above the floor let go", {{BAT, 10, false}, {BAT, 13, true}, {BAT, 12, true}}},
        {"the adapter ends the hold", {{BAT, 9, false}, {AC, 9, true}, {BAT, 11, true}}},
        {"a charge that cannot be read keeps the hold", {{BAT, 10, false}, {BAT, 101, false}, {BAT, 11, false}}},
        {"a power source that cannot be read keeps the hold", {{BAT, 9, false}, {UNK, 9, false}, {BAT, 12, false}, {BAT, 13, true}}},
        {"a floor raised while running acts at the next refresh", {{BAT, 14, true}, {BAT, 14, false, I{15}}, {BAT, 17, false}, {BAT, 18, true}}},
        {"a floor turned off ends the hold", {{BAT, 8, false}, {BAT, 8, true, I{0}}}},
        {"the lowest floor that is on", {{BAT, 2, true, I{1}}, {BAT, 1, false}}},
        {"the highest floor", {{BAT, 50, false, I{50}}}},
        {"out of range reads as 10", {{BAT, 11, true, I{51}}, {BAT, 10, false}, {AC, 10, true, I{-1}}, {BAT, 10, false}}},
        {"a number stored as text counts", {{BAT, 15, false, std::string("15")}}},
        {"anything else reads as 10", {{BAT, 11, true, std::string("fifteen")}, {BAT, 10, false, DefaultsDictionary{}}}},
        {"a boolean or a fraction reads as 10", {{BAT, 10, false, false}, {BAT, 9, false, true}, {BAT, 10, false, std::string("0.1")}, {BAT, 10, false, std::string("0,2")}}},
        {"only an exact 0 turns it off", {{BAT, 5, true, std::string(" 0 ")}}},
    };
    // clang-format on
    for (const auto& [what, steps] : cases) {
        SCOPED_TRACE(what);
        testing::NotebookPlatform f;
        auto& [test, notebook, controller] = f;
        controller->setRunMode(M1);
        for (const FloorStep& step : steps) {
            if (step.floor) {
                test.defaults.values["batteryFloorPercent"] = *step.floor;
            }
            notebook.state.power = step.power;
            notebook.state.batteryPercent = step.charge;
            controller->refreshWithApplyChange(true);
            EXPECT_EQ(notebook.state.sleepDisabled, step.awake) << step.charge << "%";
        }
    }
}

TEST(Refresh, TheThermalGuardLetsAHotMachineSleepUntilItCools) {
    using T = ThermalState;
    const auto none = std::optional<DefaultsValue>();
    // Each row: the thermal state at an earlier refresh and now, the run mode, power source, lid
    // and the guard's setting; then whether the switch stays on and this refresh slept the machine.
    // clang-format off
    const std::tuple<const char*, T, T, RunMode, sim::Power, sim::Lid, std::optional<DefaultsValue>, bool, bool> rows[] = {
        {"critical, lid closed on the adapter: cleared and asleep", T::Critical, T::Critical, M1, AC, CLOSED, none, false, true},
        {"critical in run mode 0 on the adapter, lid open: cleared", T::Critical, T::Critical, M0, AC, OPEN, none, false, false},
        {"serious, lid closed on battery: cleared and asleep", T::Serious, T::Serious, M1, BAT, CLOSED, none, false, true},
        {"serious, lid open on battery: runs on", T::Serious, T::Serious, M1, BAT, OPEN, none, true, false},
        {"serious, lid closed on the adapter: runs on", T::Serious, T::Serious, M1, AC, CLOSED, none, true, false},
        {"serious, power source unreadable: runs on", T::Serious, T::Serious, M1, UNK, CLOSED, none, true, false},
        {"serious after critical holds", T::Critical, T::Serious, M1, AC, OPEN, none, false, false},
        {"unknown after critical holds", T::Critical, T::Unknown, M1, AC, CLOSED, none, false, true},
        {"unknown never starts it", T::Unknown, T::Unknown, M1, AC, CLOSED, none, true, false},
        {"fair ends the hold", T::Critical, T::Fair, M1, AC, CLOSED, none, true, false},
        {"nominal ends the hold", T::Serious, T::Nominal, M1, BAT, CLOSED, none, true, false},
        {"turned off with false", T::Critical, T::Critical, M1, AC, CLOSED, false, true, false},
        {"turned off with 0", T::Critical, T::Critical, M1, AC, CLOSED, I{0}, true, false},
        {"a text does not turn it off", T::Critical, T::Critical, M1, AC, CLOSED, std::string("NO"), false, true},
    };
    // clang-format on
    for (const auto& [what, before, now, mode, power, lid, setting, awake, slept] : rows) {
        SCOPED_TRACE(what);
        testing::NotebookPlatform f;
        auto& [test, notebook, controller] = f;
        if (setting) {
            test.defaults.values["thermalGuardEnabled"] = *setting;
        }
        controller->setRunMode(mode);
        notebook.state.power = power;
        notebook.state.lid = lid;
        for (const T state : {before, now}) {
            test.processInfo.thermal = state;
            notebook.sleepRequests = 0;
            controller->refreshWithApplyChange(true);
        }
        EXPECT_EQ(notebook.state.sleepDisabled, awake);
        EXPECT_EQ(notebook.sleepRequests, slept ? 1 : 0);
        EXPECT_EQ(controller->lastMessage() == "status.thermal_guard", !awake);
    }
}

TEST(Refresh, TheLidStepRepeatsThePanelGoesDarkOncePerClosingAndQuietHoursBeginOncePerWindow) {
    // Each row: the run mode, the power source, the charge, whether a monitor is attached, the lid
    // and the hour at each refresh; then the sleep requests and how often the panel was turned off.
    // clang-format off
    const std::tuple<const char*, RunMode, sim::Power, int, std::optional<bool>, std::vector<sim::Lid>, std::vector<int>, int, int> rows[] = {
        {"kept awake in a bag: dark once per closing", M1, BAT, 100, false, {CLOSED, CLOSED, OPEN, CLOSED}, {12, 12, 12, 12}, 0, 2},
        {"a lid that cannot be read is no new closing", M1, BAT, 100, {}, {CLOSED, sim::Lid::None, CLOSED}, {12, 12, 12}, 0, 1},
        {"never dark on the adapter", M1, AC, 100, false, {CLOSED}, {12}, 0, 0},
        {"never dark while driving a monitor", M1, BAT, 100, true, {CLOSED}, {12}, 0, 0},
        {"at the floor it sleeps instead", M1, BAT, 5, false, {CLOSED}, {12}, 1, 0},
        {"run mode 0: asleep at each refresh while the lid stays closed", M0, BAT, 100, false, {CLOSED, CLOSED, CLOSED}, {12, 12, 12}, 3, 0},
        {"quiet hours begin at 23:00 and again the next evening", M0, AC, 100, false, {OPEN, OPEN, OPEN, OPEN}, {23, 23, 6, 22}, 2, 0},
    };
    // clang-format on
    for (const auto& [what, mode, power, charge, monitor, lids, hours, sleeps, darkenings] : rows) {
        SCOPED_TRACE(what);
        testing::NotebookPlatform f;
        auto& [test, notebook, controller] = f;
        controller->setRunMode(mode);
        controller->setQuietHoursEnabled(true);
        controller->setQuietHoursStart("22:00");
        controller->setQuietHoursEnd("06:00");
        notebook.state.power = power;
        notebook.state.batteryPercent = charge;
        test.workspace.externalDisplay = monitor;
        for (std::size_t i = 0; i < lids.size(); ++i) {
            notebook.state.lid = lids[i];
            test.clock.setLocalTime(hours[i], 0);
            controller->refreshWithApplyChange(true);
        }
        EXPECT_EQ(notebook.sleepRequests, sleeps);
        EXPECT_EQ(notebook.displaySleeps, darkenings);
    }
}

}  // namespace
}  // namespace dorvane
