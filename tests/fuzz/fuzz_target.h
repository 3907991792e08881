#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

// A fuzz target: one parser of outside input fed arbitrary bytes. Built with libFuzzer, each
// target is a program of its own; in the normal build all targets are linked into one test that
// replays every input kept under tests/fuzz/corpus/<name>/. What a target promises for every input
// is checked with DORVANE_FUZZ_EXPECT: a broken promise crashes under libFuzzer, which keeps the
// input, and makes the target return 1 in the test build, which fails the replay.
#ifdef DORVANE_LIBFUZZER
#define DORVANE_FUZZ_TARGET(name) \
    extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
#define DORVANE_FUZZ_EXPECT(holds) (holds) ? void() : __builtin_trap()
#else
namespace dorvane::fuzz {
using Target = int (*)(const std::uint8_t* data, std::size_t size);
bool registerTarget(const char* name, Target target);
}  // namespace dorvane::fuzz
#define DORVANE_FUZZ_TARGET(name)                                            \
    static int name##FuzzTarget(const std::uint8_t* data, std::size_t size); \
    [[maybe_unused]] static const bool name##Registered =                    \
        dorvane::fuzz::registerTarget(#name, name##FuzzTarget);              \
    static int name##FuzzTarget(const std::uint8_t* data, std::size_t size)
#define DORVANE_FUZZ_EXPECT(holds) \
    do {                           \
        if (!(holds))              \
            return 1;              \
    } while (false)
#endif

namespace dorvane::fuzz {

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

}  // namespace dorvane::fuzz
