#pragma once

#include <string>

#include "platform/clock.h"
#include "platform/user_defaults.h"

namespace dorvane {

// Renders dates as wall-clock time in the user's time zone. The pattern understands "HH" (hour,
// 24-hour clock), "mm" and "ss", each two digits; other characters are copied.
class DateFormatter {
public:
    DateFormatter(const Clock& clock, std::string pattern)
        : clock_(&clock), pattern_(std::move(pattern)) {}

    const std::string& pattern() const { return pattern_; }
    std::string stringFromDate(Date date) const;

private:
    const Clock* clock_;
    std::string pattern_;
};

}  // namespace dorvane
