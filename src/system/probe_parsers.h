#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "app/types.h"

namespace dorvane {

// Reads the power-source listing ("pmset -g ps"): the adapter is tested first, so a listing that
// names both sources means the adapter; one that names neither means unknown.
PowerSource parsePowerSource(std::string_view listing);

// Reads the internal battery's charge from the power-source listing: the percentage after the id
// on the first "-InternalBattery-" line, as in " -InternalBattery-0 (id=5308515)\t80%; AC
// attached". No battery line, or a charge that is not a whole number from 0 to 100, gives no
// answer.
std::optional<std::int64_t> parseBatteryCharge(std::string_view listing);

// Reads the system sleep switch from the settings listing ("pmset -g"): the first line whose key is
// "sleepdisabled" or "disablesleep" (any case, any longer word beginning so) decides, set only when
// its last blank-separated piece is exactly "1". No such line means the switch is not set.
bool parseSleepSwitch(std::string_view listing);

// Reads the lid from the registry listing: closed is tested first; a listing that states neither
// gives no answer.
std::optional<bool> parseClamshellClosed(std::string_view listing);

}  // namespace dorvane
