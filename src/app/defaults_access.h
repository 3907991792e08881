#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "platform/user_defaults.h"

namespace dorvane {

// Typed reads of the user defaults, coercing as the system's defaults do: a number reads as a
// boolean (non-zero) and a boolean as a number; a text reads as a number from its leading
// digits and as a boolean from its first letter (Y, T or a non-zero digit); a number reads as
// its decimal text. A missing key reads as 0, false or absent.
// How a text reads as a boolean: true when its first letter, past blanks, signs and zeros, is Y,
// T or a digit other than 0.
bool textReadsAsTrue(const std::string& text);

std::int64_t integerForKey(const UserDefaults& defaults, const std::string& key);
// The integer a setting holds, coerced as integerForKey does; absent when the key is missing or
// holds nothing that reads as a number (a text without leading digits, a date, a dictionary), so
// that the caller's own default applies rather than a 0 nobody wrote.
std::optional<std::int64_t> storedIntegerForKey(const UserDefaults& defaults,
                                                const std::string& key);
// The integer a setting holds when it is one: an integer, or a text that is exactly one (blanks
// around it allowed). Absent for anything else, a boolean or a text such as "0.1" included, so
// that a value nobody meant as a number never reads as 0 or 1.
std::optional<std::int64_t> storedWholeNumberForKey(const UserDefaults& defaults,
                                                    const std::string& key);
bool boolForKey(const UserDefaults& defaults, const std::string& key);
std::optional<std::string> stringForKey(const UserDefaults& defaults, const std::string& key);
std::optional<DefaultsDictionary> dictionaryForKey(const UserDefaults& defaults,
                                                   const std::string& key);
std::optional<Date> dateForKey(const UserDefaults& defaults, const std::string& key);

}  // namespace dorvane
