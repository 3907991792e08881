#pragma once

#include <cstdint>

namespace dorvane {

// The user's run mode; the numbers are stored under "runMode".
enum class RunMode : std::int64_t {
    PowerAdapter = 0,  // awake only on the power adapter; quiet hours apply
    AlwaysAwake = 1,   // awake on the adapter and on battery
};

// Where the power comes from; held in memory only.
enum class PowerSource : std::int64_t {
    AC = 0,
    Battery = 1,
    Unknown = 2,
};

}  // namespace dorvane
