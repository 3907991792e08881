#pragma once

namespace dorvane::defaults_keys {

// Every key the application reads or writes in its user defaults, in one place.
inline constexpr const char* kRunMode = "runMode";
inline constexpr const char* kQuietHoursEnabled = "quietHoursEnabled";
inline constexpr const char* kQuietHoursStart = "quietHoursStart";
inline constexpr const char* kQuietHoursEnd = "quietHoursEnd";
inline constexpr const char* kQuietHoursIntervalMinutes = "quietHoursIntervalMinutes";
inline constexpr const char* kWakeScheduleClaimed = "wakeScheduleClaimed";
inline constexpr const char* kAppOwnedWakeSchedule = "appOwnedWakeSchedule";
inline constexpr const char* kLastUpdateCheckAt = "lastUpdateCheckAt";
inline constexpr const char* kLaunchAtLoginEnabled = "launchAtLoginEnabled";
inline constexpr const char* kBatteryFloorPercent = "batteryFloorPercent";
inline constexpr const char* kThermalGuardEnabled = "thermalGuardEnabled";

// The entries of the "appOwnedWakeSchedule" record.
namespace wake_record {
inline constexpr const char* kHour = "hour";
inline constexpr const char* kMinute = "minute";
inline constexpr const char* kWeekdays = "weekdays";
inline constexpr const char* kCanonical = "canonical";
}  // namespace wake_record

}  // namespace dorvane::defaults_keys
