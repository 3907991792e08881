#include "fuzz/fuzz_target.h"
#include "system/probe_parsers.h"
#include "system/schedule_reader.h"

// The listings of pmset and ioreg: every reading must come back without fault, and a charge only
// as a percentage.
DORVANE_FUZZ_TARGET(probe_listings) {
    const std::string_view listing = dorvane::fuzz::asText(data, size);
    dorvane::parsePowerSource(listing);
    dorvane::parseSleepSwitch(listing);
    dorvane::parseClamshellClosed(listing);
    const auto charge = dorvane::parseBatteryCharge(listing);
    DORVANE_FUZZ_EXPECT(!charge || (*charge >= 0 && *charge <= 100));
    dorvane::describeRepeatingEvents(listing);
    return 0;
}
