#include "system/probe_parsers.h"

#include "system/text_lines.h"

namespace dorvane {

PowerSource parsePowerSource(std::string_view listing) {
    if (listing.find("'AC Power'") != std::string_view::npos) {
        return PowerSource::AC;
    }
    if (listing.find("'Battery Power'") != std::string_view::npos) {
        return PowerSource::Battery;
    }
    return PowerSource::Unknown;
}

bool parseSleepSwitch(std::string_view listing) {
    for (const std::string_view line : splitLines(listing)) {
        const std::string_view trimmed = trimBlanks(line);
        const std::string lower = asciiLower(trimmed);
        if (!lower.starts_with("sleepdisabled") && !lower.starts_with("disablesleep")) {
            continue;
        }
        return splitAtEachBlank(trimmed).back() == "1";
    }
    return false;
}

std::optional<bool> parseClamshellClosed(std::string_view listing) {
    if (listing.find("\"AppleClamshellState\" = Yes") != std::string_view::npos) {
        return true;
    }
    if (listing.find("\"AppleClamshellState\" = No") != std::string_view::npos) {
        return false;
    }
    return std::nullopt;
}

}  // namespace dorvane
