#pragma once

#include <memory>
#include <string>

#include "platform/menu.h"

namespace dorvane {

// The application's one item in the system menu bar.
class StatusItem {
public:
    virtual ~StatusItem() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setToolTip(const std::string& toolTip) = 0;
    // Replaces the whole menu the item opens.
    virtual void setMenu(std::shared_ptr<const Menu> menu) = 0;
};

// The system status bar, which hands out status items of variable length.
class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual std::unique_ptr<StatusItem> createStatusItem() = 0;
};

}  // namespace dorvane
