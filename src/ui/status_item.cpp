#include "app/controller.h"

namespace dorvane {

void TRBController::updateStatusItem() {
    if (statusItem() == nullptr) {
        return;
    }
    const char* key = "status.sleep";
    if (lastError() && !lastError()->empty()) {
        key = "status.error";
    } else if (sleepDisabled().value_or(false) &&
               (keepsAwakeOnBattery() || powerSource() == PowerSource::AC)) {
        key = "status.awake";
    } else if (powerSource() == PowerSource::AC) {
        key = "status.ac_power";
    }
    statusItem()->setTitle(localized(key));
}

std::string TRBController::powerSourceLabel() const {
    const char* key = "value.power.unknown";
    if (powerSource() == PowerSource::AC) {
        key = "value.power.ac";
    } else if (powerSource() == PowerSource::Battery) {
        key = "value.power.battery";
    }
    if (!batteryCharge()) {
        return localized(key);
    }
    return localizedFormat("value.power.with_charge_format", {localized(key), *batteryCharge()});
}

std::string TRBController::clamshellLabel() const {
    if (!clamshellClosed()) {
        return localized("value.lid.unknown");
    }
    return localized(*clamshellClosed() ? "value.lid.closed" : "value.lid.open");
}

std::string TRBController::sleepLabel() const {
    if (!sleepDisabled()) {
        return localized("value.sleep.unknown");
    }
    return localized(*sleepDisabled() ? "value.sleep.disabled" : "value.sleep.normal");
}

}  // namespace dorvane
