#include "platform/mac/mac_workspace.h"

#include <map>

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
};

MacWorkspace::MacWorkspace(DispatchMainQueue& mainQueue)
    : impl_(std::make_unique<Impl>(mainQueue)) {}

MacWorkspace::~MacWorkspace() {
    NSNotificationCenter* center = [[NSWorkspace sharedWorkspace] notificationCenter];
    for (const auto& [observer, token] : impl_->observers) {
        [center removeObserver:token];
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

}  // namespace dorvane
