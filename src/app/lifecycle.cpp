#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "base/atomic_file.h"

#include <utility>

namespace dorvane {

void TRBController::applicationDidFinishLaunching() {
    platform_.application.setActivationPolicyAccessory();
    installEditMenu();

    setStatusItem(platform_.statusBar.createStatusItem());
    statusItem()->setTitle(localized("status.placeholder"));
    statusItem()->setToolTip(localized("app.name"));
    setDateFormatter(DateFormatter(platform_.clock, "HH:mm:ss"));

    // Only the two known modes are used; any other stored value stays stored but reads as 0.
    const bool stored = platform_.defaults.objectForKey(defaults_keys::kRunMode).has_value();
    const std::int64_t mode =
        stored ? integerForKey(platform_.defaults, defaults_keys::kRunMode) : 0;
    setRunMode(mode == 1 ? RunMode::AlwaysAwake : RunMode::PowerAdapter);
    setPowerSource(PowerSource::Unknown);
    setLastMessage(localized("status.initializing"));
    setLastUpdated(platform_.clock.now());
    loadQuietHoursState();
    // A launch agent write cut short by a kill leaves its temporary file; only this application
    // writes that file, so whatever is there now is stale.
    removeStaleTemporaryFiles(launchAgentPath());
    keepLaunchAgentCurrent();

    PowerManagement& power = platform_.powerManagement;
    setPowerSourceRunLoopSource(power.createPowerSourceNotification(TRBPowerSourceChanged, this));
    if (powerSourceRunLoopSource() != nullptr) {
        power.addRunLoopSource(powerSourceRunLoopSource());
    }
    platform_.workspace.addWakeObserver(this, [this] { workspaceDidWake(); });
    // A hotter machine or a display attached or detached is read again like a power change: the
    // system may have reset the switch meanwhile.
    platform_.workspace.addMachineChangeObserver(this, [this] { TRBPowerSourceChanged(this); });
    NotificationPort* port = nullptr;
    std::uint32_t notifier = 0;
    setPowerNotificationRootPort(
        power.registerForSystemPower(this, &port, TRBSystemPowerCallback, &notifier));
    setPowerNotificationPort(port);
    setPowerNotifier(notifier);
    if (powerNotificationRootPort() != 0) {
        power.addRunLoopSource(power.notificationPortRunLoopSource(powerNotificationPort()));
    }

    startQuietHoursTimer();

    bool quietHoursSwitchedOff = false;
    // A write given up for a termination says nothing of the machine and changes no setting.
    if (!syncRepeatWakeSchedule() && !terminationPending_ && runMode() == RunMode::PowerAdapter &&
        quietHoursEnabled()) {
        setQuietHoursEnabled(false);
        saveQuietHoursState();
        quietHoursSwitchedOff = true;
    }

    refreshWithApplyChange(true);

    if (quietHoursSwitchedOff) {
        // The reason is taken now, as the first refresh left it; the alert waits until start-up
        // has returned.
        const std::string body =
            localizedFormat("dialog.quiet_hours_auto_disabled.body_format", {wakeFailureReason()});
        platform_.mainQueue.post([self = shared_from_this(), body] {
            self->platform_.application.activateIgnoringOtherApps();
            self->showMessage(self->localized("dialog.quiet_hours_auto_disabled.title"), body);
        });
    }

    startVersionCheckTimer();
    checkForUpdatesSilently(true);
}

void TRBController::applicationWillTerminate() {
    PowerManagement& power = platform_.powerManagement;
    if (powerSourceRunLoopSource() != nullptr) {
        power.removeRunLoopSource(powerSourceRunLoopSource());
        power.releaseRunLoopSource(powerSourceRunLoopSource());
        setPowerSourceRunLoopSource(nullptr);
    }
    platform_.workspace.removeWakeObserver(this);
    platform_.workspace.removeMachineChangeObserver(this);
    if (powerNotificationRootPort() != 0) {
        power.removeRunLoopSource(power.notificationPortRunLoopSource(powerNotificationPort()));
        std::uint32_t notifier = powerNotifier();
        power.deregisterForSystemPower(&notifier);
        setPowerNotifier(notifier);
        power.serviceClose(powerNotificationRootPort());
        power.notificationPortDestroy(powerNotificationPort());
        setPowerNotificationRootPort(0);
        setPowerNotificationPort(nullptr);
    }
    cancelTimers();
    // A termination that did not come from the quit command (at logout, say) still leaves the
    // machine sleeping normally, silently. The switch is read back, and a restore that did not
    // take gets one more try within the shut-down's budget; a switch still set is said where the
    // system keeps the application's output.
    if (!isQuitting()) {
        if (!applySleepDisabledAndReadBack(false) && !applySleepDisabledAndReadBack(false)) {
            platform_.application.writeDiagnostic(
                "Dorvane could not restore normal sleep at termination: " +
                lastError().value_or(localized("error.restore_normal_sleep_failed")));
        }
        cancelRepeatWake();
    }
}

void TRBController::cancelTimers() {
    if (quietHoursTimer() != nullptr) {
        quietHoursTimer()->cancel();
        setQuietHoursTimer(nullptr);
    }
    if (versionCheckTimer() != nullptr) {
        versionCheckTimer()->cancel();
        setVersionCheckTimer(nullptr);
    }
}

void TRBController::workspaceDidWake() {
    handleWakeEvent("NSWorkspace.DidWake");
}

void TRBController::handleWakeEvent(const std::string&) {
    // Both wake signals may arrive for one wake; each gives a complete refresh of its own. Like
    // every refresh it opens no alert, so it runs while one is open.
    platform_.mainQueue.post(
        [self = shared_from_this()] {
            // A machine the thermal guard let sleep is not kept awake before a reading says it
            // has cooled.
            if (!self->quitUnderWay() && !self->thermalGuardHeld() &&
                self->runMode() == RunMode::PowerAdapter && !self->isInQuietHours() &&
                self->readPowerSource() == PowerSource::AC) {
                self->applySleepDisabled(true);
            }
            self->refreshWithApplyChange(true);
        },
        WorkKind::RunsDuringAlerts);
}

void TRBPowerSourceChanged(void* context) {
    auto* controller = static_cast<TRBController*>(context);
    // The notification comes often while the battery charges or drains: one waiting refresh reads
    // whatever came before it. A change during the refresh queues the next one.
    if (std::exchange(controller->powerSourceRefreshQueued_, true)) {
        return;
    }
    controller->platform_.mainQueue.post(
        [self = controller->shared_from_this()] {
            self->powerSourceRefreshQueued_ = false;
            self->refreshWithApplyChange(true);
        },
        WorkKind::RunsDuringAlerts);
}

void TRBSystemPowerCallback(void* refCon, std::uint32_t, std::uint32_t messageType,
                            void* messageArgument) {
    auto* controller = static_cast<TRBController*>(refCon);
    switch (messageType) {
        case kIOMessageCanSystemSleep:
        case kIOMessageSystemWillSleep:
            // Sleep is acknowledged at once, inside the callback, never after a refresh.
            controller->platform_.powerManagement.allowPowerChange(
                controller->powerNotificationRootPort(),
                reinterpret_cast<std::intptr_t>(messageArgument));
            break;
        case kIOMessageSystemHasPoweredOn:
            controller->platform_.mainQueue.post(
                [self = controller->shared_from_this()] {
                    self->handleWakeEvent("IOKit.HasPoweredOn");
                },
                WorkKind::RunsDuringAlerts);
            break;
        default:
            break;
    }
}

}  // namespace dorvane
