#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/application.h"
#include "platform/status_item.h"

namespace dorvane {

// NSApplication: the accessory activation policy, activation, the main menu from the core's data
// and termination through the application delegate.
class MacApplication : public Application {
public:
    struct Delegate {
        std::function<void()> didFinishLaunching;
        std::function<void()> willTerminate;              // the silent restore of the shut-down
        std::function<void(const std::string&)> openURL;  // a dorvane:// address was opened
        // A reopen: a double-click on the running app in the Finder, or a second start asking.
        std::function<void()> reopen;
    };

    MacApplication();
    ~MacApplication() override;
    MacApplication(const MacApplication&) = delete;
    MacApplication& operator=(const MacApplication&) = delete;

    void setActivationPolicyAccessory() override;
    void activateIgnoringOtherApps() override;
    void setMainMenu(std::shared_ptr<const Menu> menu) override;
    // [NSApp terminate:]: the delegate's will-terminate handler runs, then the process ends,
    // even when AppKit refuses to terminate.
    void terminate() override;
    void writeDiagnostic(const std::string& line) override;

    // Installs the delegate and runs the application's event loop; returns only if it stops.
    void run(Delegate delegate);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// Asks the other running copy of this application, the one a second start leaves be, to reopen
// as a double-click in the Finder does, and waits a moment for the request to be delivered. A
// windowless app that is only activated shows nothing.
void askRunningInstanceToReopen();

class MacStatusItem;

// The system status bar; each item it hands out stays in the menu bar until it is destroyed.
class MacStatusBar : public StatusBar {
public:
    std::unique_ptr<StatusItem> createStatusItem() override;
    // Opens the menu of the item in the menu bar, as a click on it does; nothing without one.
    void openMenu();

private:
    friend class MacStatusItem;
    MacStatusItem* current_ = nullptr;  // the item handed out last, while it lives
};

}  // namespace dorvane
