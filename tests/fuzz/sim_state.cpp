#include "sim_state.h"
#include "fuzz/fuzz_target.h"

// The simulated notebook's state file: a state read is written back and read again unchanged.
DORVANE_FUZZ_TARGET(sim_state) {
    std::string error;
    if (const auto state =
            dorvane::sim::fromJson(std::string(dorvane::fuzz::asText(data, size)), &error)) {
        const std::string written = dorvane::sim::toJson(*state);
        const auto again = dorvane::sim::fromJson(written, &error);
        if (!again || dorvane::sim::toJson(*again) != written) {
            __builtin_trap();
        }
    }
    return 0;
}
