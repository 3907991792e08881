#include "app/date_formatter.h"

#include <string_view>

namespace dorvane {

std::string DateFormatter::stringFromDate(Date date) const {
    const LocalTime local = clock_->localTime(date);
    const auto twoDigits = [](int value) {
        return std::string{static_cast<char>('0' + value / 10 % 10),
                           static_cast<char>('0' + value % 10)};
    };
    std::string out;
    const std::string_view pattern = pattern_;
    for (std::size_t i = 0; i < pattern.size();) {
        const std::string_view rest = pattern.substr(i);
        if (rest.starts_with("HH")) {
            out += twoDigits(local.hour);
        } else if (rest.starts_with("mm")) {
            out += twoDigits(local.minute);
        } else if (rest.starts_with("ss")) {
            out += twoDigits(local.second);
        } else {
            out += pattern[i++];
            continue;
        }
        i += 2;
    }
    return out;
}

}  // namespace dorvane
