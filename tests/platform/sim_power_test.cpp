#include <gtest/gtest.h>

#include "platform/linux/event_loop.h"
#include "platform/linux/sim_power.h"
#include "support/sim_notebook.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using testing::SimNotebook;

// Lets the loop turn for a while: long enough for file events that are already pending.
void settle(EventLoop& loop, std::chrono::milliseconds duration = 150ms) {
    auto stopper = loop.startTimer(TimerSpec{duration, 0ms, 0ms}, [&] { loop.stop(); });
    loop.run();
}

struct Notifications {
    int powerSource = 0;
    std::vector<std::uint32_t> systemPower;
    int workspaceWakes = 0;
    bool operator==(const Notifications&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Notifications& n) {
    out << "{power source " << n.powerSource << ", system power [";
    for (const auto message : n.systemPower)
        out << std::hex << message << std::dec << " ";
    return out << "], wakes " << n.workspaceWakes << "}";
}

TEST(SimPower, EachVerbGivesExactlyItsNotifications) {
    SimNotebook notebook;
    Notifications seen;
    struct Context {
        Notifications* seen;
        SimPowerManagement* power;
    };
    struct Step {
        std::vector<std::string> verb;
        bool throughPmset;
        Notifications want;
    };
    const Step steps[] = {
        {{"power", "battery"}, false, {1, {}, 0}},
        {{"power", "battery", "50"}, false, {1, {}, 0}},
        {{"power", "battery", "50"}, false, {0, {}, 0}},
        {{"lid", "closed"}, false, {0, {}, 0}},
        {{"clock", "set", "23:00"}, false, {0, {}, 0}},
        {{"sleepnow"}, true, {0, {kIOMessageSystemWillSleep}, 0}},
        {{"wake"}, false, {0, {kIOMessageSystemHasPoweredOn}, 1}},
        {{"wake"}, false, {0, {}, 0}},
    };
    EventLoop loop;
    SimPowerManagement power(loop, notebook.statePath());
    Context context{&seen, &power};
    RunLoopSource* source = power.createPowerSourceNotification(
        [](void* c) { ++static_cast<Context*>(c)->seen->powerSource; }, &context);
    power.addRunLoopSource(source);
    NotificationPort* port = nullptr;
    std::uint32_t notifier = 0;
    const std::uint32_t root = power.registerForSystemPower(
        &context, &port,
        [](void* c, std::uint32_t, std::uint32_t message, void* argument) {
            auto* ctx = static_cast<Context*>(c);
            ctx->seen->systemPower.push_back(message);
            if (message == kIOMessageSystemWillSleep) {
                ctx->power->allowPowerChange(1, reinterpret_cast<std::intptr_t>(argument));
            }
        },
        &notifier);
    ASSERT_NE(root, 0u);
    power.addRunLoopSource(power.notificationPortRunLoopSource(port));
    power.addWakeObserver(&seen, [&] { ++seen.workspaceWakes; });

    for (const Step& step : steps) {
        SCOPED_TRACE(step.verb[0]);
        seen = Notifications{};
        loop.post([&] {
            const auto result =
                step.throughPmset ? notebook.tool("pmset", step.verb) : notebook.control(step.verb);
            EXPECT_EQ(result.status, 0) << result.error;
        });
        settle(loop);
        EXPECT_EQ(seen, step.want);
    }
    sim::StateFile file(notebook.statePath());
    EXPECT_FALSE(file.read(nullptr)->asleep);
    SimClock clock(power);
    EXPECT_EQ(clock.localTime(clock.now()).hour, 23) << "the clock follows the notebook's offset";
}

}  // namespace
}  // namespace dorvane
