#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"

namespace dorvane {

std::int64_t TRBController::batteryFloorPercent() const {
    // An integer, or a text that is exactly one; anything else (a boolean, a fraction, a typo)
    // or a value out of range reads as the default, so only a deliberate 0 turns the guard off.
    const auto floor =
        storedWholeNumberForKey(platform_.defaults, defaults_keys::kBatteryFloorPercent);
    if (!floor || *floor < 0 || *floor > kMaximumBatteryFloorPercent) {
        return kDefaultBatteryFloorPercent;
    }
    return *floor;
}

bool TRBController::batteryFloorReached() const {
    const std::int64_t floor = batteryFloorPercent();
    if (floor <= 0 || powerSource() == PowerSource::AC) {
        return false;
    }
    // A reading that cannot tell the charge leaves the floor as it was: a failed listing must not
    // let a battery at its floor run flat.
    if (powerSource() != PowerSource::Battery || !batteryCharge()) {
        return batteryFloorHeld();
    }
    const std::int64_t charge = *batteryCharge();
    return charge <= floor || (batteryFloorHeld() && charge < floor + kBatteryFloorReleaseMargin);
}

bool thermalGuardHolds(ThermalState thermal, PowerSource power, std::optional<bool> lidClosed,
                       bool held) {
    switch (thermal) {
        case ThermalState::Nominal:
        case ThermalState::Fair:
            return false;
        case ThermalState::Critical:
            return true;
        case ThermalState::Serious:
            // A notebook closed in a bag on battery cannot shed its heat; open or on the adapter
            // it may run on at serious.
            return held || (power == PowerSource::Battery && lidClosed.value_or(false));
        case ThermalState::Unknown:
            break;
    }
    return held;
}

bool TRBController::thermalGuardEnabled() const {
    const auto value = platform_.defaults.objectForKey(defaults_keys::kThermalGuardEnabled);
    if (const auto* flag = value ? std::get_if<bool>(&*value) : nullptr) {
        return *flag;
    }
    if (const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr) {
        return *number != 0;
    }
    return true;
}

void TRBController::readThermalState() {
    setThermalState(platform_.processInfo.thermalState());
    setThermalGuardHeld(
        thermalGuardEnabled() &&
        thermalGuardHolds(thermalState(), powerSource(), clamshellClosed(), thermalGuardHeld()));
}

std::optional<bool> TRBController::desiredSleepDisabled() const {
    // From the moment Quit is chosen the machine sleeps normally, so a refresh while a quit
    // alert is open never sets the switch again.
    if (quitUnderWay()) {
        return false;
    }
    // With the switch set the system would not sleep even to save itself from heat: a machine
    // this hot sleeps normally in either run mode.
    if (thermalGuardHeld()) {
        return false;
    }
    // Run mode 1 keeps the machine awake except on a battery about to run flat: a notebook that
    // cannot sleep would otherwise switch off hard and lose whatever was open.
    if (keepsAwakeOnBattery()) {
        return !batteryFloorReached();
    }
    if (isInQuietHours() && !quietHoursWithoutWakeEvent_) {
        return false;
    }
    switch (powerSource()) {
        case PowerSource::AC:
            return true;
        case PowerSource::Battery:
            return false;
        default:
            return std::nullopt;
    }
}

std::string TRBController::runModeLabel() const {
    return localized(runMode() == RunMode::AlwaysAwake ? "mode.always_awake"
                                                       : "mode.power_adapter");
}

std::string TRBController::batteryFloorMessage() const {
    return localizedFormat("status.battery_floor_format",
                           {batteryCharge().value_or(0), batteryFloorPercent()});
}

std::string TRBController::currentModeMessage() const {
    if (thermalGuardHeld()) {
        return localized("status.thermal_guard");
    }
    if (keepsAwakeOnBattery()) {
        if (batteryFloorReached()) {
            return batteryFloorMessage();
        }
        return holdInForce() ? holdMessage() : localized("status.always_awake_active");
    }
    return localized(powerSource() == PowerSource::AC ? "status.power_adapter_active"
                                                      : "status.battery_normal_sleep");
}

std::string TRBController::appliedMessageForDesiredSleepDisabled(bool disabled) const {
    if (!disabled && thermalGuardHeld()) {
        return localized("status.thermal_guard");
    }
    if (keepsAwakeOnBattery()) {
        if (!disabled) {
            return batteryFloorMessage();
        }
        return holdInForce() ? holdMessage() : localized("status.applied_always_awake");
    }
    return localized(disabled ? "status.applied_power_adapter" : "status.applied_battery_sleep");
}

bool TRBController::applySleepDisabledAndReadBack(bool disabled) {
    if (!applySleepDisabled(disabled)) {
        return false;
    }
    setSleepDisabled(readSleepDisabled());
    // A tool that reports success without changing the switch has failed all the same. A switch
    // still set after a restore keeps its record, so the guardian still clears it if we end.
    if (sleepDisabled() && *sleepDisabled() != disabled) {
        if (!disabled) {
            recordSleepSwitchSet();
        }
        failCommand("error.sleep_switch_unchanged");
        return false;
    }
    return true;
}

bool TRBController::turnSleepSwitchOffBeforeSleeping() {
    // No sleep is requested while the switch might still be on: a machine with sleep disabled
    // would refuse it anyway.
    if (!sleepDisabled().has_value() || *sleepDisabled()) {
        applySleepDisabledAndReadBack(false);
    }
    return sleepDisabled().has_value() && !*sleepDisabled();
}

void TRBController::sleepWithLidClosedWhenDue() {
    if (!clamshellClosed().value_or(false)) {
        return;
    }
    const bool sleepsOnBattery = !keepsAwakeOnBattery() || batteryFloorReached();
    if (!thermalGuardHeld() && !(sleepsOnBattery && powerSource() == PowerSource::Battery)) {
        return;
    }
    if (turnSleepSwitchOffBeforeSleeping() && requestSystemSleep() && thermalGuardHeld()) {
        setLastMessage(localized("status.thermal_guard"));
    }
}

void TRBController::turnDisplayOffBehindClosedLid() {
    // Once per lid closing: a lid read open starts afresh; one that cannot be read changes nothing.
    if (clamshellClosed() == false) {
        displayOffForThisLidClosing_ = false;
        return;
    }
    // A panel left lit behind a closed lid heats a notebook kept awake in a bag; on the adapter,
    // or driving a monitor, the display is wanted.
    const bool keptAwakeOnBattery =
        keepsAwakeOnBattery() && powerSource() == PowerSource::Battery &&
        clamshellClosed().value_or(false) && sleepDisabled().value_or(false) &&
        desiredSleepDisabled().value_or(false);
    if (!keptAwakeOnBattery || displayOffForThisLidClosing_ ||
        platform_.workspace.externalDisplayAttached().value_or(false)) {
        return;
    }
    displayOffForThisLidClosing_ = true;
    runTool(platform_.toolPaths.pmset, tool_args::kDisplaySleepNow);
}

void TRBController::refreshWithApplyChange(bool apply) {
    setLastError(std::nullopt);

    setPowerSource(readPowerSource());
    setSleepDisabled(readSleepDisabled());
    setClamshellClosed(readClamshellClosed());
    readThermalState();
    // The switch read otherwise than we left it was changed by someone else (the system resets it
    // after some power and display changes): the policy below sets it again and says so.
    const bool switchChangedOutside =
        sleepSwitchLastKnown_ && sleepDisabled() && *sleepSwitchLastKnown_ != *sleepDisabled();
    // The floor's hold ends only on a reading that shows it over: the adapter back, or a charge
    // clear of the floor. A source or charge that could not be read leaves it as it was.
    setBatteryFloorHeld(batteryFloorReached());

    // Quiet hours sleep only with a way back: as they begin, the wake event is checked before
    // the switch is cleared for them, and while the check has failed the switch stays as it
    // would outside quiet hours. A quit under way sets no new wake event and sleeps nothing.
    const bool quietHoursInForce = !keepsAwakeOnBattery() && isInQuietHours();
    const bool quietHoursBegin =
        quietHoursInForce && apply && !wasEffectiveQuietHours() && !quitUnderWay();
    if (!quietHoursInForce) {
        quietHoursWithoutWakeEvent_ = false;
    } else if (quietHoursBegin) {
        quietHoursWithoutWakeEvent_ = !ensureWakeEventForQuietHours();
    }

    // The policy: change the switch when it differs from what the run mode wants.
    const std::optional<bool> desired = desiredSleepDisabled();
    if (apply && desired && sleepDisabled()) {
        if (*desired == *sleepDisabled()) {
            setLastMessage(currentModeMessage());
        } else if (applySleepDisabledAndReadBack(*desired)) {
            setLastMessage(switchChangedOutside ? localized("status.switch_changed_outside")
                                                : appliedMessageForDesiredSleepDisabled(*desired));
        }
    } else if (!desired) {
        setLastMessage(localized("status.waiting_power"));
    }

    // A closed lid puts the machine to sleep at once, at every refresh while it stays so, where
    // it must not stay awake; where it stays awake on battery, its panel goes dark.
    if (apply) {
        sleepWithLidClosedWhenDue();
        turnDisplayOffBehindClosedLid();
    }

    // The beginning of quiet hours puts the machine to sleep once; later refreshes inside the
    // window leave it to the policy.
    if (quietHoursBegin) {
        // A sleep that nothing would end is worse than none: without a wake event the machine
        // stays up, and the status row says why.
        if (quietHoursWithoutWakeEvent_) {
            setLastError(localizedFormat("error.quiet_hours_without_wake_format",
                                         {wakeScheduleError().value_or("")}));
            setLastMessage(lastError());
        } else if (turnSleepSwitchOffBeforeSleeping()) {
            requestSystemSleep();
            setLastMessage(localized("status.entered_quiet_hours"));
        }
    }
    setWasEffectiveQuietHours(quietHoursInForce);
    if (sleepDisabled()) {
        sleepSwitchLastKnown_ = sleepDisabled();
    }
    keepWakeClaimOnFile();

    setLastUpdated(platform_.clock.now());
    updateStatusItem();
    rebuildMenu();
}

}  // namespace dorvane
