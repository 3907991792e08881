#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "quiet/time_of_day.h"

namespace dorvane {

namespace keys = defaults_keys;

void TRBController::loadQuietHoursState() {
    UserDefaults& defaults = platform_.defaults;
    setQuietHoursEnabled(boolForKey(defaults, keys::kQuietHoursEnabled));
    setQuietHoursStart(stringForKey(defaults, keys::kQuietHoursStart).value_or(kDefaultQuietStart));
    setQuietHoursEnd(stringForKey(defaults, keys::kQuietHoursEnd).value_or(kDefaultQuietEnd));
    const std::int64_t interval = integerForKey(defaults, keys::kQuietHoursIntervalMinutes);
    setQuietHoursIntervalMinutes(interval < 1 ? kDefaultQuietIntervalMinutes : interval);
}

void TRBController::saveQuietHoursState() {
    UserDefaults& defaults = platform_.defaults;
    defaults.setObject(keys::kQuietHoursEnabled, quietHoursEnabled());
    for (const auto& [key, value] : {std::pair{keys::kQuietHoursStart, quietHoursStart()},
                                     std::pair{keys::kQuietHoursEnd, quietHoursEnd()}}) {
        if (value) {
            defaults.setObject(key, *value);
        } else {
            defaults.removeObject(key);
        }
    }
    defaults.setObject(keys::kQuietHoursIntervalMinutes, quietHoursIntervalMinutes());
    // A failing write is not reported: the settings in memory still hold.
    defaults.synchronize();
}

bool TRBController::parseTimeString(const std::string& text, std::int64_t* hour,
                                    std::int64_t* minute) const {
    const auto time = parseTimeOfDay(text);
    if (!time) {
        return false;
    }
    if (hour != nullptr) {
        *hour = time->hour;
    }
    if (minute != nullptr) {
        *minute = time->minute;
    }
    return true;
}

bool TRBController::isInQuietHours() const {
    if (!quietHoursEnabled()) {
        return false;
    }
    const auto start = parseTimeOfDay(quietHoursStart().value_or(""));
    const auto end = parseTimeOfDay(quietHoursEnd().value_or(""));
    if (!start || !end) {
        return false;
    }
    const LocalTime now = platform_.clock.localTime(platform_.clock.now());
    return isInsideWindow(start->minutesOfDay(), end->minutesOfDay(),
                          std::int64_t{now.hour} * 60 + now.minute);
}

}  // namespace dorvane
