#include "platform/mac/mac_workspace.h"

#include <CoreGraphics/CoreGraphics.h>

#include <array>
#include <map>
#include <vector>

#include "platform/mac/mac_main_queue.h"
#include "platform/mac/menu_builder.h"

namespace dorvane {

void MacPasteboard::setString(const std::string& text) {
    NSPasteboard* pasteboard = [NSPasteboard generalPasteboard];
    [pasteboard clearContents];
    [pasteboard setString:toNSString(text) forType:NSPasteboardTypeString];
}

struct MacWorkspace::Impl {
    explicit Impl(DispatchMainQueue& queue) : mainQueue(queue) {}
    DispatchMainQueue& mainQueue;
    // The notification centre's tokens, kept until the observer is removed.
    std::map<const void*, id> observers;
    // The default centre's tokens for machine changes, likewise.
    std::map<const void*, std::vector<id>> changeObservers;
};

MacWorkspace::MacWorkspace(DispatchMainQueue& mainQueue)
    : impl_(std::make_unique<Impl>(mainQueue)) {}

MacWorkspace::~MacWorkspace() {
    NSNotificationCenter* center = [[NSWorkspace sharedWorkspace] notificationCenter];
    for (const auto& [observer, token] : impl_->observers) {
        [center removeObserver:token];
    }
    for (const auto& [observer, tokens] : impl_->changeObservers) {
        for (id token : tokens) {
            [[NSNotificationCenter defaultCenter] removeObserver:token];
        }
    }
}

void MacWorkspace::openURL(const std::string& url) {
    NSURL* address = [NSURL URLWithString:toNSString(url)];
    if (address != nil) {
        [[NSWorkspace sharedWorkspace] openURL:address];
    }
}

void MacWorkspace::addWakeObserver(const void* observer, std::function<void()> onWake) {
    removeWakeObserver(observer);
    DispatchMainQueue* mainQueue = &impl_->mainQueue;
    // Only the workspace's centre carries the wake notification, never the default centre.
    impl_->observers[observer] = [[[NSWorkspace sharedWorkspace] notificationCenter]
        addObserverForName:NSWorkspaceDidWakeNotification
                    object:nil
                     queue:nil
                usingBlock:^(NSNotification*) {
                  // A wake is acted on while an alert is open; the main operation queue is not
                  // served inside an alert opened by work on the main queue.
                  mainQueue->post(onWake, WorkKind::RunsDuringAlerts);
                }];
}

void MacWorkspace::removeWakeObserver(const void* observer) {
    const auto found = impl_->observers.find(observer);
    if (found == impl_->observers.end()) {
        return;
    }
    [[[NSWorkspace sharedWorkspace] notificationCenter] removeObserver:found->second];
    impl_->observers.erase(found);
}

std::optional<bool> MacWorkspace::externalDisplayAttached() const {
    // With the lid closed the built-in panel is no longer online, so displays are told apart by
    // kind rather than counted.
    std::array<CGDirectDisplayID, 32> displays{};
    std::uint32_t count = 0;
    if (CGGetOnlineDisplayList(static_cast<std::uint32_t>(displays.size()), displays.data(),
                               &count) != kCGErrorSuccess) {
        return std::nullopt;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!CGDisplayIsBuiltin(displays[i])) {
            return true;
        }
    }
    return false;
}

void MacWorkspace::addMachineChangeObserver(const void* observer, std::function<void()> onChange) {
    removeMachineChangeObserver(observer);
    DispatchMainQueue* mainQueue = &impl_->mainQueue;
    std::vector<id>& tokens = impl_->changeObservers[observer];
    // The thermal notification comes on any thread; both are handed to the main queue.
    for (NSNotificationName name : {NSProcessInfoThermalStateDidChangeNotification,
                                    NSApplicationDidChangeScreenParametersNotification}) {
        tokens.push_back([[NSNotificationCenter defaultCenter]
            addObserverForName:name
                        object:nil
                         queue:nil
                    usingBlock:^(NSNotification*) {
                      mainQueue->post(onChange, WorkKind::RunsDuringAlerts);
                    }]);
    }
}

void MacWorkspace::removeMachineChangeObserver(const void* observer) {
    const auto found = impl_->changeObservers.find(observer);
    if (found == impl_->changeObservers.end()) {
        return;
    }
    for (id token : found->second) {
        [[NSNotificationCenter defaultCenter] removeObserver:token];
    }
    impl_->changeObservers.erase(found);
}

}  // namespace dorvane
