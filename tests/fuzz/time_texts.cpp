#include "fuzz/fuzz_target.h"
#include "quiet/time_of_day.h"

// Times of day and intervals typed into the dialogs: a value read is always in range.
DORVANE_FUZZ_TARGET(time_texts) {
    const std::string_view text = dorvane::fuzz::asText(data, size);
    if (const auto time = dorvane::parseTimeOfDay(text);
        time && (time->hour < 0 || time->hour > 23 || time->minute < 0 || time->minute > 59)) {
        __builtin_trap();
    }
    if (const auto number = dorvane::parseDecimalDigits(text); number && *number < 0) {
        __builtin_trap();
    }
    return 0;
}
