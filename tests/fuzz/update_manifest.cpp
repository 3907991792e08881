#include "fuzz/fuzz_target.h"
#include "update/version_check.h"

// The update manifest and the versions it names: a manifest read offers a version that begins
// with a digit, and the comparison is antisymmetric.
DORVANE_FUZZ_TARGET(update_manifest) {
    const std::string_view body = dorvane::fuzz::asText(data, size);
    for (const bool english : {true, false}) {
        const auto manifest = dorvane::parseUpdateManifest(body, english);
        DORVANE_FUZZ_EXPECT(!manifest || manifest->version.find_first_of("0123456789") == 0);
    }
    const std::size_t split = body.find('\n');
    if (split != std::string_view::npos) {
        const std::string_view a = body.substr(0, split);
        const std::string_view b = body.substr(split + 1);
        const int forward = dorvane::compareVersions(a, b);
        const int backward = dorvane::compareVersions(b, a);
        DORVANE_FUZZ_EXPECT((forward < 0) == (backward > 0) && (forward == 0) == (backward == 0));
        dorvane::leadingVersion(a);
    }
    return 0;
}
