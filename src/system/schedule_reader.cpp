#include "system/schedule_reader.h"

#include <vector>

#include "base/text_lines.h"

namespace dorvane {

std::string describeRepeatingEvents(std::string_view listing) {
    std::vector<std::string_view> collected;
    bool insideSection = false;
    for (const std::string_view line : splitLines(listing)) {
        const std::string_view trimmed = trimBlanks(line);
        const std::string lower = asciiLower(trimmed);
        // A heading inside the section, a second one included, is never collected.
        if (lower.find("repeating power events") != std::string::npos) {
            insideSection = true;
            continue;
        }
        if (!insideSection) {
            continue;
        }
        if (trimmed.empty() || lower.find("scheduled power events") != std::string::npos) {
            break;
        }
        collected.push_back(trimmed);
    }
    std::string description;
    for (const std::string_view line : collected) {
        if (!description.empty()) {
            description += kScheduleSeparator;
        }
        description += line;
    }
    return description;
}

}  // namespace dorvane
