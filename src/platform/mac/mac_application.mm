#include "platform/mac/mac_application.h"

#include <cstdio>

#include "platform/mac/menu_builder.h"

#include <cstdlib>

@interface TRBApplicationDelegate : NSObject <NSApplicationDelegate> {
@public
    dorvane::MacApplication::Delegate delegate;
}
@end

@implementation TRBApplicationDelegate
// The address handler is installed before launching finishes, so an address that started the
// application reaches it too.
- (void)applicationWillFinishLaunching:(NSNotification*)notification {
    [[NSAppleEventManager sharedAppleEventManager] setEventHandler:self
                                                       andSelector:@selector(handleGetURLEvent:
                                                                                withReplyEvent:)
                                                     forEventClass:kInternetEventClass
                                                        andEventID:kAEGetURL];
}
- (void)handleGetURLEvent:(NSAppleEventDescriptor*)event
           withReplyEvent:(NSAppleEventDescriptor*)reply {
    NSString* address = [[event paramDescriptorForKeyword:keyDirectObject] stringValue];
    if (address != nil && delegate.openURL) {
        delegate.openURL(address.UTF8String);
    }
}
- (void)applicationDidFinishLaunching:(NSNotification*)notification {
    if (delegate.didFinishLaunching) {
        delegate.didFinishLaunching();
    }
}
- (NSApplicationTerminateReply)applicationShouldTerminate:(NSApplication*)sender {
    return NSTerminateNow;
}
- (BOOL)applicationShouldHandleReopen:(NSApplication*)sender hasVisibleWindows:(BOOL)visible {
    if (delegate.reopen) {
        delegate.reopen();
    }
    return NO;
}
- (void)applicationWillTerminate:(NSNotification*)notification {
    if (delegate.willTerminate) {
        delegate.willTerminate();
    }
}
@end

namespace dorvane {

struct MacApplication::Impl {
    // NSApp.delegate is weak: the delegate lives here for as long as the application.
    TRBApplicationDelegate* delegate = nil;
    // The main menu's data stays alive with the rendered menu.
    std::shared_ptr<const Menu> mainMenu;
};

MacApplication::MacApplication() : impl_(std::make_unique<Impl>()) {
    [NSApplication sharedApplication];
}

MacApplication::~MacApplication() = default;

void MacApplication::setActivationPolicyAccessory() {
    [NSApp setActivationPolicy:NSApplicationActivationPolicyAccessory];
}

void MacApplication::activateIgnoringOtherApps() {
    // [NSApp activate] exists only from the macOS 14 SDK on.
    [NSApp activateIgnoringOtherApps:YES];
}

void MacApplication::setMainMenu(std::shared_ptr<const Menu> menu) {
    impl_->mainMenu = std::move(menu);
    NSApp.mainMenu = buildMenu(*impl_->mainMenu);
}

void MacApplication::writeDiagnostic(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

void MacApplication::terminate() {
    [NSApp terminate:nil];
    // terminate: comes back only when it was refused (a modal window prevents it, say). The
    // termination still happens: the delegate's restore, then the end of the process, or the
    // sleep switch would wait for launchd's SIGKILL.
    if (impl_->delegate != nil && impl_->delegate->delegate.willTerminate) {
        impl_->delegate->delegate.willTerminate();
    }
    std::exit(0);
}

void MacApplication::run(Delegate delegate) {
    impl_->delegate = [[TRBApplicationDelegate alloc] init];
    impl_->delegate->delegate = std::move(delegate);
    NSApp.delegate = impl_->delegate;
    [NSApp run];
}

void askRunningInstanceToReopen() {
    NSString* identifier = NSBundle.mainBundle.bundleIdentifier;
    if (identifier == nil) {
        return;
    }
    const pid_t own = NSProcessInfo.processInfo.processIdentifier;
    for (NSRunningApplication* running in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
        if (running.processIdentifier == own || running.bundleURL == nil) {
            continue;
        }
        NSWorkspaceOpenConfiguration* configuration = [NSWorkspaceOpenConfiguration configuration];
        configuration.appleEvent =
            [NSAppleEventDescriptor appleEventWithEventClass:kCoreEventClass
                                                     eventID:kAEReopenApplication
                                            targetDescriptor:nil
                                                    returnID:kAutoGenerateReturnID
                                               transactionID:kAnyTransactionID];
        dispatch_semaphore_t delivered = dispatch_semaphore_create(0);
        [NSWorkspace.sharedWorkspace openApplicationAtURL:running.bundleURL
                                            configuration:configuration
                                        completionHandler:^(NSRunningApplication*, NSError*) {
                                          dispatch_semaphore_signal(delivered);
                                        }];
        // The completion comes on a queue of its own; a second start never waits long for it.
        dispatch_semaphore_wait(delivered, dispatch_time(DISPATCH_TIME_NOW, 3 * NSEC_PER_SEC));
        return;
    }
}

class MacStatusItem : public StatusItem {
public:
    explicit MacStatusItem(MacStatusBar& bar)
        : bar_(bar),
          item_([[NSStatusBar systemStatusBar] statusItemWithLength:NSVariableStatusItemLength]) {
        bar_.current_ = this;
    }
    ~MacStatusItem() override {
        if (bar_.current_ == this) {
            bar_.current_ = nullptr;
        }
        [[NSStatusBar systemStatusBar] removeStatusItem:item_];
    }

    void setTitle(const std::string& title) override { item_.button.title = toNSString(title); }
    void setToolTip(const std::string& toolTip) override {
        item_.button.toolTip = toNSString(toolTip);
    }
    void setMenu(std::shared_ptr<const Menu> menu) override {
        item_.menu = buildMenu(*menu);
        menu_ = std::move(menu);
    }
    void openMenu() { [item_.button performClick:nil]; }

private:
    MacStatusBar& bar_;
    // The status bar does not keep its items: this strong reference does.
    NSStatusItem* item_;
    std::shared_ptr<const Menu> menu_;
};

std::unique_ptr<StatusItem> MacStatusBar::createStatusItem() {
    return std::make_unique<MacStatusItem>(*this);
}

void MacStatusBar::openMenu() {
    if (current_ != nullptr) {
        current_->openMenu();
    }
}

}  // namespace dorvane
