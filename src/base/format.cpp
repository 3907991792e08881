#include "base/format.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace dorvane {
namespace {

struct Placeholder {
    std::optional<std::size_t> position;  // 1-based, for the positional form
    bool leftJustify = false;
    bool zeroPad = false;
    std::size_t width = 0;
    char conversion = 0;
    std::size_t length = 0;  // bytes of the placeholder in the format
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a run of digits; absent when there is none or it is absurdly long.
std::optional<std::size_t> readNumber(std::string_view text, std::size_t& i) {
    const std::size_t start = i;
    std::size_t value = 0;
    while (i < text.size() && isDigit(text[i])) {
        if (i - start >= 6) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<std::size_t>(text[i] - '0');
        ++i;
    }
    return i == start ? std::nullopt : std::optional<std::size_t>(value);
}

// Parses the placeholder that starts at text[0] == '%'; absent when it is not one we substitute.
std::optional<Placeholder> parsePlaceholder(std::string_view text) {
    Placeholder placeholder;
    std::size_t i = 1;
    if (i < text.size() && isDigit(text[i]) && text[i] != '0') {
        std::size_t lookahead = i;
        const auto number = readNumber(text, lookahead);
        if (number && lookahead < text.size() && text[lookahead] == '$') {
            placeholder.position = *number;
            i = lookahead + 1;
        }
    }
    for (; i < text.size(); ++i) {
        if (text[i] == '-') {
            placeholder.leftJustify = true;
        } else if (text[i] == '0') {
            placeholder.zeroPad = true;
        } else if (text[i] != '+' && text[i] != ' ' && text[i] != '#' && text[i] != '\'') {
            break;
        }
    }
    if (i < text.size() && isDigit(text[i])) {
        const auto width = readNumber(text, i);
        if (!width) {
            return std::nullopt;
        }
        placeholder.width = *width;
    }
    while (i < text.size() && (text[i] == 'l' || text[i] == 'h' || text[i] == 'q' ||
                               text[i] == 'z' || text[i] == 't' || text[i] == 'j')) {
        ++i;
    }
    if (i >= text.size()) {
        return std::nullopt;
    }
    switch (text[i]) {
        case '@':
        case 's':
        case 'd':
        case 'i':
        case 'u':
            placeholder.conversion = text[i];
            placeholder.length = i + 1;
            return placeholder;
        default:
            return std::nullopt;
    }
}

std::string render(const FormatArgument& argument) {
    if (const auto* text = std::get_if<std::string>(&argument)) {
        return *text;
    }
    return std::to_string(std::get<std::int64_t>(argument));
}

std::string pad(std::string value, const Placeholder& placeholder, bool numeric) {
    if (value.size() >= placeholder.width) {
        return value;
    }
    const std::size_t missing = placeholder.width - value.size();
    if (placeholder.leftJustify) {
        return value + std::string(missing, ' ');
    }
    if (placeholder.zeroPad && numeric) {
        const std::size_t signLength = !value.empty() && value[0] == '-' ? 1 : 0;
        value.insert(signLength, missing, '0');
        return value;
    }
    return std::string(missing, ' ') + value;
}

}  // namespace

std::string formatString(std::string_view format, std::initializer_list<FormatArgument> arguments) {
    const std::vector<FormatArgument> argumentList(arguments);
    std::string out;
    out.reserve(format.size() + 32);
    std::size_t nextArgument = 0;
    std::size_t i = 0;
    while (i < format.size()) {
        const std::size_t percent = format.find('%', i);
        if (percent == std::string_view::npos) {
            out.append(format.substr(i));
            break;
        }
        out.append(format.substr(i, percent - i));
        if (percent + 1 < format.size() && format[percent + 1] == '%') {
            out += '%';
            i = percent + 2;
            continue;
        }
        const auto placeholder = parsePlaceholder(format.substr(percent));
        if (!placeholder) {
            out += '%';
            i = percent + 1;
            continue;
        }
        const std::size_t index =
            placeholder->position ? *placeholder->position - 1 : nextArgument++;
        const std::string_view written = format.substr(percent, placeholder->length);
        if (index >= argumentList.size()) {
            out.append(written);
        } else {
            const FormatArgument& argument = argumentList[index];
            out +=
                pad(render(argument), *placeholder, std::holds_alternative<std::int64_t>(argument));
        }
        i = percent + placeholder->length;
    }
    return out;
}

}  // namespace dorvane
