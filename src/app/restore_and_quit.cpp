#include "app/controller.h"

namespace dorvane {

void TRBController::restoreAndQuit() {
    // From here on the policy wants normal sleep: a refresh while one of the alerts below is open
    // keeps the switch off. A quit given up at an alert hands the switch back to the run mode.
    quitChosen_ = true;
    const auto giveUp = [this] { quitChosen_ = false; };
    // The switch is read back: a tool that reports success and changes nothing has not restored.
    if (!applySleepDisabledAndReadBack(false)) {
        Alert failure;
        failure.messageText = localized("error.restore_normal_sleep_failed");
        failure.informativeText = lastError().value_or(localized("error.need_pmset_permission"));
        failure.buttons = {localized("menu.copy_permission"), localized("button.retry"),
                           localized("button.quit_anyway")};
        const int answer = platform_.alerts.runModal(failure).code;
        if (answer == kAlertFirstButtonReturn) {
            giveUp();
            copyPermissionCommand();
            return;
        }
        // One retry only; quitting anyway leaves the switch as it is.
        if (answer == kAlertSecondButtonReturn && !applySleepDisabledAndReadBack(false)) {
            giveUp();
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
            giveUp();
            copyPermissionCommand();
            return;
        }
    }
    cancelTimers();
    setIsQuitting(true);
    platform_.application.terminate();
}

}  // namespace dorvane
