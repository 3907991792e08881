#pragma once

// Objective-C++ only: included by the macOS backend's .mm files, never by the core or the tests.
#import <AppKit/AppKit.h>

#include "platform/menu.h"

namespace dorvane {

// Renders the core's menu data as an NSMenu. Chosen rows call their action through one
// long-lived dispatcher; rows with a responder action send it to the first responder.
NSMenu* buildMenu(const Menu& menu);

// NSString from UTF-8 text, and back.
NSString* toNSString(const std::string& text);
std::string fromNSString(NSString* text);

}  // namespace dorvane
