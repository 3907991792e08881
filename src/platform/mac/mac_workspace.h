#pragma once

#include <memory>

#include "platform/pasteboard.h"
#include "platform/workspace.h"

namespace dorvane {

class DispatchMainQueue;

// The general pasteboard, as plain text.
class MacPasteboard : public Pasteboard {
public:
    void setString(const std::string& text) override;
};

// NSWorkspace: opening an address in the browser, and the did-wake notification, which arrives on
// the workspace's own notification centre and is handed to the main queue like any other event;
// the thermal-state and screen-parameter notifications of the default centre likewise.
class MacWorkspace : public Workspace {
public:
    explicit MacWorkspace(DispatchMainQueue& mainQueue);
    ~MacWorkspace() override;
    MacWorkspace(const MacWorkspace&) = delete;
    MacWorkspace& operator=(const MacWorkspace&) = delete;

    void openURL(const std::string& url) override;
    void addWakeObserver(const void* observer, std::function<void()> onWake) override;
    void removeWakeObserver(const void* observer) override;
    std::optional<bool> externalDisplayAttached() const override;
    void addMachineChangeObserver(const void* observer, std::function<void()> onChange) override;
    void removeMachineChangeObserver(const void* observer) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dorvane
