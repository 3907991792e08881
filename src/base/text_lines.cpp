#include "base/text_lines.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace dorvane {
namespace {

// Length in bytes of the newline character at the start of text, or 0.
std::size_t newlineLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    switch (byte(0)) {
        case '\n':
        case '\r':
        case '\v':
        case '\f':
            return 1;
        case 0xC2:  // U+0085
            return text.size() >= 2 && byte(1) == 0x85 ? 2 : 0;
        case 0xE2:  // U+2028, U+2029
            return text.size() >= 3 && byte(1) == 0x80 && (byte(2) == 0xA8 || byte(2) == 0xA9) ? 3
                                                                                               : 0;
        default:
            return 0;
    }
}

// Length in bytes of the blank (tab or Unicode space separator) at the start of text, or 0.
std::size_t blankLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char first = byte(0);
    if (first == ' ' || first == '\t') {
        return 1;
    }
    if (first == 0xC2 && text.size() >= 2 && byte(1) == 0xA0) {  // U+00A0
        return 2;
    }
    if (text.size() < 3) {
        return 0;
    }
    const unsigned second = byte(1);
    const unsigned third = byte(2);
    if (first == 0xE1 && second == 0x9A && third == 0x80) {  // U+1680
        return 3;
    }
    if (first == 0xE2 && second == 0x80 &&
        (third <= 0x8A || third == 0xAF)) {  // U+2000..200A, 202F
        return third >= 0x80 ? 3 : 0;
    }
    if (first == 0xE2 && second == 0x81 && third == 0x9F) {  // U+205F
        return 3;
    }
    if (first == 0xE3 && second == 0x80 && third == 0x80) {  // U+3000
        return 3;
    }
    return 0;
}

std::size_t blankOrNewlineLength(std::string_view text) {
    const std::size_t blank = blankLength(text);
    return blank != 0 ? blank : newlineLength(text);
}

// Trims at both ends every character that lengthAt recognizes (it answers a character's length
// in bytes, or 0). Characters are at most three bytes long here.
std::string_view trimBy(std::string_view text, std::size_t (*lengthAt)(std::string_view)) {
    while (!text.empty()) {
        const std::size_t length = lengthAt(text);
        if (length == 0) {
            break;
        }
        text.remove_prefix(length);
    }
    bool trimmed = true;
    while (!text.empty() && trimmed) {
        trimmed = false;
        for (std::size_t length = 1; length <= std::min<std::size_t>(3, text.size()); ++length) {
            if (lengthAt(text.substr(text.size() - length)) == length) {
                text.remove_suffix(length);
                trimmed = true;
                break;
            }
        }
    }
    return text;
}

}  // namespace

std::vector<std::string_view> splitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t lineStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = newlineLength(text.substr(i));
        if (length == 0) {
            ++i;
            continue;
        }
        lines.push_back(text.substr(lineStart, i - lineStart));
        const bool crLf = text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n';
        i += crLf ? 2 : length;
        lineStart = i;
    }
    lines.push_back(text.substr(lineStart));
    return lines;
}

std::string_view trimBlanks(std::string_view text) {
    return trimBy(text, blankLength);
}

std::string_view trimBlanksAndNewlines(std::string_view text) {
    return trimBy(text, blankOrNewlineLength);
}

std::vector<std::string_view> splitAtEachBlank(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t pieceStart = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = blankLength(text.substr(i));
        if (length == 0) {
            ++i;
            continue;
        }
        pieces.push_back(text.substr(pieceStart, i - pieceStart));
        i += length;
        pieceStart = i;
    }
    pieces.push_back(text.substr(pieceStart));
    return pieces;
}

std::string asciiLower(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    return lower;
}

bool isValidUtf8(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size()) {
        // Tools print mostly ASCII: eight bytes without a high bit are passed over at once.
        if (i + 8 <= bytes.size()) {
            std::uint64_t word;
            std::memcpy(&word, bytes.data() + i, sizeof word);
            if ((word & 0x8080808080808080ull) == 0) {
                i += 8;
                continue;
            }
        }
        const auto lead = static_cast<unsigned char>(bytes[i]);
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t codePoint = 0;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            codePoint = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            codePoint = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > bytes.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i + k]);
            if ((next & 0xC0) != 0x80) {
                return false;
            }
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        const bool overlong =
            (length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000);
        const bool surrogate = codePoint >= 0xD800 && codePoint <= 0xDFFF;
        if (overlong || surrogate || codePoint > 0x10FFFF) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace dorvane
