// Dorvane on macOS: the AppKit, IOKit and CoreFoundation backend around the one controller.
// Our headers come first: IOKit's headers define the power messages' names as macros.
#include "app/controller.h"
#include "base/instance_lock.h"
#include "base/unique_fd.h"
#include "control/control_client.h"
#include "control/control_server.h"
#include "platform/mac/cf_defaults.h"
#include "platform/mac/cf_property_lists.h"
#include "platform/mac/iokit_power_management.h"
#include "platform/mac/mac_alerts.h"
#include "platform/mac/mac_application.h"
#include "platform/mac/mac_bundle.h"
#include "platform/mac/mac_descriptor_watch.h"
#include "platform/mac/mac_main_queue.h"
#include "platform/mac/mac_url_session.h"
#include "platform/mac/mac_workspace.h"
#include "system/command_runner.h"
#include "system/fail_safe.h"

#import <AppKit/AppKit.h>
#import <Foundation/Foundation.h>

#include <dispatch/dispatch.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace {

using namespace dorvane;

// The control socket lives in this user's own temporary folder, which no other user may enter;
// its path stays well inside the 104 bytes a socket address holds.
std::string controlSocketPath() {
    char folder[PATH_MAX] = {};
    const std::size_t size = ::confstr(_CS_DARWIN_USER_TEMP_DIR, folder, sizeof folder);
    std::string path = size > 0 && size <= sizeof folder ? folder : "/tmp/";
    if (path.back() != '/') {
        path += '/';
    }
    return path + TRBLaunchAgentLabel + "/dorvane.sock";
}

// `Dorvane <verb> ...`: asks the running Dorvane, or gathers the diagnosis without it. Nothing of
// AppKit starts for it.
int runCommandLine(const std::vector<std::string>& arguments, const FailSafePlaces& places) {
    CommandLineOutcome outcome;
    if (arguments == std::vector<std::string>{kDiagnoseVerb}) {
        const ToolPaths tools;
        DiagnoseInputs inputs;
        inputs.facts = {{"Dorvane", MacBundle().shortVersion().value_or("unknown")}};
        for (const auto& query : {"", "ps", "sched", "assertions", "therm"}) {
            inputs.runs.push_back({tools.pmset, *query ? std::vector<std::string>{"-g", query}
                                                       : std::vector<std::string>{"-g"}});
        }
        inputs.runs.push_back({"/usr/bin/sw_vers", {}});
        inputs.runs.push_back({"/usr/bin/defaults", {"read", TRBLaunchAgentLabel}});
        inputs.files = {{"Guardian record", places.switchRecord}};
        outcome = runDiagnose(inputs);
    } else {
        outcome = runControlCommand(arguments, controlSocketPath());
    }
    std::fputs(outcome.output.c_str(), stdout);
    std::fputs(outcome.error.c_str(), stderr);
    return outcome.status;
}

}  // namespace

int main(int argc, char** argv) {
    @autoreleasepool {
        // A parent may hand SIGCHLD over ignored; then no tool's exit status could be had.
        std::signal(SIGCHLD, SIG_DFL);
        const std::string support = MacProcessInfo().homeDirectory() +
                                    "/Library/Application Support/" + TRBLaunchAgentLabel;
        // The lock is in the folder every user reaches, so that one Dorvane runs per machine; the
        // guardian and the login check take the same lock before they clear anything. It sits in
        // /Users/Shared itself, whose sticky bit keeps each user's files theirs: a folder of our
        // own there could be made first, owner-only, by another user, and no Dorvane could start.
        // A lock file made first by someone else is locked read-only.
        const FailSafePlaces places{"/Users/Shared/.com.dorvane.Dorvane.lock",
                                    support + "/sleep-switch.record"};
        // The real /usr/bin/pmset and /usr/bin/sudo, as the application runs them.
        const std::string_view flag = argc > 1 ? argv[1] : "";
        if (flag == kGuardianFlag) {
            return runGuardian(places, ToolPaths{});
        }
        if (flag == kFailSafeFlag) {
            return runFailSafeCommand(places, ToolPaths{});
        }
        if (isControlVerb(std::string(flag)) || flag == kDiagnoseVerb) {
            return runCommandLine(std::vector<std::string>(argv + 1, argv + argc), places);
        }

        // One Dorvane per machine, claimed before the settings are read or anything is cleaned
        // up: the sleep switch and the wake event are the machine's, and a second copy (another
        // user's, with fast user switching) would fight the first and undo it when it quits. The
        // lock is in a folder every user reaches; another user's copy opens it for reading.
        const std::string& lockPath = places.instanceLock;
        const InstanceLock instance(lockPath, {.patience = kStartLockPatience});
        if (const auto refused = refusedStart(instance, lockPath, "Dorvane", ::getuid())) {
            std::fprintf(stderr, "%s.\n", refused->message.c_str());
            if (instance.state() == InstanceLock::State::HeldElsewhere) {
                askRunningInstanceToReopen();
            }
            return refused->status;
        }
        // Started with posix_spawn before NSApplication starts, and held until the process ends,
        // however it ends: then the guardian clears a switch we left set.
        const std::optional<std::string> executable = MacBundle().executablePath();
        const std::optional<UniqueFd> guardian =
            executable ? startGuardian(*executable) : std::nullopt;
        if (!guardian) {
            std::fputs("Dorvane: cannot start the guardian; a crash would leave sleep disabled "
                       "until the next start.\n",
                       stderr);
        }

        MacApplication application;
        DispatchMainQueue mainQueue;
        MacStatusBar statusBar;
        MacAlerts alerts(mainQueue);
        MacPasteboard pasteboard;
        MacWorkspace workspace(mainQueue);
        CFPreferencesDefaults defaults;
        IOKitPowerManagement powerManagement;
        MacUrlSession urlSession;
        MacBundle bundle;
        MacLocale locale;
        SystemClock clock;
        MacProcessInfo processInfo;
        // Readable while a termination request waits for the main thread: a tool run that hangs
        // gives way to it at once.
        Pipe terminationPending;
        if (!makePipe(terminationPending) ||
            ::fcntl(terminationPending.readEnd.get(), F_SETFL, O_NONBLOCK) != 0 ||
            ::fcntl(terminationPending.writeEnd.get(), F_SETFL, O_NONBLOCK) != 0) {
            return 1;
        }
        SpawnCommandRunner runner(bundle, terminationPending.readEnd.get());
        CFPropertyLists propertyLists;

        // The one controller; main holds the only strong reference while the application runs.
        // The default tool paths are the real /usr/bin/pmset, /usr/sbin/ioreg and /usr/bin/sudo.
        Platform platform{application, statusBar, alerts,        pasteboard,
                          workspace,   defaults,  mainQueue,     powerManagement,
                          urlSession,  bundle,    locale,        clock,
                          processInfo, runner,    propertyLists, ToolPaths{}};
        platform.switchRecordPath = places.switchRecord;
        auto controller = std::make_shared<TRBController>(platform);

        // SIGTERM (a plain kill, launchctl stop), SIGINT and SIGHUP quit as the system's quit
        // does, through the delegate's silent restore, instead of ending with sleep still
        // disabled. They are taken on a queue of their own, which abandons a running tool and hands
        // the terminate to the main run loop: the main queue is not served inside an alert opened
        // by its own work.
        MacApplication* app = &application;
        DispatchMainQueue* queue = &mainQueue;
        const int pendingRead = terminationPending.readEnd.get();
        const int pendingWrite = terminationPending.writeEnd.get();
        dispatch_queue_t signalQueue =
            dispatch_queue_create("Dorvane.signals", DISPATCH_QUEUE_SERIAL);
        std::vector<dispatch_source_t> signalSources;  // kept until main returns
        for (const int signalNumber : {SIGTERM, SIGINT, SIGHUP}) {
            std::signal(signalNumber, SIG_IGN);
            dispatch_source_t source = dispatch_source_create(
                DISPATCH_SOURCE_TYPE_SIGNAL, static_cast<uintptr_t>(signalNumber), 0, signalQueue);
            dispatch_source_set_event_handler(source, ^{
              [[maybe_unused]] const ssize_t written = ::write(pendingWrite, "x", 1);
              queue->post(
                  [app, pendingRead] {
                      // The request is served now: left readable, it would abandon every
                      // later tool run should the terminate be refused.
                      char drained[64];
                      while (::read(pendingRead, drained, sizeof drained) > 0) {
                      }
                      app->terminate();
                  },
                  WorkKind::RunsDuringAlerts);
            });
            dispatch_resume(source);
            signalSources.push_back(source);
        }

        // A client that goes away must not end the app through SIGPIPE: the write reports it.
        std::signal(SIGPIPE, SIG_IGN);
        // Made once the instance lock is ours, so a socket left at its name by a crash is stale.
        MacDescriptorWatch descriptorWatch;
        std::unique_ptr<ControlServer> controlServer;
        const std::string socketPath = controlSocketPath();
        auto opened = openControlSocket(socketPath);
        if (const auto* failure = std::get_if<std::string>(&opened)) {
            std::fprintf(stderr, "Dorvane: no control socket: %s.\n", failure->c_str());
        } else {
            controlServer = std::make_unique<ControlServer>(
                descriptorWatch, mainQueue, std::move(std::get<UniqueFd>(opened)), socketPath,
                [weak = std::weak_ptr(controller)](std::string_view line) {
                    return answerControlLine(line, [&](const ControlRequest& request) {
                        const auto self = weak.lock();
                        return self ? self->answerControlRequest(request, NSApp.modalWindow != nil)
                                    : controlErrorLine("Dorvane is quitting");
                    });
                });
        }
        ControlServer* server = controlServer.get();

        TRBController* delegate = controller.get();
        application.run(
            {[delegate] { delegate->applicationDidFinishLaunching(); },
             [delegate, &runner, server] {
                 runner.limitRunsTo(std::chrono::steady_clock::now() + kShutDownRunBudget);
                 delegate->applicationWillTerminate();
                 if (server != nullptr) {
                     server->close();
                 }
             },
             [delegate](const std::string& address) {
                 // Any web page can open an address: it does only what a harmless
                 // menu row does, and anything else is ignored with one line.
                 const auto request = parseControlUrl(address);
                 if (!request || !addressMayAsk(*request, delegate->quietHoursEnabled())) {
                     std::fprintf(stderr, "Dorvane: ignored an address: %.200s\n", address.c_str());
                     return;
                 }
                 delegate->answerControlRequest(*request, NSApp.modalWindow != nil);
             },
             // A windowless app shows what it has: its menu.
             [&statusBar] { statusBar.openMenu(); }});
    }
    return 0;
}
