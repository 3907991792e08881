#pragma once

#include <functional>
#include <string>

namespace dorvane {

// The shared workspace: opening addresses in the browser and the system wake notification.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual void openURL(const std::string& url) = 0;
    // Delivers the wake notification on the main thread until the observer is removed.
    virtual void addWakeObserver(const void* observer, std::function<void()> onWake) = 0;
    virtual void removeWakeObserver(const void* observer) = 0;
};

}  // namespace dorvane
