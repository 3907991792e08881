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
               (runMode() == RunMode::AlwaysAwake || powerSource() == PowerSource::AC)) {
        key = "status.awake";
    } else if (powerSource() == PowerSource::AC) {
        key = "status.ac_power";
    }
    statusItem()->setTitle(localized(key));
}

std::string TRBController::powerSourceLabel() const {
    switch (powerSource()) {
        case PowerSource::AC:
            return localized("value.power.ac");
        case PowerSource::Battery:
            return localized("value.power.battery");
        default:
            return localized("value.power.unknown");
    }
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
