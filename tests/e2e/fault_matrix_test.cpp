#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "sim_state.h"
#include "support/fakes.h"
#include "support/sim_notebook.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;

// How a tool misbehaves, as dorvane-sim's fail verb sets it for one command line.
struct FaultKind {
    const char* name;
    std::vector<std::string> options;
};
const FaultKind kFaults[] = {
    {"fails with a message", {"--status", "1", "--stderr", "pmset: internal error"}},
    {"fails with the password text", {"--status", "1", "--stderr", "sudo: a password is required"}},
    {"prints garbage", {"--status", "0", "--stdout", "\xc2\xa7 odd text \xe4\xb8\xad"}},
    {"prints invalid UTF-8", {"--status", "0", "--misbehave", "binary"}},
    {"prints nothing", {"--status", "0"}},
    {"prints 5 MB", {"--status", "0", "--misbehave", "flood"}},
    {"hangs", {"--misbehave", "hang"}},
};

// What the app does to meet each command line: a refresh on the adapter with the switch off, a
// refresh on battery with the lid closed and the switch on, switching quiet hours on, and off.
// A tool that answers success with junk cannot always be caught: a schedule listing without
// events reads as no events, so switching quiet hours off then believes the event gone.
enum class Scenario { Adapter, LidClosed, QuietOn, QuietOff };

// The controller on the simulated notebook with the real runner, whose time-out is short so the
// rows of a hanging tool stay fast. Somebody else's event sits in the sleep slot.
struct Machine {
    testing::SimNotebook notebook;
    testing::TestPlatform test;
    SpawnCommandRunner runner{test.bundle, 400ms};
    std::shared_ptr<TRBController> controller;

    Machine() {
        controller = std::make_shared<TRBController>(
            test.platform(runner, testing::SimNotebook::toolPaths()));
        controller->setStatusItem(test.statusBar.createStatusItem());
        control({"privilege", "grant"});
        control({"repeat", "set", "shutdown", "MTWRFSU", "23:30:00"});
        controller->setQuietHoursStart("22:00");
        controller->setQuietHoursEnd("06:00");
        test.clock.setLocalTime(12, 0);
    }
    void control(std::vector<std::string> arguments) {
        const auto result = notebook.control(arguments);
        ASSERT_EQ(result.status, 0) << result.error;
    }
    sim::State state() const { return *sim::StateFile(notebook.statePath()).read(nullptr); }
    std::string statusRow() const {
        return controller->lastError()           ? *controller->lastError()
               : controller->wakeScheduleError() ? *controller->wakeScheduleError()
                                                 : controller->lastMessage().value_or("");
    }
    void prepare(Scenario scenario) {
        if (scenario == Scenario::LidClosed) {
            controller->refreshWithApplyChange(true);  // on the adapter: the switch goes on
            control({"power", "battery"});
            control({"lid", "closed"});
        }
        // Somebody else's event is left out here: replacing one is a question for the user.
        if (scenario == Scenario::QuietOn || scenario == Scenario::QuietOff) {
            control({"repeat", "clear"});
        }
        if (scenario == Scenario::QuietOff) {
            controller->setQuietHoursOn();
            ASSERT_TRUE(controller->quietHoursEnabled());
        }
    }
    void act(Scenario scenario) {
        if (scenario == Scenario::QuietOn) {
            controller->setQuietHoursOn();
        } else if (scenario == Scenario::QuietOff) {
            controller->setQuietHoursOff();
        } else {
            controller->refreshWithApplyChange(true);
        }
    }
};

TEST(FaultMatrix, EveryToolRunSurvivesEveryMisbehaviour) {
    struct Row {
        std::vector<std::string> command;
        Scenario scenario;
        std::array<const char*, std::size(kFaults)> statusRow;  // one for each fault kind, in order
    };
    const char* const readPower = "error.read_power_state_failed";
    const char* const readSwitch = "error.read_sleep_switch_failed";
    const char* const enable = "error.enable_lid_closed_failed";
    const char* const restore = "error.restore_normal_sleep_failed";
    const char* const permission = "error.need_pmset_permission";
    const char* const waiting = "status.waiting_power";
    const char* const applied = "status.applied_power_adapter";
    const char* const sleeping = "status.unplugged_lid_closed";
    const char* const sleepFailed = "error.sleep_now_failed";
    const char* const readWake = "error.read_wake_schedule_failed";
    const char* const setWake = "error.set_wake_failed";
    const char* const wakePermission = "error.need_pmset_permission_with_wake";
    const char* const active = "status.power_adapter_active";
    // clang-format off
    const Row rows[] = {
        {{"pmset", "-g", "ps"}, Scenario::Adapter, {readPower, readPower, waiting, waiting, waiting, waiting, readPower}},
        {{"pmset", "-g"}, Scenario::Adapter, {readSwitch, readSwitch, enable, enable, enable, enable, readSwitch}},
        {{"ioreg", "-r", "-k", "AppleClamshellState", "-d", "4"}, Scenario::Adapter, {applied, applied, applied, applied, applied, applied, applied}},
        {{"sudo", "-n", "pmset", "-a", "disablesleep", "1"}, Scenario::Adapter, {enable, permission, enable, enable, enable, enable, enable}},
        {{"sudo", "-n", "pmset", "-a", "disablesleep", "0"}, Scenario::LidClosed, {restore, permission, restore, restore, restore, restore, restore}},
        {{"pmset", "sleepnow"}, Scenario::LidClosed, {sleepFailed, sleepFailed, sleeping, sleeping, sleeping, sleeping, sleepFailed}},
        {{"pmset", "-g", "sched"}, Scenario::QuietOn, {readWake, readWake, setWake, setWake, setWake, setWake, readWake}},
        {{"sudo", "-n", "pmset", "repeat", "wakeorpoweron", "MTWRFSU", "06:00:00"}, Scenario::QuietOn, {setWake, wakePermission, setWake, setWake, setWake, setWake, setWake}},
        {{"pmset", "-g", "sched"}, Scenario::QuietOff, {readWake, readWake, active, active, active, active, readWake}},
        {{"sudo", "-n", "pmset", "repeat", "cancel"}, Scenario::QuietOff, {setWake, wakePermission, active, active, active, active, setWake}},
    };
    // clang-format on
    for (const Row& row : rows) {
        for (std::size_t kind = 0; kind < std::size(kFaults); ++kind) {
            SCOPED_TRACE(row.command[0] + " " + row.command[1] + " ... " + kFaults[kind].name);
            Machine machine;
            machine.prepare(row.scenario);
            const auto before = machine.state();
            const auto settingsBefore = machine.test.defaults.values;
            std::vector<std::string> fail = {"fail"};
            fail.insert(fail.end(), row.command.begin(), row.command.end());
            fail.insert(fail.end(), kFaults[kind].options.begin(), kFaults[kind].options.end());
            machine.control(fail);

            const auto started = std::chrono::steady_clock::now();
            machine.act(row.scenario);
            EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "responsive";
            EXPECT_EQ(machine.statusRow(), row.statusRow[kind]);
            if (row.scenario == Scenario::Adapter || row.scenario == Scenario::LidClosed) {
                EXPECT_EQ(machine.test.defaults.values, settingsBefore);
                EXPECT_EQ(machine.state().offSlot, before.offSlot) << "somebody else's event";
            } else {
                // Quiet hours stay on only with their wake event confirmed on the machine.
                const bool failed = machine.statusRow().starts_with("error.");
                EXPECT_EQ(machine.controller->quietHoursEnabled(),
                          row.scenario == Scenario::QuietOn && !failed);
            }
        }
    }
}

}  // namespace
}  // namespace dorvane
