#include <gtest/gtest.h>

#include "app/defaults_keys.h"
#include "quiet/time_of_day.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

TEST(TimeParser, AcceptsWhatTheTextRulesAllow) {
    const std::tuple<const char*, std::optional<TimeOfDay>> cases[] = {
        {"\n\t23:59\r\n", TimeOfDay{23, 59}},
        {"0000000000000000000000000007:00", TimeOfDay{7, 0}},
        {"24:00", std::nullopt},
        {"23:60", std::nullopt},
        {"+7:30", std::nullopt},
        {"7.30", std::nullopt},
        {"0700", std::nullopt},
        {"07:00:00", std::nullopt},
        {"0 7:30", std::nullopt},
        {"", std::nullopt},
        {"99999999999999999999:00", std::nullopt},
        {"\xD9\xA7:00", std::nullopt},  // an Arabic-Indic seven is no ASCII digit
        {"07\n:00", std::nullopt},      // a line break inside a part is not trimmed
    };
    for (const auto& [text, want] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(parseTimeOfDay(text), want);
    }
}

TEST(QuietWindow, IncludesTheStartAndExcludesTheEnd) {
    const std::tuple<const char*, const char*, const char*, int, int, bool> cases[] = {
        {"across midnight, at the start", "22:00", "06:00", 22, 0, true},
        {"across midnight, last minute", "22:00", "06:00", 5, 59, true},
        {"across midnight, at the end", "22:00", "06:00", 6, 0, false},
        {"default window, at midnight", "00:00", "07:00", 0, 0, true},
        {"default window, at the end", "00:00", "07:00", 7, 0, false},
        {"start equals end", "08:00", "08:00", 8, 0, false},
        {"unparsable start", "8 am", "09:00", 8, 30, false},
    };
    for (const auto& [what, start, end, hour, minute, inside] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        auto controller = test.makeController();
        controller->setQuietHoursEnabled(true);
        controller->setQuietHoursStart(start);
        controller->setQuietHoursEnd(end);
        test.clock.setLocalTime(hour, minute, 59);
        EXPECT_EQ(controller->isInQuietHours(), inside);
    }
}

TEST(QuietSettings, LoadWithDefaultsForWhatIsMissingOrOutOfRange) {
    namespace keys = defaults_keys;
    // clang-format off
    const std::tuple<const char*, std::map<std::string, DefaultsValue>, bool, std::string, std::string, std::int64_t> cases[] = {
        {"nothing stored", {}, false, "00:00", "07:00", 30},
        {"everything stored", {{keys::kQuietHoursEnabled, true}, {keys::kQuietHoursStart, std::string("22:00")}, {keys::kQuietHoursEnd, std::string("6:30")}, {keys::kQuietHoursIntervalMinutes, std::int64_t{45}}}, true, "22:00", "6:30", 45},
        {"an interval of 0", {{keys::kQuietHoursIntervalMinutes, std::int64_t{0}}}, false, "00:00", "07:00", 30},
        {"an interval of 1 is kept", {{keys::kQuietHoursIntervalMinutes, std::int64_t{1}}}, false, "00:00", "07:00", 1},
        {"a large interval is kept", {{keys::kQuietHoursIntervalMinutes, std::int64_t{5000}}}, false, "00:00", "07:00", 5000},
        {"texts that do not parse are kept as stored", {{keys::kQuietHoursStart, std::string("soon")}}, false, "soon", "07:00", 30},
    };
    // clang-format on
    for (const auto& [what, stored, enabled, start, end, interval] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        test.defaults.values = stored;
        auto controller = test.makeController();
        controller->loadQuietHoursState();
        EXPECT_EQ(controller->quietHoursEnabled(), enabled);
        EXPECT_EQ(controller->quietHoursStart(), start);
        EXPECT_EQ(controller->quietHoursEnd(), end);
        EXPECT_EQ(controller->quietHoursIntervalMinutes(), interval);
    }
}

}  // namespace
}  // namespace dorvane
