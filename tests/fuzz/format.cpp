#include <algorithm>

#include "base/format.h"
#include "fuzz/fuzz_target.h"

// A format text from a table or from outside, with a text and an integer taken from the input:
// substitution never reads past its arguments, and no placeholder writes more than its widest
// width (six digits) or its longest argument, so the output stays within that bound.
DORVANE_FUZZ_TARGET(format) {
    std::string_view text = dorvane::fuzz::asText(data, size);
    std::int64_t number = 0;
    for (std::size_t i = 0; i < 8 && i < text.size(); ++i) {
        number = (number << 8) | static_cast<unsigned char>(text[i]);
    }
    const std::size_t split = text.find('\n');
    const std::string argument(split == std::string_view::npos ? "" : text.substr(split + 1));
    const std::string_view format = text.substr(0, split);
    const auto placeholders =
        static_cast<std::size_t>(std::count(format.begin(), format.end(), '%'));
    const std::size_t bound =
        format.size() + placeholders * std::max<std::size_t>({999'999, argument.size(), 20});
    DORVANE_FUZZ_EXPECT(dorvane::formatString(format, {argument, number}).size() <= bound);
    DORVANE_FUZZ_EXPECT(dorvane::formatString(format, {number, argument, number}).size() <= bound);
    DORVANE_FUZZ_EXPECT(dorvane::formatString(format, {}).size() <= format.size());
    return 0;
}
