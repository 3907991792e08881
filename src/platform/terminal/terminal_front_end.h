#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "platform/linux/event_loop.h"
#include "platform/linux/linux_bundle.h"
#include "platform/terminal/front_end.h"

namespace dorvane {

// The full-screen terminal front end (ncurses): a top line drawn like a menu bar with the status
// item's title at its right, the menu under it, alerts and dialogs in the middle, and a side
// panel that shows the simulated notebook with keys that change it.
std::unique_ptr<FrontEnd> makeTerminalFrontEnd(EventLoop& loop, const InstallLayout& layout,
                                               const std::string& notebookStatePath);

// The highlighted row at each open level that an open menu keeps when a new menu arrives: the
// top level only, on a row the new menu has that is no separator; none when the menu was closed
// or the new menu has no such row.
std::vector<std::size_t> highlightForNewMenu(const std::vector<std::size_t>& highlight,
                                             const Menu* menu);

}  // namespace dorvane
