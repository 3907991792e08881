#pragma once

#include <memory>
#include <string>

#include "platform/linux/event_loop.h"
#include "platform/linux/linux_bundle.h"
#include "platform/terminal/front_end.h"

namespace dorvane {

// The full-screen terminal front end (ncurses): a top line drawn like a menu bar with the status
// item's title at its right, the menu under it, alerts and dialogs in the middle, and a side
// panel that shows the simulated notebook with keys that change it.
std::unique_ptr<FrontEnd> makeTerminalFrontEnd(EventLoop& loop, const InstallLayout& layout,
                                               const std::string& notebookStatePath);

}  // namespace dorvane
