#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/alert.h"
#include "platform/menu.h"
#include "platform/pasteboard.h"
#include "platform/status_item.h"

namespace dorvane {

// What stands in for the menu bar on Linux: it draws the status item, its menu and the alerts,
// holds the pasteboard, and feeds the user's choices back to the main loop.
class FrontEnd : public StatusBar, public Alerts, public Pasteboard {
public:
    // Starts reading input; endOfInput is called when the input ends (a system termination).
    virtual void start(std::function<void()> endOfInput) = 0;
    virtual void activate() = 0;
    virtual void setMainMenu(std::shared_ptr<const Menu> menu) = 0;
    virtual void openURL(const std::string& url) = 0;
    // Gives the terminal back as it was; runs on every way out.
    virtual void restore() = 0;
};

// Looks a key equivalent up in a menu and its submenus: the first item that carries it.
const MenuItem* findKeyEquivalent(const Menu& menu, const std::string& key);

}  // namespace dorvane
