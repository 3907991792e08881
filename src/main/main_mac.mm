// Dorvane on macOS: the AppKit, IOKit and CoreFoundation backend around the one controller.
// Our headers come first: IOKit's headers define the power messages' names as macros.
#include "app/controller.h"
#include "base/instance_lock.h"
#include "platform/mac/cf_defaults.h"
#include "platform/mac/cf_property_lists.h"
#include "platform/mac/iokit_power_management.h"
#include "platform/mac/mac_alerts.h"
#include "platform/mac/mac_application.h"
#include "platform/mac/mac_bundle.h"
#include "platform/mac/mac_main_queue.h"
#include "platform/mac/mac_url_session.h"
#include "platform/mac/mac_workspace.h"
#include "system/command_runner.h"

#import <Foundation/Foundation.h>

#include <dispatch/dispatch.h>
#include <csignal>
#include <cstdio>

int main() {
    using namespace dorvane;
    @autoreleasepool {
        // A parent may hand SIGCHLD over ignored; then no tool's exit status could be had.
        std::signal(SIGCHLD, SIG_DFL);

        // One Dorvane per user, claimed before the settings are read or anything is cleaned up:
        // a second one would fight the first over the sleep switch and undo it when it quits.
        // Status 0 for a second start: a login item that fails is started again.
        const InstanceLock instance(MacProcessInfo().homeDirectory() +
                                    "/Library/Application Support/" + TRBLaunchAgentLabel +
                                    "/dorvane.lock");
        if (instance.state() == InstanceLock::State::HeldElsewhere) {
            std::fputs("Dorvane is already running.\n", stderr);
            bringRunningInstanceForward();
            return 0;
        }
        if (instance.state() == InstanceLock::State::Failed) {
            std::fprintf(stderr, "Dorvane: %s; starting without the one-instance check.\n",
                         instance.failure().c_str());
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
        SpawnCommandRunner runner(bundle);
        CFPropertyLists propertyLists;

        // The one controller; main holds the only strong reference while the application runs.
        // The default tool paths are the real /usr/bin/pmset, /usr/sbin/ioreg and /usr/bin/sudo.
        auto controller = std::make_shared<TRBController>(
            Platform{application, statusBar, alerts, pasteboard, workspace, defaults, mainQueue,
                     powerManagement, urlSession, bundle, locale, clock, processInfo, runner,
                     propertyLists, ToolPaths{}});

        // SIGTERM (a plain kill, launchctl stop) quits as the system's quit does, through the
        // delegate's silent restore, instead of ending with sleep still disabled.
        MacApplication* app = &application;
        std::signal(SIGTERM, SIG_IGN);
        dispatch_source_t termination = dispatch_source_create(DISPATCH_SOURCE_TYPE_SIGNAL, SIGTERM,
                                                               0, dispatch_get_main_queue());
        dispatch_source_set_event_handler(termination, ^{
          app->terminate();
        });
        dispatch_resume(termination);

        TRBController* delegate = controller.get();
        application.run({[delegate] { delegate->applicationDidFinishLaunching(); },
                         [delegate] { delegate->applicationWillTerminate(); }});
    }
    return 0;
}
