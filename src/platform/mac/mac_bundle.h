#pragma once

#include "platform/bundle.h"
#include "platform/clock.h"
#include "platform/process_info.h"

namespace dorvane {

// The main bundle: its string table in the user's language, its version and executable.
class MacBundle : public Bundle {
public:
    std::string localizedString(const std::string& key) const override;
    std::optional<std::string> shortVersion() const override;
    std::optional<std::string> executablePath() const override;
};

// The user's preferred languages, as CFLocale lists them ("zh-Hans-CN" and the like).
class MacLocale : public Locale {
public:
    std::vector<std::string> preferredLanguages() const override;
};

class MacProcessInfo : public ProcessInfo {
public:
    unsigned userId() const override;
    std::string homeDirectory() const override;
    ThermalState thermalState() const override;
};

// The system clock and the user's time zone.
class SystemClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override;
    LocalTime localTime(std::chrono::system_clock::time_point moment) const override;
};

}  // namespace dorvane
