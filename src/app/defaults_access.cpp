#include "app/defaults_access.h"

#include "base/overloaded.h"

#include <limits>

namespace dorvane {
namespace {

// The integer a text starts with, as the system reads it: blanks skipped, an optional sign, then
// digits; saturating where the value does not fit. Absent when no digit follows.
std::optional<std::int64_t> leadingInteger(const std::string& text) {
    std::size_t i = text.find_first_not_of(" \t\n");
    if (i == std::string::npos) {
        return std::nullopt;
    }
    const bool negative = text[i] == '-';
    if (text[i] == '-' || text[i] == '+') {
        ++i;
    }
    if (i == text.size() || text[i] < '0' || text[i] > '9') {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (std::numeric_limits<std::int64_t>::max() - digit) / 10) {
            return negative ? std::numeric_limits<std::int64_t>::min()
                            : std::numeric_limits<std::int64_t>::max();
        }
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

}  // namespace

bool textReadsAsTrue(const std::string& text) {
    const std::size_t i = text.find_first_not_of(" \t\n+-0");
    if (i == std::string::npos) {
        return false;
    }
    const char first = text[i];
    return first == 'Y' || first == 'y' || first == 'T' || first == 't' ||
           (first >= '1' && first <= '9');
}

std::int64_t integerForKey(const UserDefaults& defaults, const std::string& key) {
    return storedIntegerForKey(defaults, key).value_or(0);
}

std::optional<std::int64_t> storedIntegerForKey(const UserDefaults& defaults,
                                                const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (!value) {
        return std::nullopt;
    }
    return std::visit(
        Overloaded{[](bool b) -> std::optional<std::int64_t> { return b ? 1 : 0; },
                   [](std::int64_t n) -> std::optional<std::int64_t> { return n; },
                   [](const std::string& s) { return leadingInteger(s); },
                   [](const auto&) -> std::optional<std::int64_t> { return std::nullopt; }},
        *value);
}

std::optional<std::int64_t> storedWholeNumberForKey(const UserDefaults& defaults,
                                                    const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (const auto* number = value ? std::get_if<std::int64_t>(&*value) : nullptr) {
        return *number;
    }
    const auto* text = value ? std::get_if<std::string>(&*value) : nullptr;
    if (text == nullptr) {
        return std::nullopt;
    }
    const std::size_t first = text->find_first_not_of(" \t\n");
    const std::size_t last = text->find_last_not_of(" \t\n");
    if (first == std::string::npos) {
        return std::nullopt;
    }
    const std::string trimmed = text->substr(first, last - first + 1);
    const std::size_t digits = trimmed.front() == '-' || trimmed.front() == '+' ? 1 : 0;
    if (digits == trimmed.size() ||
        trimmed.find_first_not_of("0123456789", digits) != std::string::npos) {
        return std::nullopt;
    }
    return leadingInteger(trimmed);
}

bool boolForKey(const UserDefaults& defaults, const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (!value) {
        return false;
    }
    return std::visit(Overloaded{[](bool b) { return b; }, [](std::int64_t n) { return n != 0; },
                                 [](const std::string& s) { return textReadsAsTrue(s); },
                                 [](const auto&) { return false; }},
                      *value);
}

std::optional<std::string> stringForKey(const UserDefaults& defaults, const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (!value) {
        return std::nullopt;
    }
    return std::visit(
        Overloaded{[](const std::string& s) -> std::optional<std::string> { return s; },
                   [](std::int64_t n) -> std::optional<std::string> { return std::to_string(n); },
                   [](bool b) -> std::optional<std::string> { return b ? "1" : "0"; },
                   [](const auto&) -> std::optional<std::string> { return std::nullopt; }},
        *value);
}

std::optional<DefaultsDictionary> dictionaryForKey(const UserDefaults& defaults,
                                                   const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (const auto* dictionary = value ? std::get_if<DefaultsDictionary>(&*value) : nullptr) {
        return *dictionary;
    }
    return std::nullopt;
}

std::optional<Date> dateForKey(const UserDefaults& defaults, const std::string& key) {
    const auto value = defaults.objectForKey(key);
    if (const auto* date = value ? std::get_if<Date>(&*value) : nullptr) {
        return *date;
    }
    return std::nullopt;
}

}  // namespace dorvane
