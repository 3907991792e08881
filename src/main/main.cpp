// Dorvane on Linux: the simulated notebook's backend with a terminal or line front end.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string_view>

#include "app/controller.h"
#include "base/atomic_file.h"
#include "base/instance_lock.h"
#include "platform/curl/curl_url_session.h"
#include "platform/linux/defaults_file.h"
#include "platform/linux/event_loop.h"
#include "platform/linux/libplist_property_lists.h"
#include "platform/linux/linux_application.h"
#include "platform/linux/linux_bundle.h"
#include "platform/linux/signal_watch.h"
#include "platform/linux/sim_power.h"
#include "platform/terminal/line_front_end.h"
#include "platform/terminal/terminal_front_end.h"
#include "system/command_runner.h"
#include "system/fail_safe.h"

int main(int argc, char** argv) {
    using namespace dorvane;
    // A parent may hand SIGCHLD over ignored; then no tool's exit status could be had.
    std::signal(SIGCHLD, SIG_DFL);
    // The lock and the switch record live beside the notebook's state the app already keeps.
    const std::filesystem::path stateFolder =
        std::filesystem::path(sim::StateFile::defaultPath()).parent_path();
    const FailSafePlaces places{(stateFolder / "dorvane.lock").string(),
                                (stateFolder / "sleep-switch.record").string()};
    const InstallLayout layout = InstallLayout::ofRunningProgram();
    const std::string_view flag = argc > 1 ? argv[1] : "";
    if (flag == kGuardianFlag) {
        return runGuardian(places, layout.standInToolPaths());
    }
    if (flag == kFailSafeFlag) {
        return runFailSafeCommand(places, layout.standInToolPaths());
    }
    EventLoop loop;
    std::function<void()> terminate;
    // Made first: the termination signals must be blocked before any other thread starts.
    SignalWatch signals(loop, [&](int) { terminate(); });

    // One Dorvane per machine, claimed before the settings are read or anything is cleaned up: a
    // second one would fight the first over the sleep switch, undo it when it quits, and
    // overwrite its settings.
    const std::string& lockPath = places.instanceLock;
    const InstanceLock instance(lockPath, {.patience = kStartLockPatience});
    std::string ownProgram = readWholeFile("/proc/self/comm").value_or("");
    if (!ownProgram.empty() && ownProgram.back() == '\n') {
        ownProgram.pop_back();
    }
    if (const auto refused = refusedStart(instance, lockPath, ownProgram, ::getuid())) {
        std::fprintf(stderr, "%s.\n", refused->message.c_str());
        if (!::isatty(STDIN_FILENO)) {
            LineFrontEnd(loop, STDIN_FILENO, STDOUT_FILENO).reportError(refused->message);
        }
        return refused->status;
    }
    // Held until the process ends, however it ends: then the guardian clears a switch we left set.
    const std::optional<UniqueFd> guardian = startGuardian(layout.executablePath);
    if (!guardian) {
        std::fprintf(stderr,
                     "Dorvane: cannot start the guardian: %s; a crash would leave sleep "
                     "disabled until the next start.\n",
                     std::strerror(errno));
    }

    LibplistPropertyLists propertyLists;
    LinuxBundle bundle(layout, preferredLanguagesFromEnvironment(), propertyLists);
    EnvironmentLocale locale;
    SimPowerManagement power(loop, sim::StateFile::defaultPath());
    SimClock clock(power);
    DefaultsFile defaults(defaultsPathFor(bundle.identifier().value_or(TRBLaunchAgentLabel)), loop,
                          propertyLists);
    SimProcessInfo processInfo(power);
    SpawnCommandRunner runner(bundle, signals.pendingDescriptor());
    CurlUrlSession urlSession;

    std::unique_ptr<FrontEnd> frontEnd;
    if (::isatty(STDIN_FILENO) && ::isatty(STDOUT_FILENO)) {
        frontEnd = makeTerminalFrontEnd(loop, layout, sim::StateFile::defaultPath());
    } else {
        frontEnd = std::make_unique<LineFrontEnd>(loop, STDIN_FILENO, STDOUT_FILENO);
    }
    SimWorkspace workspace(power, [&](const std::string& url) { frontEnd->openURL(url); });
    LinuxApplication application(
        {[&] { frontEnd->activate(); },
         [&](std::shared_ptr<const Menu> menu) { frontEnd->setMainMenu(std::move(menu)); }},
        [](int status) { std::exit(status); });

    // The one controller; main holds the only strong reference while the loop runs.
    Platform platform{application, *frontEnd, *frontEnd,     *frontEnd,
                      workspace,   defaults,  loop,          power,
                      urlSession,  bundle,    locale,        clock,
                      processInfo, runner,    propertyLists, layout.standInToolPaths()};
    platform.switchRecordPath = places.switchRecord;
    auto controller = std::make_shared<TRBController>(platform);
    // The status row says while the settings cannot be saved.
    defaults.setSaveStateHandler([&] { controller->rebuildMenu(); });
    application.setDelegateWillTerminate([&] {
        runner.limitRunsTo(std::chrono::steady_clock::now() + kShutDownRunBudget);
        controller->applicationWillTerminate();
    });
    application.addExitStep([&] { defaults.flushIfChanged(); });
    application.addExitStep([&] { frontEnd->restore(); });
    terminate = [&] { application.terminate(); };

    frontEnd->start(terminate);
    loop.post([&] { controller->applicationDidFinishLaunching(); });
    loop.run();
    return 0;
}
