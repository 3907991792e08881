#include "base/strings_file.h"
#include "base/text_lines.h"
#include "fuzz/fuzz_target.h"

// String tables in any encoding: what is parsed is UTF-8 throughout.
DORVANE_FUZZ_TARGET(strings_file) {
    const auto table = dorvane::parseStringsFile(dorvane::fuzz::asText(data, size));
    if (table) {
        for (const auto& [key, value] : *table) {
            DORVANE_FUZZ_EXPECT(dorvane::isValidUtf8(key) && dorvane::isValidUtf8(value));
        }
    }
    return 0;
}
