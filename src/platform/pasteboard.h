#pragma once

#include <string>

namespace dorvane {

// The general pasteboard: what the user pastes next.
class Pasteboard {
public:
    virtual ~Pasteboard() = default;
    // Replaces whatever the pasteboard held with this plain text.
    virtual void setString(const std::string& text) = 0;
};

}  // namespace dorvane
