#include <algorithm>

#include "app/controller.h"

namespace dorvane {

bool TRBController::holdInForce() const {
    return holdDeadline_ && platform_.clock.now() < *holdDeadline_;
}

bool TRBController::keepsAwakeOnBattery() const {
    return runMode() == RunMode::AlwaysAwake || holdInForce();
}

std::string TRBController::holdMessage() const {
    return localizedFormat(
        "status.hold_until_format",
        {DateFormatter(platform_.clock, "HH:mm").stringFromDate(*holdDeadline_)});
}

void TRBController::startHold(Date deadline) {
    holdDeadline_ = deadline;
    armHoldTimer();
    refreshWithApplyChange(true);
}

void TRBController::endHold() {
    holdDeadline_.reset();
    holdTimer_.reset();
    refreshWithApplyChange(true);
}

void TRBController::armHoldTimer() {
    holdTimer_.reset();
    if (!holdDeadline_) {
        return;
    }
    // The timer runs on the monotonic clock, so it is armed for what the wall clock says is left
    // and, firing while the wall clock says the deadline is still ahead (it was set back), armed
    // again for the rest. Like the periodic refresh it changes only the switch, so it runs while
    // an alert is open.
    const auto left =
        std::max(std::chrono::nanoseconds(0), std::chrono::duration_cast<std::chrono::nanoseconds>(
                                                  *holdDeadline_ - platform_.clock.now()));
    holdTimer_ = platform_.mainQueue.startTimer(
        TimerSpec{left, {}, std::chrono::seconds(1), WorkKind::RunsDuringAlerts},
        [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self || !self->holdDeadline_) {
                return;
            }
            if (self->holdInForce()) {
                self->armHoldTimer();
            } else {
                self->endHold();
            }
        });
}

}  // namespace dorvane
