#include <gtest/gtest.h>

#include "system/probe_parsers.h"

namespace dorvane {
namespace {

// clang-format off
// Real listings: from the public reports named, or in the layout Apple's open-source pmset.m and
// ioreg.c print (" -%s (id=%d)\t%d%%; ", " SleepDisabled\t\t%d", "  | " before the properties
// of a node with children). pmset -g batt prints what -g ps does: spaceship-prompt pull request
// #640 (macOS 10.14) and imwally/battstat issue #2 (OS X 10.11, which printed no "(id=...)").
const char* const kPowerListingBattery = "Now drawing from 'Battery Power'\n"
    " -InternalBattery-0 (id=5374051)\t95%; discharging; 3:06 remaining present: true\n";
const char* const kPowerListingAC = "Now drawing from 'AC Power'\n"
    " -InternalBattery-0 \t88%; AC attached; not charging present: true\n";
// pmset -g where the switch was never set: 5T33Z0/Gigabyte-Z490-Vision-G-Hackintosh-OpenCore
// issue #31 (macOS 13).
const char* const kSettingsNeverSet = "System-wide power settings:\nCurrently in use:\n"
    " standby              1\n Sleep On Power Button 1\n"
    " sleep                1 (sleep prevented by sharingd, coreaudiod)\n";
const char* const kSettingsListing = "System-wide power settings:\n SleepDisabled\t\t1\n"
    "Currently in use:\n standby              1\n sleep                1 (sleep prevented by x)\n";
// ioreg -r -k AppleClamshellState -d 4, the root domain with children.
const char* const kClamshellClosedListing = "+-o IOPMrootDomain  <class IOPMrootDomain, id "
    "0x100000104, registered, matched, active, busy 0 (120 ms), retain 240>\n  | {\n"
    "  |   \"AppleClamshellCausesSleep\" = Yes\n  |   \"AppleClamshellState\" = Yes\n  | }\n  | \n"
    "  +-o RootDomainUserClient  <class RootDomainUserClient, id 0x100000981, !registered, "
    "!matched, active, busy 0, retain 5>\n";
// clang-format on

// Reads each row's listing with the parser and compares the reading with the row's.
template <typename Want>
void expectReadings(Want (*parse)(std::string_view),
                    std::initializer_list<std::tuple<const char*, std::string, Want>> cases) {
    for (const auto& [what, listing, want] : cases) {
        SCOPED_TRACE(what);
        EXPECT_EQ(parse(listing), want);
    }
}

TEST(PowerSourceParser, AdapterIsTestedFirst) {
    // clang-format off
    expectReadings(parsePowerSource, {
        {"on the adapter", kPowerListingAC, PowerSource::AC},
        {"on battery", kPowerListingBattery, PowerSource::Battery},
        {"names both sources", "'Battery Power' then 'AC Power'", PowerSource::AC},
        {"another source only", "Now drawing from 'UPS Power'\n", PowerSource::Unknown},
        {"case differs", "Now drawing from 'ac power'\n", PowerSource::Unknown},
    });
    // clang-format on
}

TEST(BatteryChargeParser, ReadsOnlyAWholePercentOnTheFirstBatteryLine) {
    // clang-format off
    expectReadings(parseBatteryCharge, {
        {"on the adapter, no id as OS X 10.11 printed it", kPowerListingAC, 88},
        {"on battery", kPowerListingBattery, 95},
        {"a UPS line and a battery warning besides", "Now drawing from 'UPS Power'\n -Back-UPS (id=9)\t60%; discharging\n -InternalBattery-0 (id=1)\t7%; discharging present: true\n\tBattery Warning: Early\n", 7},
        {"a desktop: no battery line", "Now drawing from 'AC Power'\n", std::nullopt},
        {"empty battery", " -InternalBattery-0 (id=1)\t0%; discharging\n", 0},
        {"above 100", " -InternalBattery-0 (id=1)\t120%; discharging\n", std::nullopt},
        {"no percent sign", " -InternalBattery-0 (id=1)\t42; discharging\n", std::nullopt},
        {"too many digits", " -InternalBattery-0 (id=1)\t0042%; discharging\n", std::nullopt},
        {"a percent sign alone", " -InternalBattery-0 (id=1)\t%; discharging\n", std::nullopt},
        {"the first battery decides", " -InternalBattery-0 (id=1)\t30%;\n -InternalBattery-1 (id=2)\t5%;\n", 30},
        {"a garbled first battery hides a second", " -InternalBattery-0 (id=1)\tx%;\n -InternalBattery-1 (id=2)\t5%;\n", std::nullopt},
        {"a first battery line cut short hides a second", " -InternalBattery-0 (id=1\n -InternalBattery-1 (id=2)\t5%;\n", std::nullopt},
    });
    // clang-format on
}

TEST(SleepSwitchParser, ReadsTheFirstQualifyingLine) {
    // clang-format off
    expectReadings(parseSleepSwitch, {
        {"set, tabs as pmset prints them", kSettingsListing, true},
        {"never set: no switch line at all", kSettingsNeverSet, false},
        {"cleared", "System-wide power settings:\n SleepDisabled\t\t0\n DestroyFVKeyOnStandby\t\t1\n", false},
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
    });
    // clang-format on
}

TEST(ClamshellParser, ClosedIsTestedFirst) {
    // clang-format off
    expectReadings(parseClamshellClosed, {
        {"closed", kClamshellClosedListing, true},
        {"open, on a node without children", "+-o IOPMrootDomain  <class IOPMrootDomain>\n    {\n      \"AppleClamshellState\" = No\n    }\n", false},
        {"two entries, different states", "\"AppleClamshellState\" = No\n\"AppleClamshellState\" = Yes\n", true},
        {"no lid (a desktop)", "+-o IOPMrootDomain\n  {\n  \"SleepPolicy\" = 1\n  }\n", std::nullopt},
        {"other spacing", "\"AppleClamshellState\"=Yes", std::nullopt},
    });
    // clang-format on
}

}  // namespace
}  // namespace dorvane
