#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dorvane {

using StringsTable = std::map<std::string, std::string, std::less<>>;

// Parses a string table in the .strings format: "key" = "value"; entries, quoted or bare words,
// C and C++ comments, backslash escapes (\n, \t, \", \\, \Uxxxx, octal). The bytes are UTF-8, or
// UTF-8 or UTF-16 (either order) behind a byte-order mark. On failure returns nothing and puts a
// description with the line number into error.
std::optional<StringsTable> parseStringsFile(std::string_view bytes, std::string* error = nullptr);

// Looks keys up through tables in order of preference; a key that no table holds yields itself.
class LocalizedStrings {
public:
    LocalizedStrings() = default;
    explicit LocalizedStrings(std::vector<StringsTable> tablesByPreference)
        : tables_(std::move(tablesByPreference)) {}

    std::string lookup(std::string_view key) const;

private:
    std::vector<StringsTable> tables_;
};

}  // namespace dorvane
