#include "quiet/time_of_day.h"

#include <limits>

#include "base/text_lines.h"

namespace dorvane {

std::optional<std::int64_t> parseDecimalDigits(std::string_view text) {
    if (text.empty()) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const int digit = c - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

std::optional<TimeOfDay> parseTimeOfDay(std::string_view text) {
    const std::string_view trimmed = trimBlanksAndNewlines(text);
    const std::size_t colon = trimmed.find(':');
    if (colon == std::string_view::npos || trimmed.find(':', colon + 1) != std::string_view::npos) {
        return std::nullopt;
    }
    const auto hour = parseDecimalDigits(trimBlanks(trimmed.substr(0, colon)));
    const auto minute = parseDecimalDigits(trimBlanks(trimmed.substr(colon + 1)));
    if (!hour || !minute || *hour > 23 || *minute > 59) {
        return std::nullopt;
    }
    return TimeOfDay{*hour, *minute};
}

bool isInsideWindow(std::int64_t start, std::int64_t end, std::int64_t now) {
    if (start < end) {
        return start <= now && now < end;
    }
    if (start > end) {
        return now >= start || now < end;
    }
    return false;
}

}  // namespace dorvane
