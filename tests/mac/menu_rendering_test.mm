#include <gtest/gtest.h>

#include "platform/mac/menu_builder.h"
#include "support/fake_notebook.h"

namespace dorvane {
namespace {

// After AppKit's own validation, each rendered row is enabled exactly as the core's data says.
void expectFlagsKept(const Menu& menu, NSMenu* rendered) {
    [rendered update];
    ASSERT_EQ(rendered.numberOfItems, static_cast<NSInteger>(menu.items.size()));
    for (NSInteger i = 0; i < rendered.numberOfItems; ++i) {
        const MenuItem& item = menu.items[static_cast<std::size_t>(i)];
        if (!item.separator) {
            EXPECT_EQ(static_cast<bool>([rendered itemAtIndex:i].enabled), item.enabled)
                << item.title;
        }
        if (item.submenu) {
            expectFlagsKept(*item.submenu, [rendered itemAtIndex:i].submenu);
        }
    }
}

TEST(MacMenu, AppKitsValidationKeepsEachRowsEnabledFlag) {
    [NSApplication sharedApplication];
    for (const RunMode mode : {RunMode::PowerAdapter, RunMode::AlwaysAwake}) {
        testing::NotebookPlatform f;
        f.controller->setStatusItem(f.test.statusBar.createStatusItem());
        f.controller->setRunMode(mode);
        f.controller->rebuildMenu();
        const Menu& menu = *f.test.statusBar.lastCreated->menu;
        // The quiet-hours row: a row with a submenu, disabled in the always-awake mode.
        ASSERT_TRUE(menu.items[10].submenu &&
                    menu.items[10].enabled == (mode == RunMode::PowerAdapter));
        expectFlagsKept(menu, buildMenu(menu));
    }
}

}  // namespace
}  // namespace dorvane
