#include <fcntl.h>

#include "fuzz/fuzz_target.h"
#include "platform/terminal/line_front_end.h"

// One line of the line protocol against a menu with a submenu: every line is either acted on or
// answered with an error, never a crash.
DORVANE_FUZZ_TARGET(line_protocol) {
    static dorvane::EventLoop loop;
    static dorvane::LineFrontEnd frontEnd(loop, -1, ::open("/dev/null", O_WRONLY | O_CLOEXEC));
    [[maybe_unused]] static const bool prepared = [] {
        auto menu = std::make_shared<dorvane::Menu>();
        dorvane::MenuItem row;
        row.title = "Refresh";
        row.action = [](const dorvane::MenuItem&) {};
        menu->items.push_back(row);
        menu->items.push_back(dorvane::MenuItem::separatorItem());
        row.submenu = std::make_shared<dorvane::Menu>();
        row.submenu->items.push_back(dorvane::MenuItem{});
        menu->items.push_back(row);
        frontEnd.setStatusMenu(menu);
        return true;
    }();
    frontEnd.handleLine(std::string(dorvane::fuzz::asText(data, size)));
    // Rows chosen are delivered through the loop; run them so nothing piles up between inputs.
    loop.post([] { loop.stop(); });
    loop.run();
    return 0;
}
