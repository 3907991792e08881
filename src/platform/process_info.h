#pragma once

#include <string>

namespace dorvane {

// Facts about the user running the application.
class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;
    virtual unsigned userId() const = 0;
    virtual std::string homeDirectory() const = 0;
};

}  // namespace dorvane
