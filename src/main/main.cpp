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
#include <string>
#include <string_view>
#include <vector>

#include "app/controller.h"
#include "base/atomic_file.h"
#include "base/instance_lock.h"
#include "control/control_client.h"
#include "control/control_server.h"
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

namespace {

using namespace dorvane;

// The control socket lives beside the notebook's state, in a folder only this user may enter.
std::string controlSocketPath(const std::filesystem::path& stateFolder) {
    return (stateFolder / "control" / "dorvane.sock").string();
}

// `dorvane <verb> ...`: asks the running Dorvane, or gathers the diagnosis without it.
int runCommandLine(const std::vector<std::string>& arguments,
                   const std::filesystem::path& stateFolder, const FailSafePlaces& places,
                   const InstallLayout& layout) {
    CommandLineOutcome outcome;
    if (arguments == std::vector<std::string>{kDiagnoseVerb}) {
        LibplistPropertyLists propertyLists;
        LinuxBundle bundle(layout, preferredLanguagesFromEnvironment(), propertyLists);
        const ToolPaths tools = layout.standInToolPaths();
        DiagnoseInputs inputs;
        inputs.facts = {{"Dorvane", bundle.shortVersion().value_or("unknown")},
                        {"Executable", layout.executablePath}};
        for (const auto& query : {"", "ps", "sched", "assertions", "therm"}) {
            inputs.runs.push_back({tools.pmset, *query ? std::vector<std::string>{"-g", query}
                                                       : std::vector<std::string>{"-g"}});
        }
        inputs.files = {
            {"Settings", defaultsPathFor(bundle.identifier().value_or(TRBLaunchAgentLabel))},
            {"Guardian record", places.switchRecord}};
        outcome = runDiagnose(inputs);
    } else {
        outcome = runControlCommand(arguments, controlSocketPath(stateFolder));
    }
    std::fputs(outcome.output.c_str(), stdout);
    std::fputs(outcome.error.c_str(), stderr);
    return outcome.status;
}

// Serves the control socket on the main loop for as long as the application runs; absent, with
// the reason on standard error, when the socket cannot be made.
std::unique_ptr<ControlServer> startControlServer(
    EventLoop& loop, const std::filesystem::path& stateFolder,
    const std::shared_ptr<TRBController>& controller) {
    const std::string path = controlSocketPath(stateFolder);
    auto opened = openControlSocket(path);
    if (const auto* failure = std::get_if<std::string>(&opened)) {
        std::fprintf(stderr, "Dorvane: no control socket: %s.\n", failure->c_str());
        return nullptr;
    }
    return std::make_unique<ControlServer>(
        loop, loop, std::move(std::get<UniqueFd>(opened)), path,
        [&loop, weak = std::weak_ptr(controller)](std::string_view line) {
            return answerControlLine(line, [&](const ControlRequest& request) {
                const auto self = weak.lock();
                return self ? self->answerControlRequest(request, loop.isModal())
                            : controlErrorLine("Dorvane is quitting");
            });
        });
}

}  // namespace

int main(int argc, char** argv) {
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
    if (isControlVerb(std::string(flag)) || flag == kDiagnoseVerb) {
        return runCommandLine(std::vector<std::string>(argv + 1, argv + argc), stateFolder, places,
                              layout);
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
    // Made once the instance lock is ours, so a socket left at its name by a crash is stale.
    std::unique_ptr<ControlServer> controlServer =
        startControlServer(loop, stateFolder, controller);
    application.addExitStep([&] {
        if (controlServer) {
            controlServer->close();
        }
    });
    terminate = [&] { application.terminate(); };

    frontEnd->start(terminate);
    loop.post([&] { controller->applicationDidFinishLaunching(); });
    loop.run();
    return 0;
}
