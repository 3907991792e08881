#include "app/controller.h"
#include "system/probe_parsers.h"

namespace dorvane {

PowerSource TRBController::readPowerSource() {
    const TRBCommandResult result = runTool(platform_.toolPaths.pmset, tool_args::kPowerSource);
    // The battery's charge comes from the same listing, so it is as fresh as the power source.
    if (result.status != 0) {
        setBatteryCharge(std::nullopt);
        setLastError(localized("error.read_power_state_failed"));
        return PowerSource::Unknown;
    }
    setBatteryCharge(parseBatteryCharge(result.output));
    return parsePowerSource(result.output);
}

std::optional<bool> TRBController::readSleepDisabled() {
    const TRBCommandResult result = runTool(platform_.toolPaths.pmset, tool_args::kSettings);
    if (result.status != 0) {
        setLastError(localized("error.read_sleep_switch_failed"));
        return std::nullopt;
    }
    return parseSleepSwitch(result.output);
}

std::optional<bool> TRBController::readClamshellClosed() {
    // A failed lid reading sets no error: the lid is simply unknown.
    const TRBCommandResult result = runTool(platform_.toolPaths.ioreg, tool_args::kClamshell);
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseClamshellClosed(result.output);
}

}  // namespace dorvane
