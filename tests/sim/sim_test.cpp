#include "sim_state.h"

#include <gtest/gtest.h>

#include "support/sim_notebook.h"

namespace dorvane::sim {
namespace {

TEST(SimStateFile, RoundTripsEveryFieldAndRefusesWhatIsNotAState) {
    State state;
    state.power = Power::Battery;
    state.batteryPercent = 12;
    state.lid = Lid::None;
    state.thermal = Thermal::Critical;
    state.externalDisplay = true;
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
        error.clear();
        EXPECT_FALSE(fromJson(text, &error));
        EXPECT_FALSE(error.empty());
    }
    // Stored values that no write of the notebook's makes: each is an invalid file.
    const std::string valid = toJson(state);
    const std::pair<const char*, const char*> edits[] = {
        {"\"battery\"", "42"},
        {"\"critical\"", "\"hot\""},
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

// Only the fault table's options are checked here: the tool-fault and floor tests rely on a fault
// being stored as written, and on a misspelt one being refused rather than taken as another.
TEST(SimTools, BadFaultArgumentsGetAUsageLineAndStatusTwo) {
    testing::SimNotebook notebook;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"fail", "ls", "-l"},
        {"fail", "pmset", "-g", "--status", "x"},
        {"fail", "pmset", "-g", "--colour", "red"},
        {"fail", "pmset", "-g", "--colour", "hang"},
        {"garble", "pmset", "-g", "\xff\xfe"},
        {"fail", "pmset", "-g", "--stdout", "\xc3"},
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "(none)" : arguments.back());
        const TRBCommandResult result = notebook.control(arguments);
        EXPECT_EQ(result.status, 2);
        EXPECT_TRUE(result.error.starts_with("usage: dorvane-sim") ||
                    result.output.starts_with("usage: dorvane-sim"))
            << result.output << result.error;
    }
}

}  // namespace
}  // namespace dorvane::sim
