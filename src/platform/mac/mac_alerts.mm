#include "platform/mac/mac_alerts.h"

#include "platform/mac/mac_main_queue.h"
#include "platform/mac/menu_builder.h"

namespace dorvane {

namespace {

NSRect toRect(const Frame& frame) {
    return NSMakeRect(frame.x, frame.y, frame.width, frame.height);
}

}  // namespace

AlertResponse MacAlerts::runModal(const Alert& alert) {
    NSAlert* rendered = [[NSAlert alloc] init];
    rendered.messageText = toNSString(alert.messageText);
    rendered.informativeText = toNSString(alert.informativeText);
    for (const std::string& button : alert.buttons) {
        [rendered addButtonWithTitle:toNSString(button)];
    }
    NSMutableArray<NSTextField*>* fields = [NSMutableArray array];
    if (!alert.accessory.fields.empty()) {
        NSView* accessory = [[NSView alloc]
            initWithFrame:NSMakeRect(0, 0, alert.accessory.width, alert.accessory.height)];
        for (const TextField& field : alert.accessory.fields) {
            NSTextField* textField = [[NSTextField alloc] initWithFrame:toRect(field.frame)];
            textField.stringValue = toNSString(field.text);
            textField.placeholderString = toNSString(field.placeholder);
            textField.editable = field.editable;
            textField.selectable = field.selectable;
            textField.bordered = field.bordered;
            textField.drawsBackground = field.drawsBackground;
            [accessory addSubview:textField];
            [fields addObject:textField];
        }
        rendered.accessoryView = accessory;
    }
    // The first responder can be set only once the alert has laid out its window.
    [rendered layout];
    const int first = alert.accessory.initialFirstResponder;
    if (first >= 0 && static_cast<NSUInteger>(first) < fields.count) {
        rendered.window.initialFirstResponder = fields[static_cast<NSUInteger>(first)];
    }

    // A termination request must end the app while the alert is open: the shut-down restores the
    // sleep switch. AppKit refuses to terminate during a modal window unless told otherwise.
    rendered.window.preventsApplicationTerminationWhenModal = NO;
    NSModalResponse code = NSModalResponseAbort;
    {
        const ModalSession session(mainQueue_);
        code = [rendered runModal];
    }

    AlertResponse response{static_cast<int>(code), {}};
    for (NSTextField* field in fields) {
        response.fieldTexts.push_back(fromNSString(field.stringValue));
    }
    return response;
}

}  // namespace dorvane
