#include <gtest/gtest.h>

#include "support/fakes.h"

namespace dorvane {
namespace {

TEST(StatusItem, TheFirstRuleThatHoldsGivesTheTitle) {
    constexpr auto M0 = RunMode::PowerAdapter;
    constexpr auto M1 = RunMode::AlwaysAwake;
    // clang-format off
    const std::tuple<const char*, std::optional<std::string>, RunMode, PowerSource, std::optional<bool>, std::string> cases[] = {
        {"any error wins", "boom", M1, PowerSource::AC, true, "status.error"},
        {"an empty error counts as none", "", M0, PowerSource::AC, true, "status.awake"},
        {"adapter, switch unreadable", std::nullopt, M0, PowerSource::AC, std::nullopt, "status.ac_power"},
        {"adapter, switch off", std::nullopt, M0, PowerSource::AC, false, "status.ac_power"},
        {"adapter, switch on, mode 0", std::nullopt, M0, PowerSource::AC, true, "status.awake"},
        {"unknown source, mode 1, switch on", std::nullopt, M1, PowerSource::Unknown, true, "status.awake"},
        {"unknown source, mode 0, switch on", std::nullopt, M0, PowerSource::Unknown, true, "status.sleep"},
        {"battery, mode 0, switch still on", std::nullopt, M0, PowerSource::Battery, true, "status.sleep"},
    };
    // clang-format on
    for (const auto& [what, error, mode, power, sleepDisabled, title] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        auto controller = test.makeController();
        controller->setStatusItem(test.statusBar.createStatusItem());
        controller->setLastError(error);
        controller->setRunMode(mode);
        controller->setPowerSource(power);
        controller->setSleepDisabled(sleepDisabled);
        controller->updateStatusItem();
        EXPECT_EQ(test.statusBar.lastCreated->title, title);
    }
}

}  // namespace
}  // namespace dorvane
