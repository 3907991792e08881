#include <limits>

#include "app/controller.h"

namespace dorvane {

std::chrono::nanoseconds quietHoursTimerPeriod(std::int64_t intervalMinutes) {
    const std::int64_t minutes =
        intervalMinutes >= 1 ? intervalMinutes : TRBController::kDefaultQuietIntervalMinutes;
    // A stored interval may be any integer: past what nanoseconds can hold, the period saturates
    // instead of wrapping into a short or negative one.
    constexpr std::int64_t kNanosecondsPerMinute = 60'000'000'000;
    if (minutes > std::numeric_limits<std::int64_t>::max() / kNanosecondsPerMinute) {
        return std::chrono::nanoseconds::max();
    }
    return std::chrono::nanoseconds(minutes * kNanosecondsPerMinute);
}

void TRBController::startQuietHoursTimer() {
    if (quietHoursTimer() != nullptr) {
        quietHoursTimer()->cancel();
        setQuietHoursTimer(nullptr);
    }
    const std::chrono::nanoseconds period = quietHoursTimerPeriod(quietHoursIntervalMinutes());
    // The timer is the program's periodic refresh, whether or not quiet hours are on. It begins
    // quiet hours, so it fires while an alert is open.
    setQuietHoursTimer(platform_.mainQueue.startTimer(
        TimerSpec{period, period, std::chrono::seconds(30), WorkKind::RunsDuringAlerts},
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->refreshWithApplyChange(true);
            }
        }));
}

void TRBController::setQuietHoursOff() {
    setQuietHoursEnabled(false);
    saveQuietHoursState();
    const bool removed = syncRepeatWakeSchedule();
    refreshWithApplyChange(true);
    if (!removed) {
        showWakeEventLeftBehind();
    }
}

void TRBController::showWakeEventLeftBehind() {
    showMessage(localized("dialog.quiet_hours_off_partial.title"),
                localizedFormat(
                    "dialog.quiet_hours_off_partial.body_format",
                    {wakeScheduleError().value_or(localized("error.read_wake_schedule_failed"))}));
}

void TRBController::setQuietHoursOn() {
    // A window with a missing end is replaced by the default one, which stays even when quiet
    // hours cannot be switched on.
    if (quietHoursStart().value_or("").empty() || quietHoursEnd().value_or("").empty()) {
        setQuietHoursStart(kDefaultQuietStart);
        setQuietHoursEnd(kDefaultQuietEnd);
    }
    switchQuietHoursOnOrFallBack(*quietHoursStart(), *quietHoursEnd());
}

void TRBController::switchQuietHoursOnOrFallBack(const std::string& start, const std::string& end) {
    // Nothing takes effect before the wake event that ends the new window is set: a refresh while
    // the question about somebody else's schedule is open still sees quiet hours as they were.
    if (syncRepeatWakeScheduleFor(true, end)) {
        setQuietHoursStart(start);
        setQuietHoursEnd(end);
        setQuietHoursEnabled(true);
        saveQuietHoursState();
        refreshWithApplyChange(true);
        return;
    }
    fallBackFromQuietHours(quietHoursStart(), quietHoursEnd());
}

void TRBController::fallBackFromQuietHours(const std::optional<std::string>& start,
                                           const std::optional<std::string>& end) {
    // A wake-event write given up for a termination says nothing of the machine: the settings
    // stay as they are, and the termination follows.
    if (terminationPending_) {
        return;
    }
    // Quiet hours are never left on without the wake event that ends them.
    setQuietHoursEnabled(false);
    setQuietHoursStart(start);
    setQuietHoursEnd(end);
    saveQuietHoursState();
    refreshWithApplyChange(true);
    showMessage(
        localized("dialog.quiet_hours_auto_disabled.title"),
        localizedFormat("dialog.quiet_hours_auto_disabled.body_format", {wakeFailureReason()}));
}

}  // namespace dorvane
