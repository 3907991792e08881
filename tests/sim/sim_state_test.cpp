#include "sim_state.h"

#include <gtest/gtest.h>

namespace dorvane::sim {
namespace {

TEST(SimStateFile, RoundTripsEveryFieldAndRefusesWhatIsNotAState) {
    State state;
    state.power = Power::Battery;
    state.batteryPercent = 12;
    state.lid = Lid::None;
    state.sleepDisabled = true;
    state.sleepSwitchEverSet = true;
    state.wakeSlot = RepeatEvent{"wakeorpoweron", "MTWRFSU", "06:00:00"};
    state.asleep = true;
    state.sleepRequest = SleepRequest{9, 77};
    state.privilegeInstalled = true;
    state.faults.push_back({{"pmset", "-g"}, 3, "out", "err"});
    state.record("power", "battery 12%");
    state.clockOffsetSeconds = -3600;
    std::string error;
    const auto back = fromJson(toJson(state), &error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(toJson(*back), toJson(state));

    for (const char* text : {"", "{", "[]", "{\"version\": 2}"}) {
        SCOPED_TRACE(text);
        EXPECT_FALSE(fromJson(text, &error));
        EXPECT_FALSE(error.empty());
    }
    // Stored values that no write of the notebook's makes: each is an invalid file.
    const std::string valid = toJson(state);
    const std::pair<const char*, const char*> edits[] = {
        {"\"battery\"", "42"},
        {"\"06:00:00\"", "\"ab:cd:ef\""},
        {"\"MTWRFSU\"", "\"X\""},
        {"\"MTWRFSU\"", "\"UMTWRFS\""},
        {"\"wakeorpoweron\"", "\"nap\""},
        {"-3600", "-9223372036854775807"},
        {"77", "9223372036854775000"},
    };
    for (const auto& [from, to] : edits) {
        SCOPED_TRACE(to);
        std::string edited = valid;
        edited.replace(edited.find(from), std::string(from).size(), to);
        EXPECT_FALSE(fromJson(edited, &error));
    }
}

}  // namespace
}  // namespace dorvane::sim
