#include "system/probe_parsers.h"

#include <algorithm>

#include "base/text_lines.h"

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

std::optional<std::int64_t> parseBatteryCharge(std::string_view listing) {
    for (const std::string_view line : splitLines(listing)) {
        const std::size_t name = line.find("-InternalBattery-");
        if (name == std::string_view::npos) {
            continue;
        }
        // Only the first battery line counts: a charge that cannot be read there is no charge.
        // pmset prints the "(id=...)" after the name only when the source has an id.
        std::string_view rest = line.substr(name);
        rest = trimBlanks(rest.substr(std::min(rest.find_first_of(" \t"), rest.size())));
        if (rest.starts_with('(')) {
            const std::size_t idEnd = rest.find(')');
            if (idEnd == std::string_view::npos) {
                return std::nullopt;
            }
            rest = trimBlanks(rest.substr(idEnd + 1));
        }
        const std::size_t digits = rest.find('%');
        if (digits == 0 || digits > 3 || digits == std::string_view::npos) {
            return std::nullopt;
        }
        std::int64_t charge = 0;
        for (const char c : rest.substr(0, digits)) {
            if (c < '0' || c > '9') {
                return std::nullopt;
            }
            charge = charge * 10 + (c - '0');
        }
        return charge <= 100 ? std::optional(charge) : std::nullopt;
    }
    return std::nullopt;
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
