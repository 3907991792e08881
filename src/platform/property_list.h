#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/user_defaults.h"

namespace dorvane {

// The bytes of a data entry, kept so that a file is written back as it was read.
struct PlistData {
    std::string bytes;
    bool operator==(const PlistData& other) const { return bytes == other.bytes; }
};

// A property-list value: the types the application writes and reads back.
struct PlistValue;
using PlistArray = std::vector<PlistValue>;
using PlistDictionary = std::map<std::string, PlistValue>;
struct PlistValue {
    std::variant<bool, std::int64_t, double, std::string, Date, PlistData, PlistArray,
                 PlistDictionary>
        value;
    bool operator==(const PlistValue& other) const { return value == other.value; }
};

// Converts property lists to and from their stored forms.
class PropertyLists {
public:
    virtual ~PropertyLists() = default;
    // An XML property list (version 1.0); absent, with a description, when it cannot be made.
    virtual std::optional<std::string> xmlData(const PlistValue& root, std::string* error) = 0;
    // Reads an XML or binary property list; absent, with a description, when it is not one.
    virtual std::optional<PlistValue> parse(std::string_view data, std::string* error) = 0;
};

}  // namespace dorvane
