#include "app/controller.h"

namespace dorvane {

void TRBController::restoreAndQuit() {
    if (!applySleepDisabled(false)) {
        Alert failure;
        failure.messageText = localized("error.restore_normal_sleep_failed");
        failure.informativeText = lastError().value_or(localized("error.need_pmset_permission"));
        failure.buttons = {localized("menu.copy_permission"), localized("button.retry"),
                           localized("button.quit_anyway")};
        const int answer = platform_.alerts.runModal(failure).code;
        if (answer == kAlertFirstButtonReturn) {
            copyPermissionCommand();
            return;
        }
        // One retry only; quitting anyway leaves the switch as it is.
        if (answer == kAlertSecondButtonReturn && !applySleepDisabled(false)) {
            showMessage(localized("error.restore_normal_sleep_failed"),
                        lastError().value_or(localized("error.need_pmset_permission")));
            return;
        }
    }
    if (!cancelRepeatWake()) {
        Alert partial;
        partial.messageText = localized("dialog.quiet_hours_off_partial.title");
        partial.informativeText = localizedFormat(
            "dialog.quiet_hours_off_partial.body_format",
            {wakeScheduleError().value_or(localized("error.read_wake_schedule_failed"))});
        partial.buttons = {localized("menu.copy_permission"), localized("button.quit_anyway")};
        if (platform_.alerts.runModal(partial).code == kAlertFirstButtonReturn) {
            copyPermissionCommand();
            return;
        }
    }
    cancelTimers();
    setIsQuitting(true);
    platform_.application.terminate();
}

}  // namespace dorvane
