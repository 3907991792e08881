#include <nlohmann/json.hpp>

#include "app/controller.h"
#include "control/control_request.h"

namespace dorvane {
namespace {

using json = nlohmann::ordered_json;
using Verb = ControlRequest::Verb;

json optionalValue(const auto& value) {
    return value ? json(*value) : json(nullptr);
}

// The next moment whose local time of day is this one, a full day ahead when it is now.
Date nextTimeOfDay(const Clock& clock, TimeOfDay time) {
    const Date now = clock.now();
    const LocalTime local = clock.localTime(now);
    const std::int64_t nowMinutes = local.hour * 60 + local.minute;
    std::int64_t ahead = (time.minutesOfDay() - nowMinutes + 24 * 60) % (24 * 60);
    if (ahead == 0) {
        ahead = 24 * 60;
    }
    return std::chrono::time_point_cast<std::chrono::seconds>(now) -
           std::chrono::seconds(local.second) + std::chrono::minutes(ahead);
}

// In the order of ThermalState.
constexpr const char* kThermalStateNames[] = {"nominal", "fair", "serious", "critical", "unknown"};

}  // namespace

std::string TRBController::controlAnswer(const std::optional<std::string>& error) const {
    if (error) {
        return json{{"ok", false}, {"error", *error}}.dump();
    }
    const char* power = powerSource() == PowerSource::AC        ? "ac"
                        : powerSource() == PowerSource::Battery ? "battery"
                                                                : "unknown";
    json hold = nullptr;
    if (holdInForce()) {
        hold = {{"until", DateFormatter(platform_.clock, "HH:mm").stringFromDate(*holdDeadline_)},
                {"secondsLeft", std::chrono::duration_cast<std::chrono::seconds>(
                                    *holdDeadline_ - platform_.clock.now())
                                    .count()}};
    }
    return json{
        {"ok", true},
        {"runMode", static_cast<std::int64_t>(runMode())},
        {"powerSource", power},
        {"charge", optionalValue(batteryCharge())},
        {"lidClosed", optionalValue(clamshellClosed())},
        {"sleepDisabled", optionalValue(sleepDisabled())},
        {"quietHours",
         {{"enabled", quietHoursEnabled()},
          {"start", optionalValue(quietHoursStart())},
          {"end", optionalValue(quietHoursEnd())},
          {"inForce", !keepsAwakeOnBattery() && isInQuietHours()}}},
        {"wakeEvent",
         {{"claimed", wakeScheduleClaimed()}, {"error", optionalValue(wakeScheduleError())}}},
        {"floor", {{"percent", batteryFloorPercent()}, {"held", batteryFloorReached()}}},
        {"thermal",
         {{"state", kThermalStateNames[static_cast<std::size_t>(thermalState())]},
          {"guardEnabled", thermalGuardEnabled()},
          {"guardHeld", thermalGuardHeld()}}},
        {"hold", hold},
        {"version", optionalValue(platform_.bundle.shortVersion())},
        {"statusRow", statusRowText()},
    }
        .dump();
}

std::string TRBController::answerControlRequest(const ControlRequest& request, bool alertOpen) {
    if (request.verb == Verb::Status) {
        return controlAnswer(std::nullopt);
    }
    if (alertOpen) {
        return controlAnswer("Dorvane is showing an alert: answer it first.");
    }
    if (quitUnderWay()) {
        return controlAnswer("Dorvane is quitting.");
    }
    answeringRequest_ = true;
    requestRefusal_.reset();
    std::optional<std::string> refusal;
    switch (request.verb) {
        case Verb::Mode: {
            MenuItem item;
            item.representedObject = request.mode;
            selectRunMode(item);
            break;
        }
        case Verb::Refresh:
            refreshNow();
            break;
        case Verb::QuietOff:
            setQuietHoursOff();
            break;
        case Verb::QuietOn: {
            // The same checks as the dialog's, in the same order, with its texts.
            const auto start = parseTimeOfDay(request.start);
            const auto end = parseTimeOfDay(request.end);
            if (!start) {
                refusal = localized("dialog.invalid_start_time.body");
            } else if (!end) {
                refusal = localized("dialog.invalid_end_time.body");
            } else if (*start == *end) {
                refusal = localized("dialog.invalid_range.body");
            } else {
                switchQuietHoursOnOrFallBack(
                    formatString("%02ld:%02ld", {start->hour, start->minute}),
                    formatString("%02ld:%02ld", {end->hour, end->minute}));
            }
            break;
        }
        case Verb::HoldFor:
            startHold(platform_.clock.now() + request.duration);
            break;
        case Verb::HoldUntil:
            startHold(nextTimeOfDay(platform_.clock, request.until));
            break;
        case Verb::HoldOff:
            endHold();
            break;
        case Verb::Status:
            break;
    }
    answeringRequest_ = false;
    if (!refusal) {
        refusal = requestRefusal_ ? requestRefusal_ : lastError();
    }
    requestRefusal_.reset();
    return controlAnswer(refusal);
}

}  // namespace dorvane
