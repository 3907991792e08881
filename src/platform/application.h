#pragma once

#include <memory>
#include <string>

#include "platform/menu.h"

namespace dorvane {

// The shared application object: activation, the main menu and termination.
class Application {
public:
    virtual ~Application() = default;
    // No Dock icon and no menu bar of its own: the application lives in its status item.
    virtual void setActivationPolicyAccessory() = 0;
    // Brings the application in front of other applications.
    virtual void activateIgnoringOtherApps() = 0;
    virtual void setMainMenu(std::shared_ptr<const Menu> menu) = 0;
    // Terminates synchronously: the delegate's termination handler runs and the process ends
    // before any other queued work.
    virtual void terminate() = 0;
    // Writes one line to the application's standard error, which the launch agent keeps in a log:
    // for what goes wrong where nobody could be shown an alert.
    virtual void writeDiagnostic(const std::string& line) = 0;
};

}  // namespace dorvane
