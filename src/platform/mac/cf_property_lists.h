#pragma once

#include "platform/property_list.h"

namespace dorvane {

// Property lists through CFPropertyList: XML written, XML or binary read.
class CFPropertyLists : public PropertyLists {
public:
    std::optional<std::string> xmlData(const PlistValue& root, std::string* error) override;
    std::optional<PlistValue> parse(std::string_view data, std::string* error) override;
};

}  // namespace dorvane
