#include "platform/terminal/front_end.h"

namespace dorvane {

const MenuItem* findKeyEquivalent(const Menu& menu, const std::string& key) {
    for (const MenuItem& item : menu.items) {
        if (!item.separator && item.keyEquivalent == key) {
            return &item;
        }
        if (item.submenu) {
            if (const MenuItem* found = findKeyEquivalent(*item.submenu, key)) {
                return found;
            }
        }
    }
    return nullptr;
}

}  // namespace dorvane
