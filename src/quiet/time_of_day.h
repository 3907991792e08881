#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace dorvane {

struct TimeOfDay {
    std::int64_t hour = 0;    // 0 to 23
    std::int64_t minute = 0;  // 0 to 59
    std::int64_t minutesOfDay() const { return hour * 60 + minute; }
    bool operator==(const TimeOfDay&) const = default;
};

// Reads a time text such as "07:00", " 7:5 " or "007:0005": blanks and line breaks trimmed at
// both ends, exactly one colon, each part (blanks trimmed) made of ASCII digits only, an hour of
// 0 to 23 and a minute of 0 to 59. Any number of digits is allowed; a value too large for a
// 64-bit integer is out of range.
std::optional<TimeOfDay> parseTimeOfDay(std::string_view text);

// Whether a moment, in minutes of the day, lies inside the window from start (included) to end
// (excluded). A window whose start is after its end crosses midnight; one whose start equals its
// end is empty.
bool isInsideWindow(std::int64_t start, std::int64_t end, std::int64_t now);

// Reads a non-empty run of ASCII digits as a decimal number; absent for anything else or for a
// value too large for a 64-bit integer.
std::optional<std::int64_t> parseDecimalDigits(std::string_view text);

}  // namespace dorvane
