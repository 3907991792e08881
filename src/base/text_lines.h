#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

// Splits at every newline character: line feed, carriage return, U+000B, U+000C, U+0085,
// U+2028 and U+2029. A CR LF pair counts as one line end: split in two, it would put an empty
// line inside a section whose end is an empty line.
std::vector<std::string_view> splitLines(std::string_view text);

// Trims blanks and tabs (the Unicode space separators and the horizontal tab), never line ends.
std::string_view trimBlanks(std::string_view text);

// Trims blanks, tabs and newline characters at both ends.
std::string_view trimBlanksAndNewlines(std::string_view text);

// Splits at every single blank or tab; a run of several yields empty pieces between them.
std::vector<std::string_view> splitAtEachBlank(std::string_view text);

// Lower-cases ASCII letters; every other byte is kept.
std::string asciiLower(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, nothing past
// U+10FFFF).
bool isValidUtf8(std::string_view bytes);

}  // namespace dorvane
