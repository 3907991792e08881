#include <gtest/gtest.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <thread>

#include "platform/linux/event_loop.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/signal_watch.h"
#include "platform/linux/sim_power.h"
#include "support/fakes.h"
#include "support/sim_notebook.h"
#include "system/command_runner.h"
#include "base/unique_fd.h"

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
    // A fresh loop for each step, since stop() is final for a run; the power manager's watch
    // moves with it.
    struct Step {
        std::vector<std::string> verb;
        bool throughPmset;
        Notifications want;
    };
    const Step steps[] = {
        {{"power", "battery"}, false, {1, {}, 0}},
        {{"power", "battery", "50"}, false, {1, {}, 0}},
        {{"power", "battery", "50"}, false, {0, {}, 0}},
        {{"power", "unknown"}, false, {1, {}, 0}},
        {{"lid", "closed"}, false, {0, {}, 0}},
        {{"privilege", "grant"}, false, {0, {}, 0}},
        {{"repeat", "set", "wakeorpoweron", "MTWRFSU", "06:00:00"}, false, {0, {}, 0}},
        {{"clock", "set", "23:00"}, false, {0, {}, 0}},
        {{"fail", "pmset", "-g", "ps"}, false, {0, {}, 0}},
        {{"events"}, false, {0, {}, 0}},
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
        // Each step needs a loop run of its own: stop() ends a run for good.
        EventLoop& current = loop;
        current.post([&] {
            const auto result =
                step.throughPmset ? notebook.tool("pmset", step.verb) : notebook.control(step.verb);
            EXPECT_EQ(result.status, 0) << result.error;
        });
        settle(current);
        EXPECT_EQ(seen, step.want);
    }
    sim::StateFile file(notebook.statePath());
    EXPECT_FALSE(file.read(nullptr)->asleep);
    SimClock clock(power);
    EXPECT_EQ(clock.localTime(clock.now()).hour, 23) << "the clock follows the notebook's offset";
}

// Alerts that stay open on the real loop until the test answers them from another thread.
class LoopAlerts : public Alerts {
public:
    explicit LoopAlerts(EventLoop& loop)
        : loop_(loop), answers_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        loop_.watch(answers_.get(), [this] {
            std::uint64_t value = 0;
            if (::read(answers_.get(), &value, sizeof value) == sizeof value) {
                answer_ = static_cast<int>(value);
            }
        });
    }
    AlertResponse runModal(const Alert& alert) override {
        shown.push_back(alert.messageText);
        answer_.reset();
        std::thread helper([this, alert] { whileOpen(alert); });
        loop_.runModal([this] { return answer_.has_value(); });
        helper.join();
        return {*answer_, {}};
    }
    // Called on a thread of its own while the alert is open; it must end by answering.
    std::function<void(const Alert&)> whileOpen = [this](const Alert&) {
        answer(kAlertFirstButtonReturn);
    };
    void answer(int code) {
        const std::uint64_t value = static_cast<std::uint64_t>(code);
        [[maybe_unused]] auto written = ::write(answers_.get(), &value, sizeof value);
    }
    std::vector<std::string> shown;

private:
    EventLoop& loop_;
    UniqueFd answers_;
    std::optional<int> answer_;
};

// Records the runs, then makes them for real.
class RecordingRunner : public CommandRunner {
public:
    explicit RecordingRunner(CommandRunner& inner) : inner_(inner) {}
    TRBCommandResult run(const std::string& program,
                         const std::vector<std::string>& arguments) override {
        std::string line = program.substr(program.rfind('/') + 1);
        for (const auto& argument : arguments) {
            line += " " + (argument.find('/') == std::string::npos
                               ? argument
                               : argument.substr(argument.rfind('/') + 1));
        }
        runs.push_back(line);
        return inner_.run(program, arguments);
    }
    std::vector<std::string> runs;

private:
    CommandRunner& inner_;
};

// The controller on the real Linux backend and the simulated notebook; only the drawing is faked.
struct LinuxApp {
    SimNotebook notebook;
    testing::TestPlatform fakes;
    EventLoop loop;
    SimPowerManagement power{loop, notebook.statePath()};
    SimClock clock{power};
    SimWorkspace workspace{power, [](const std::string&) {}};
    LoopAlerts alerts{loop};
    SpawnCommandRunner spawn{fakes.bundle};
    RecordingRunner runner{spawn};
    std::optional<int> exitStatus;
    LinuxApplication application{{}, [this](int status) {
                                     exitStatus = status;
                                     loop.stop();
                                 }};
    std::shared_ptr<TRBController> controller;

    LinuxApp() {
        control({"privilege", "grant"});
        controller = std::make_shared<TRBController>(Platform{
            application, fakes.statusBar, alerts, fakes.pasteboard, workspace, fakes.defaults, loop,
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

TEST(LinuxBackend, AWakeOnTheAdapterTurnsTheSwitchOnBeforeEachRefresh) {
    LinuxApp app;
    app.start();
    app.loop.post([&] {
        app.notebook.tool("sudo",
                          {"-n", SimNotebook::toolPath("pmset"), "-a", "disablesleep", "0"});
        ASSERT_TRUE(sim::StateFile(app.notebook.statePath())
                        .update(
                            [](sim::State& s) {
                                s.asleep = true;
                                return true;
                            },
                            nullptr));
    });
    settle(app.loop, 100ms);
    app.runner.runs.clear();
    app.loop.post([&] { app.control({"wake"}); });
    EXPECT_TRUE(runUntil(app.loop, [&] { return app.runner.runs.size() >= 10; }));
    const std::vector<std::string> one = {"pmset -g ps", "sudo -n pmset -a disablesleep 1",
                                          "pmset -g ps", "pmset -g",
                                          "ioreg -r -k AppleClamshellState -d 4"};
    std::vector<std::string> both = one;
    both.insert(both.end(), one.begin(), one.end());
    EXPECT_EQ(app.runner.runs, both)
        << "has-powered-on and the workspace wake: two complete refreshes";
    EXPECT_EQ(app.controller->lastMessage(), "status.power_adapter_active");
}

TEST(LinuxBackend, APowerEventDuringTheQuitAlertWaitsAndQuitAnywayExitsWithSleepRestored) {
    LinuxApp app;
    app.fakes.defaults.values["quietHoursEnabled"] = true;
    app.start();
    ASSERT_TRUE(app.state().wakeSlot.has_value());
    ASSERT_TRUE(app.state().sleepDisabled);
    app.control({"fail", "sudo", "-n", "pmset", "repeat", "cancel", "--stderr", "pmset: busy"});
    app.alerts.whileOpen = [&](const Alert&) {
        // The adapter is plugged in again while the alert is open: its refresh would disable
        // sleep again if it ran now.
        app.control({"power", "battery"});
        app.control({"power", "ac"});
        std::this_thread::sleep_for(300ms);
        app.alerts.answer(kAlertSecondButtonReturn);  // quit anyway
    };
    app.loop.post([&] { app.controller->restoreAndQuit(); });
    app.loop.run();
    EXPECT_EQ(app.alerts.shown, std::vector<std::string>{"dialog.quiet_hours_off_partial.title"});
    EXPECT_EQ(app.exitStatus, 0);
    EXPECT_FALSE(app.state().sleepDisabled) << "the app exited with normal sleep";
}

TEST(LinuxBackend, SigtermRestoresSilently) {
    LinuxApp app;
    SignalWatch signals(app.loop, [&](int) { app.application.terminate(); });
    app.fakes.defaults.values["quietHoursEnabled"] = true;
    app.start();
    ASSERT_TRUE(app.state().sleepDisabled);
    ASSERT_TRUE(app.state().wakeSlot.has_value());
    app.loop.post([] { ::kill(::getpid(), SIGTERM); });
    app.loop.run();
    EXPECT_EQ(app.exitStatus, 0);
    EXPECT_FALSE(app.controller->isQuitting());
    EXPECT_FALSE(app.state().sleepDisabled);
    EXPECT_FALSE(app.state().wakeSlot.has_value());
    EXPECT_TRUE(app.alerts.shown.empty());
}

}  // namespace
}  // namespace dorvane
