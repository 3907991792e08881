#include "base/strings_file.h"

#include <algorithm>
#include <cstdint>

#include "base/text_lines.h"

namespace dorvane {
namespace {

void appendUtf8(std::string& out, std::uint32_t codePoint) {
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// Converts UTF-16 code units to UTF-8; false on an unpaired surrogate.
bool appendUtf16(std::string& out, const std::vector<std::uint16_t>& units) {
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t unit = units[i];
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) {
                return false;
            }
            const std::uint32_t low = units[++i];
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            return false;
        } else {
            appendUtf8(out, unit);
        }
    }
    return true;
}

// Brings the file's bytes to UTF-8, following a byte-order mark when there is one.
std::optional<std::string> toUtf8(std::string_view bytes, std::string* error) {
    const auto startsWith = [&](std::string_view mark) { return bytes.starts_with(mark); };
    if (startsWith("\xEF\xBB\xBF")) {
        return std::string(bytes.substr(3));
    }
    const bool littleEndian = startsWith("\xFF\xFE");
    if (!littleEndian && !startsWith("\xFE\xFF")) {
        return std::string(bytes);
    }
    bytes.remove_prefix(2);
    if (bytes.size() % 2 != 0) {
        if (error != nullptr) {
            *error = "UTF-16 text with an odd number of bytes";
        }
        return std::nullopt;
    }
    std::vector<std::uint16_t> units;
    units.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const auto first = static_cast<unsigned char>(bytes[i]);
        const auto second = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(static_cast<std::uint16_t>(littleEndian ? first | (second << 8)
                                                                : (first << 8) | second));
    }
    std::string text;
    if (!appendUtf16(text, units)) {
        if (error != nullptr) {
            *error = "UTF-16 text with an unpaired surrogate";
        }
        return std::nullopt;
    }
    return text;
}

bool isBareWordCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

class Parser {
public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<StringsTable> parse(std::string* error) {
        StringsTable table;
        while (skipSpaceAndComments()) {
            std::string key;
            if (!readString(key) || !skipSpaceAndComments()) {
                return fail(error, "expected a key");
            }
            std::string value;
            if (peek() == ';') {
                value = key;  // a lone key stands for itself
            } else {
                if (peek() != '=') {
                    return fail(error, "expected '=' after a key");
                }
                ++position_;
                if (!skipSpaceAndComments() || !readString(value)) {
                    return fail(error, "expected a value");
                }
                if (!skipSpaceAndComments() || peek() != ';') {
                    return fail(error, "expected ';' after a value");
                }
            }
            ++position_;
            table.insert_or_assign(std::move(key), std::move(value));
        }
        if (failed_) {
            return fail(error, failure_);
        }
        return table;
    }

private:
    char peek() const { return text_[position_]; }
    bool atEnd() const { return position_ >= text_.size(); }

    std::optional<StringsTable> fail(std::string* error, const std::string& what) {
        if (error != nullptr) {
            int line = 1;
            for (std::size_t i = 0; i < std::min(position_, text_.size()); ++i) {
                line += text_[i] == '\n' ? 1 : 0;
            }
            *error = "line " + std::to_string(line) + ": " + (failed_ ? failure_ : what);
        }
        return std::nullopt;
    }

    // Skips white space and comments; false at the end of the text or inside an unclosed comment.
    bool skipSpaceAndComments() {
        while (!atEnd()) {
            const char c = peek();
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v') {
                ++position_;
            } else if (text_.substr(position_).starts_with("//")) {
                const std::size_t end = text_.find('\n', position_);
                position_ = end == std::string_view::npos ? text_.size() : end + 1;
            } else if (text_.substr(position_).starts_with("/*")) {
                const std::size_t end = text_.find("*/", position_ + 2);
                if (end == std::string_view::npos) {
                    failed_ = true;
                    failure_ = "unclosed comment";
                    position_ = text_.size();
                    return false;
                }
                position_ = end + 2;
            } else {
                return true;
            }
        }
        return false;
    }

    bool readString(std::string& out) {
        if (atEnd()) {
            return false;
        }
        if (peek() == '"') {
            return readQuoted(out);
        }
        const std::size_t start = position_;
        while (!atEnd() && isBareWordCharacter(peek())) {
            ++position_;
        }
        out.assign(text_.substr(start, position_ - start));
        return !out.empty();
    }

    bool readQuoted(std::string& out) {
        ++position_;                              // the opening quote
        std::vector<std::uint16_t> pendingUnits;  // \U escapes, joined so surrogate pairs combine
        const auto flushUnits = [&] {
            const bool ok = appendUtf16(out, pendingUnits);
            pendingUnits.clear();
            return ok;
        };
        while (!atEnd()) {
            const char c = text_[position_++];
            if (c == '"') {
                return flushUnits();
            }
            if (c != '\\') {
                if (!flushUnits()) {
                    return false;
                }
                out += c;
                continue;
            }
            if (atEnd()) {
                return false;
            }
            const char escaped = text_[position_++];
            if (escaped == 'U' || escaped == 'u') {
                std::uint32_t unit = 0;
                for (int digit = 0; digit < 4; ++digit) {
                    const int value = atEnd() ? -1 : hexValue(text_[position_]);
                    if (value < 0) {
                        return false;
                    }
                    unit = unit * 16 + static_cast<std::uint32_t>(value);
                    ++position_;
                }
                pendingUnits.push_back(static_cast<std::uint16_t>(unit));
                continue;
            }
            if (!flushUnits()) {
                return false;
            }
            if (escaped >= '0' && escaped <= '7') {
                std::uint32_t value = static_cast<std::uint32_t>(escaped - '0');
                for (int digit = 1; digit < 3 && !atEnd() && peek() >= '0' && peek() <= '7';
                     ++digit) {
                    value = value * 8 + static_cast<std::uint32_t>(text_[position_++] - '0');
                }
                appendUtf8(out, value);
                continue;
            }
            switch (escaped) {
                case 'n':
                    out += '\n';
                    break;
                case 't':
                    out += '\t';
                    break;
                case 'r':
                    out += '\r';
                    break;
                case 'a':
                    out += '\a';
                    break;
                case 'b':
                    out += '\b';
                    break;
                case 'f':
                    out += '\f';
                    break;
                case 'v':
                    out += '\v';
                    break;
                default:
                    out += escaped;
                    break;  // \" \\ \' and any other character stand for themselves
            }
        }
        return false;  // no closing quote
    }

    std::string_view text_;
    std::size_t position_ = 0;
    bool failed_ = false;
    std::string failure_;
};

}  // namespace

std::optional<StringsTable> parseStringsFile(std::string_view bytes, std::string* error) {
    const std::optional<std::string> text = toUtf8(bytes, error);
    if (!text) {
        return std::nullopt;
    }
    auto table = Parser(*text).parse(error);
    // Every text the tables hand on is UTF-8, whatever the file's bytes or escapes made of it.
    const bool utf8 = table && std::all_of(table->begin(), table->end(), [](const auto& entry) {
                          return isValidUtf8(entry.first) && isValidUtf8(entry.second);
                      });
    if (table && !utf8) {
        if (error != nullptr) {
            *error = "a text that is not UTF-8";
        }
        return std::nullopt;
    }
    return table;
}

std::string LocalizedStrings::lookup(std::string_view key) const {
    for (const StringsTable& table : tables_) {
        if (const auto found = table.find(key); found != table.end()) {
            return found->second;
        }
    }
    return std::string(key);
}

}  // namespace dorvane
