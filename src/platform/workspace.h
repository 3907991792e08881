#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dorvane {

// The shared workspace: opening addresses in the browser, the system wake notification and the
// machine's displays.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const std::string& url) = 0;
    // Delivers the wake notification on the main thread until the observer is removed.
    virtual void addWakeObserver(const void* observer, std::function<void()> onWake) = 0;
    virtual void removeWakeObserver(const void* observer) = 0;
    // Whether a display other than the built-in one is attached; absent where that cannot be told.
    virtual std::optional<bool> externalDisplayAttached() const = 0;
    // Delivers a change of the thermal state or of the attached displays on the main thread until
    // the observer is removed.
    virtual void addMachineChangeObserver(const void* observer, std::function<void()> onChange) = 0;
    virtual void removeMachineChangeObserver(const void* observer) = 0;
};

}  // namespace dorvane
