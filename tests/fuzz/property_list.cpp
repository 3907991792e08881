#include "fuzz/fuzz_target.h"
#include "platform/linux/libplist_property_lists.h"

// The settings file and the launch agent as property lists: what parses is written back, and what
// was written parses to the same value. A real that is no number never equals itself, so a list
// holding one is compared as written.
DORVANE_FUZZ_TARGET(property_list) {
    dorvane::LibplistPropertyLists plists;
    std::string error;
    if (const auto value = plists.parse(dorvane::fuzz::asText(data, size), &error)) {
        const auto written = plists.xmlData(*value, &error);
        const auto reread = written ? plists.parse(*written, &error) : std::nullopt;
        const bool noNumber = written && written->find("nan</real>") != std::string::npos;
        DORVANE_FUZZ_EXPECT(
            reread && (noNumber ? plists.xmlData(*reread, &error) == written : *reread == *value));
    }
    return 0;
}
