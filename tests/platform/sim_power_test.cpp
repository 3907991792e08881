#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include "platform/linux/event_loop.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/sim_power.h"
#include "support/fakes.h"
#include "support/sim_notebook.h"
#include "system/command_runner.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using testing::SimNotebook;

// Lets the loop turn for a while: long enough for file events that are already pending.
void settle(EventLoop& loop, std::chrono::milliseconds duration = 150ms) {
    auto stopper = loop.startTimer(TimerSpec{duration, 0ms, 0ms}, [&] { loop.stop(); });
    loop.run();
}

bool runUntil(EventLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool held = false;
    auto check = loop.startTimer(TimerSpec{10ms, 10ms, 0ms}, [&] {
        held = done();
        if (held || std::chrono::steady_clock::now() >= deadline) {
            loop.stop();
        }
    });
    loop.run();
    return held;
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

// The controller on the real Linux backend and the simulated notebook; only the drawing is faked.
struct LinuxApp {
    SimNotebook notebook;
    testing::TestPlatform fakes;
    EventLoop loop;
    SimPowerManagement power{loop, notebook.statePath()};
    SimClock clock{power};
    SimWorkspace workspace{power, [](const std::string&) {}};
    SpawnCommandRunner runner{fakes.bundle};
    std::optional<int> exitStatus;
    LinuxApplication application{{}, [this](int status) {
                                     exitStatus = status;
                                     loop.stop();
                                 }};
    std::shared_ptr<TRBController> controller;

    LinuxApp() {
        control({"privilege", "grant"});
        controller = std::make_shared<TRBController>(Platform{
            application, fakes.statusBar, fakes.alerts, fakes.pasteboard, workspace, fakes.defaults, loop,
            power, fakes.urlSession, fakes.bundle, fakes.locale, clock, fakes.processInfo, runner,
            fakes.propertyLists, SimNotebook::toolPaths()});
        application.setDelegateWillTerminate([this] { controller->applicationWillTerminate(); });
    }
    void control(const std::vector<std::string>& arguments) {
        const auto result = notebook.control(arguments);
        EXPECT_EQ(result.status, 0) << result.error;
    }
    sim::State state() { return *sim::StateFile(notebook.statePath()).read(nullptr); }
    void start() {
        loop.post([this] { controller->applicationDidFinishLaunching(); });
        settle(loop, 50ms);
    }
};

TEST(LinuxBackend, PullingTheAdapterWithTheLidClosedEndsWithTheNotebookAsleep) {
    LinuxApp app;
    app.start();
    EXPECT_TRUE(app.state().sleepDisabled);
    app.loop.post([&] {
        app.control({"lid", "closed"});
        app.control({"power", "battery"});
    });
    EXPECT_TRUE(runUntil(app.loop, [&] { return app.state().asleep; }));
    const sim::State state = app.state();
    EXPECT_FALSE(state.sleepDisabled);
    EXPECT_EQ(app.controller->lastMessage(), "status.unplugged_lid_closed");
    std::vector<std::string> kinds;
    for (const auto& event : state.events)
        kinds.push_back(event.kind);
    EXPECT_EQ(kinds,
              (std::vector<std::string>{"lid", "power", "sleep-request", "acknowledged", "sleep"}));
}

}  // namespace
}  // namespace dorvane
