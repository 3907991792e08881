#pragma once

#include <string>

namespace dorvane {

// How hot the machine runs, in the system's four levels; Unknown where it cannot be read.
enum class ThermalState { Nominal, Fair, Serious, Critical, Unknown };

// Facts about the user running the application.
class ProcessInfo {
public:
    virtual ~ProcessInfo() = default;
    virtual unsigned userId() const = 0;
    virtual std::string homeDirectory() const = 0;
    virtual ThermalState thermalState() const = 0;
};

}  // namespace dorvane
