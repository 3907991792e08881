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

bool repeatingEventsWakeTheMachine(std::string_view description) {
    while (!description.empty()) {
        const std::size_t end = description.find(kScheduleSeparator);
        const std::string event = asciiLower(trimBlanks(description.substr(0, end)));
        const std::string type = event.substr(0, event.find_first_of(" \t"));
        if (type == "wake" || type == "poweron" || type == "wakeorpoweron" ||
            type == "wakepoweron") {
            return true;
        }
        if (end == std::string_view::npos) {
            break;
        }
        description.remove_prefix(end + kScheduleSeparator.size());
    }
    return false;
}

}  // namespace dorvane
