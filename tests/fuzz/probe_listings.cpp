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
    if (const auto charge = dorvane::parseBatteryCharge(listing);
        charge && (*charge < 0 || *charge > 100)) {
        __builtin_trap();
    }
    dorvane::describeRepeatingEvents(listing);
    return 0;
}
