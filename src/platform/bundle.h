#pragma once

#include <optional>
#include <string>
#include <vector>

namespace dorvane {

// The application bundle: its string table, version and executable.
class Bundle {
public:
    virtual ~Bundle() = default;
    // The text for a key in the user's language; a key without an entry yields the key itself.
    virtual std::string localizedString(const std::string& key) const = 0;
    // The short version string, absent when the bundle has none.
    virtual std::optional<std::string> shortVersion() const = 0;
    virtual std::optional<std::string> executablePath() const = 0;
};

// The user's preferred languages, most preferred first (language tags such as "zh-Hans-CN").
class Locale {
public:
    virtual ~Locale() = default;
    virtual std::vector<std::string> preferredLanguages() const = 0;
};

}  // namespace dorvane
