#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace dorvane {

struct Menu;
struct MenuItem;

// What a menu item does when chosen. The sender is the item itself, as the menu delivers it.
using MenuAction = std::function<void(const MenuItem& sender)>;

// Editing commands that have no target: they travel to the focused text field of an open dialog.
enum class ResponderAction { None, Cut, Copy, Paste, SelectAll };

// One row of a menu, described as data; a front end only renders it and calls the action back on
// the main queue.
struct MenuItem {
    std::string title;
    bool bold = false;
    bool separator = false;
    MenuAction action;  // empty: the row has no action
    ResponderAction responderAction = ResponderAction::None;
    std::string keyEquivalent;  // a single lower-case letter with the command modifier, or empty
    bool checked = false;
    bool enabled = true;
    std::optional<std::int64_t> representedObject;
    std::shared_ptr<Menu> submenu;

    static MenuItem separatorItem() {
        MenuItem item;
        item.separator = true;
        return item;
    }
};

struct Menu {
    std::string title;
    // With automatic enabling on, a front end enables an item when something handles its action;
    // with it off, the item's own enabled flag is final.
    bool autoenablesItems = true;
    std::vector<MenuItem> items;
};

}  // namespace dorvane
