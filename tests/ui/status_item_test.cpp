#include <gtest/gtest.h>

#include "support/fakes.h"

namespace dorvane {
namespace {

TEST(StatusItem, TheFirstRuleThatHoldsGivesTheTitle) {
    struct Case {
        const char* what;
        std::optional<std::string> error;
        RunMode mode;
        PowerSource power;
        std::optional<bool> sleepDisabled;
        std::string title;
    };
    constexpr auto M0 = RunMode::PowerAdapter;
    constexpr auto M1 = RunMode::AlwaysAwake;
    // clang-format off
    const Case cases[] = {
        {"any error wins", "boom", M1, PowerSource::AC, true, "status.error"},
        {"an empty error counts as none", "", M0, PowerSource::AC, true, "status.awake"},
        {"adapter, switch unreadable", std::nullopt, M0, PowerSource::AC, std::nullopt, "status.ac_power"},
        {"adapter, switch off", std::nullopt, M0, PowerSource::AC, false, "status.ac_power"},
        {"adapter, switch on, mode 0", std::nullopt, M0, PowerSource::AC, true, "status.awake"},
        {"adapter, switch on, mode 1", std::nullopt, M1, PowerSource::AC, true, "status.awake"},
        {"unknown source, mode 1, switch on", std::nullopt, M1, PowerSource::Unknown, true, "status.awake"},
        {"unknown source, mode 0, switch on", std::nullopt, M0, PowerSource::Unknown, true, "status.sleep"},
        {"battery, mode 0, switch still on", std::nullopt, M0, PowerSource::Battery, true, "status.sleep"},
        {"battery, switch off", std::nullopt, M1, PowerSource::Battery, false, "status.sleep"},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        testing::TestPlatform test;
        auto controller = test.makeController();
        controller->setStatusItem(test.statusBar.createStatusItem());
        controller->setLastError(c.error);
        controller->setRunMode(c.mode);
        controller->setPowerSource(c.power);
        controller->setSleepDisabled(c.sleepDisabled);
        controller->updateStatusItem();
        EXPECT_EQ(test.statusBar.lastCreated->title, c.title);
    }
}

TEST(StatusItem, LabelsTestAbsenceFirst) {
    testing::TestPlatform test;
    auto controller = test.makeController();
    const std::pair<PowerSource, const char*> powers[] = {
        {PowerSource::AC, "value.power.ac"},
        {PowerSource::Battery, "value.power.battery"},
        {PowerSource::Unknown, "value.power.unknown"},
        {static_cast<PowerSource>(7), "value.power.unknown"},
        {static_cast<PowerSource>(-1), "value.power.unknown"},
    };
    for (const auto& [power, label] : powers) {
        controller->setPowerSource(power);
        EXPECT_EQ(controller->powerSourceLabel(), label);
    }
    const std::tuple<std::optional<bool>, const char*, const char*> readings[] = {
        {std::nullopt, "value.lid.unknown", "value.sleep.unknown"},
        {true, "value.lid.closed", "value.sleep.disabled"},
        {false, "value.lid.open", "value.sleep.normal"},
    };
    for (const auto& [reading, lid, sleep] : readings) {
        controller->setClamshellClosed(reading);
        controller->setSleepDisabled(reading);
        EXPECT_EQ(controller->clamshellLabel(), lid);
        EXPECT_EQ(controller->sleepLabel(), sleep);
    }
}

}  // namespace
}  // namespace dorvane
