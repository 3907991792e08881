#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>

namespace dorvane {

using Date = std::chrono::system_clock::time_point;

// The values a stored dictionary holds: integers, booleans and texts.
using DictionaryValue = std::variant<bool, std::int64_t, std::string>;
using DefaultsDictionary = std::map<std::string, DictionaryValue>;

// The types the application stores: integer, boolean, text, date and dictionary.
using DefaultsValue = std::variant<bool, std::int64_t, std::string, Date, DefaultsDictionary>;

// The application's standard user-defaults domain.
class UserDefaults {
public:
    virtual ~UserDefaults() = default;
    virtual std::optional<DefaultsValue> objectForKey(const std::string& key) const = 0;
    virtual void setObject(const std::string& key, DefaultsValue value) = 0;
    virtual void removeObject(const std::string& key) = 0;
    // Flushes to disk at once; false when the write failed.
    virtual bool synchronize() = 0;
    // True while changes wait that could not be written; the defaults keep trying by themselves.
    virtual bool savesFail() const { return false; }
    // Called on the main queue whenever savesFail changes.
    virtual void setSaveStateHandler(std::function<void()> handler) { (void)handler; }
};

}  // namespace dorvane
