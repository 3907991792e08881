#include <gtest/gtest.h>

#include "system/probe_parsers.h"

namespace dorvane {
namespace {

// Captured from a notebook on its adapter, as pmset prints it.
const char* const kPowerListingAC =
    "Now drawing from 'AC Power'\n"
    " -InternalBattery-0 (id=4653155)\t100%; charged; 0:00 remaining present: true\n";
const char* const kPowerListingBattery =
    "Now drawing from 'Battery Power'\n"
    " -InternalBattery-0 (id=4653155)\t87%; discharging; 5:12 remaining present: true\n";
const char* const kSettingsListing =
    "System-wide power settings:\n"
    " SleepDisabled\t\t1\n"
    "Currently in use:\n"
    " standby              1\n"
    " sleep                1 (sleep prevented by sharingd)\n"
    " hibernatemode        3\n";
const char* const kClamshellClosedListing =
    "+-o IOPMrootDomain  <class IOPMrootDomain, id 0x100000229, registered, matched, active, "
    "busy 0 (0 ms), retain 233>\n"
    "    {\n"
    "      \"AppleClamshellCausesSleep\" = Yes\n"
    "      \"AppleClamshellState\" = Yes\n"
    "    }\n";

TEST(PowerSourceParser, AdapterIsTestedFirst) {
    // clang-format off
    const std::tuple<const char*, std::string, PowerSource> cases[] = {
        {"on the adapter", kPowerListingAC, PowerSource::AC},
        {"on battery", kPowerListingBattery, PowerSource::Battery},
        {"names both sources", "'Battery Power' then 'AC Power'", PowerSource::AC},
        {"another source only", "Now drawing from 'UPS Power'\n", PowerSource::Unknown},
        {"case differs", "Now drawing from 'ac power'\n", PowerSource::Unknown},
    };
    // clang-format on
    for (const auto& [what, listing, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(parsePowerSource(listing), want);
    }
}

TEST(BatteryChargeParser, ReadsOnlyAWholePercentOnTheFirstBatteryLine) {
    // clang-format off
    const std::tuple<const char*, std::string, std::optional<std::int64_t>> cases[] = {
        {"on the adapter, full", kPowerListingAC, 100},
        {"on battery", kPowerListingBattery, 87},
        {"a desktop: no battery line", "Now drawing from 'AC Power'\n", std::nullopt},
        {"empty battery", " -InternalBattery-0 (id=1)\t0%; discharging\n", 0},
        {"above 100", " -InternalBattery-0 (id=1)\t120%; discharging\n", std::nullopt},
        {"no percent sign", " -InternalBattery-0 (id=1)\t42; discharging\n", std::nullopt},
        {"too many digits", " -InternalBattery-0 (id=1)\t0042%; discharging\n", std::nullopt},
        {"a percent sign alone", " -InternalBattery-0 (id=1)\t%; discharging\n", std::nullopt},
        {"the first battery decides", " -InternalBattery-0 (id=1)\t30%;\n -InternalBattery-1 (id=2)\t5%;\n", 30},
        {"a garbled first battery hides a second", " -InternalBattery-0 (id=1)\tx%;\n -InternalBattery-1 (id=2)\t5%;\n", std::nullopt},
        {"a first battery line cut short hides a second", " -InternalBattery-0 (id=1\n -InternalBattery-1 (id=2)\t5%;\n", std::nullopt},
    };
    // clang-format on
    for (const auto& [what, listing, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(parseBatteryCharge(listing), want);
    }
}

TEST(SleepSwitchParser, ReadsTheFirstQualifyingLine) {
    // clang-format off
    const std::tuple<const char*, std::string, bool> cases[] = {
        {"set, tabs as pmset prints them", kSettingsListing, true},
        {"key in capitals", " SLEEPDISABLED 1\n", true},
        {"the other spelling", "disablesleep 1", true},
        {"only 1 counts", " SleepDisabled\t\tyes\n", false},
        {"a value that only begins with 1", " SleepDisabled\t\t10\n", false},
        {"value followed by words", " SleepDisabled 1 (forced)\n", false},
        {"key alone, no value", " disablesleep\n", false},
        {"a longer word beginning with the key", " SleepDisabledByUser 1\n", true},
        {"first line decides", " SleepDisabled 0\n disablesleep 1\n", false},
        {"a line that only mentions the key", " sleep prevented by disablesleep 1\n SleepDisabled 0\n", false},
        {"CR LF line ends", "System-wide power settings:\r\n SleepDisabled\t\t1\r\n", true},
        {"a no-break space trims like a blank", "\xC2\xA0SleepDisabled\xC2\xA0" "1\n", true},
        {"line separator U+2028 splits lines", "x\xE2\x80\xA8SleepDisabled 1", true},
    };
    // clang-format on
    for (const auto& [what, listing, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(parseSleepSwitch(listing), want);
    }
}

TEST(ClamshellParser, ClosedIsTestedFirst) {
    // clang-format off
    const std::tuple<const char*, std::string, std::optional<bool>> cases[] = {
        {"closed", kClamshellClosedListing, true},
        {"open", "  \"AppleClamshellState\" = No\n", false},
        {"two entries, different states", "\"AppleClamshellState\" = No\n\"AppleClamshellState\" = Yes\n", true},
        {"no lid (a desktop)", "+-o IOPMrootDomain\n  {\n  \"SleepPolicy\" = 1\n  }\n", std::nullopt},
        {"other spacing", "\"AppleClamshellState\"=Yes", std::nullopt},
    };
    // clang-format on
    for (const auto& [what, listing, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(parseClamshellClosed(listing), want);
    }
}

}  // namespace
}  // namespace dorvane
