#include "fuzz/fuzz_target.h"
#include "platform/linux/libplist_property_lists.h"

// The settings file and the launch agent as property lists: what parses can be written back.
DORVANE_FUZZ_TARGET(property_list) {
    dorvane::LibplistPropertyLists plists;
    std::string error;
    if (const auto value = plists.parse(dorvane::fuzz::asText(data, size), &error)) {
        plists.xmlData(*value, &error);
    }
    return 0;
}
