#include "app/controller.h"
#include "system/permission_rule.h"
#include "system/privilege.h"

namespace dorvane {

std::string composePermissionCommand(unsigned userId) {
    return formatString(kPermissionCommandFormat,
                        {std::int64_t{userId}, std::string(kAllowedPmsetCommands)});
}

TRBCommandResult TRBController::runTool(const std::string& program,
                                        const std::vector<std::string>& arguments) {
    TRBCommandResult result = platform_.commands.run(program, arguments);
    if (result.abandoned) {
        terminationPending_ = true;
    }
    return result;
}

bool TRBController::applySleepDisabled(bool disabled) {
    // Whoever ends this process, the guardian or the login check clears a switch the record says
    // we set; without the record nobody would, so the switch is not set.
    if (disabled && !recordSleepSwitchSet()) {
        failCommand("error.enable_lid_closed_failed");
        return false;
    }
    const TRBCommandResult result = runTool(
        platform_.toolPaths.sudo,
        tool_args::throughSudo(platform_.toolPaths.pmset, disabled ? tool_args::kDisableSleepOn
                                                                   : tool_args::kDisableSleepOff));
    if (result.status == 0) {
        sleepSwitchLastKnown_ = disabled;
        if (disabled) {
            ensureFailSafeLaunchAgent();
        } else {
            forgetSleepSwitchSet();
        }
        return true;
    }
    if (failedForWantOfPermission(result)) {
        failCommand("error.need_pmset_permission");
    } else {
        failCommand(disabled ? "error.enable_lid_closed_failed"
                             : "error.restore_normal_sleep_failed");
    }
    return false;
}

bool TRBController::requestSystemSleep() {
    const TRBCommandResult result = runTool(platform_.toolPaths.pmset, tool_args::kSleepNow);
    if (result.status != 0) {
        failCommand("error.sleep_now_failed");
        return false;
    }
    setLastMessage(localized("status.unplugged_lid_closed"));
    return true;
}

void TRBController::copyPermissionCommand() {
    platform_.pasteboard.setString(composePermissionCommand(platform_.processInfo.userId()));
    showMessage(localized("dialog.permission_copied.title"),
                localized("dialog.permission_copied.body"));
}

}  // namespace dorvane
