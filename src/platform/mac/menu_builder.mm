#include "platform/mac/menu_builder.h"

// The row's action and a copy of the row, kept as the menu item's represented object (which the
// item holds strongly; its target is held weakly).
@interface TRBMenuActionBox : NSObject {
@public
    dorvane::MenuAction action;
    dorvane::MenuItem item;
}
@end

@implementation TRBMenuActionBox
@end

@interface TRBMenuDispatcher : NSObject
+ (TRBMenuDispatcher*)shared;
- (void)performAction:(NSMenuItem*)sender;
@end

@implementation TRBMenuDispatcher
+ (TRBMenuDispatcher*)shared {
    static TRBMenuDispatcher* dispatcher = [[TRBMenuDispatcher alloc] init];
    return dispatcher;
}
- (void)performAction:(NSMenuItem*)sender {
    TRBMenuActionBox* box = sender.representedObject;
    if (box == nil || !box->action) {
        return;
    }
    // Copied first: the action may rebuild the menu and release the box.
    const dorvane::MenuAction action = box->action;
    const dorvane::MenuItem item = box->item;
    action(item);
}
@end

namespace dorvane {

NSString* toNSString(const std::string& text) {
    NSString* converted = [[NSString alloc] initWithBytes:text.data()
                                                   length:text.size()
                                                 encoding:NSUTF8StringEncoding];
    return converted != nil ? converted : @"";
}

std::string fromNSString(NSString* text) {
    const char* bytes = text.UTF8String;
    return bytes != nullptr ? std::string(bytes) : std::string();
}

namespace {

SEL responderSelector(ResponderAction action) {
    switch (action) {
        case ResponderAction::Cut:
            return @selector(cut:);
        case ResponderAction::Copy:
            return @selector(copy:);
        case ResponderAction::Paste:
            return @selector(paste:);
        case ResponderAction::SelectAll:
            return @selector(selectAll:);
        case ResponderAction::None:
            break;
    }
    return nullptr;
}

NSMenuItem* buildItem(const MenuItem& item) {
    if (item.separator) {
        return [NSMenuItem separatorItem];
    }
    NSMenuItem* rendered = [[NSMenuItem alloc] initWithTitle:toNSString(item.title)
                                                      action:nullptr
                                               keyEquivalent:toNSString(item.keyEquivalent)];
    if (!item.keyEquivalent.empty()) {
        rendered.keyEquivalentModifierMask = NSEventModifierFlagCommand;
    }
    if (const SEL selector = responderSelector(item.responderAction); selector != nullptr) {
        rendered.action = selector;  // target nil: the first responder, a dialog's text field
    } else if (item.action) {
        TRBMenuActionBox* box = [[TRBMenuActionBox alloc] init];
        box->action = item.action;
        box->item = item;
        rendered.target = [TRBMenuDispatcher shared];
        rendered.action = @selector(performAction:);
        rendered.representedObject = box;
    }
    rendered.enabled = item.enabled;
    rendered.state = item.checked ? NSControlStateValueOn : NSControlStateValueOff;
    if (item.bold) {
        NSFont* bold = [NSFont boldSystemFontOfSize:[NSFont menuFontOfSize:0].pointSize];
        rendered.attributedTitle =
            [[NSAttributedString alloc] initWithString:toNSString(item.title)
                                            attributes:@{NSFontAttributeName : bold}];
    }
    if (item.submenu) {
        NSMenu* submenu = buildMenu(*item.submenu);
        submenu.title = toNSString(item.title);
        rendered.submenu = submenu;
    }
    return rendered;
}

}  // namespace

NSMenu* buildMenu(const Menu& menu) {
    NSMenu* rendered = [[NSMenu alloc] initWithTitle:toNSString(menu.title)];
    // Each menu says for itself whether its items' enabled flags are final.
    rendered.autoenablesItems = menu.autoenablesItems;
    for (const MenuItem& item : menu.items) {
        [rendered addItem:buildItem(item)];
    }
    return rendered;
}

}  // namespace dorvane
