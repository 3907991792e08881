#include "base/format.h"
#include "fuzz/fuzz_target.h"

// A format text from a table or from outside, with a text and an integer taken from the input:
// substitution never reads past its arguments.
DORVANE_FUZZ_TARGET(format) {
    std::string_view text = dorvane::fuzz::asText(data, size);
    std::int64_t number = 0;
    for (std::size_t i = 0; i < 8 && i < text.size(); ++i) {
        number = (number << 8) | static_cast<unsigned char>(text[i]);
    }
    const std::size_t split = text.find('\n');
    const std::string argument(split == std::string_view::npos ? "" : text.substr(split + 1));
    const std::string_view format = text.substr(0, split);
    dorvane::formatString(format, {argument, number});
    dorvane::formatString(format, {number, argument, number});
    dorvane::formatString(format, {});
    return 0;
}
