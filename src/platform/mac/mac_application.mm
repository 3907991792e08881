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

void bringRunningInstanceForward() {
    NSString* identifier = NSBundle.mainBundle.bundleIdentifier;
    if (identifier == nil) {
        return;
    }
    const pid_t own = NSProcessInfo.processInfo.processIdentifier;
    for (NSRunningApplication* running in
         [NSRunningApplication runningApplicationsWithBundleIdentifier:identifier]) {
        if (running.processIdentifier != own) {
            [running activateWithOptions:NSApplicationActivateIgnoringOtherApps];
        }
    }
}

namespace {

class MacStatusItem : public StatusItem {
public:
    MacStatusItem()
        : item_([[NSStatusBar systemStatusBar] statusItemWithLength:NSVariableStatusItemLength]) {}
    ~MacStatusItem() override { [[NSStatusBar systemStatusBar] removeStatusItem:item_]; }

    void setTitle(const std::string& title) override { item_.button.title = toNSString(title); }
    void setToolTip(const std::string& toolTip) override {
        item_.button.toolTip = toNSString(toolTip);
    }
    void setMenu(std::shared_ptr<const Menu> menu) override {
        item_.menu = buildMenu(*menu);
        menu_ = std::move(menu);
    }

private:
    // The status bar does not keep its items: this strong reference does.
    NSStatusItem* item_;
    std::shared_ptr<const Menu> menu_;
};

}  // namespace

std::unique_ptr<StatusItem> MacStatusBar::createStatusItem() {
    return std::make_unique<MacStatusItem>();
}

}  // namespace dorvane
