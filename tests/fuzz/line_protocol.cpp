#include <cstdio>

#include "fuzz/fuzz_target.h"
#include "platform/terminal/line_front_end.h"

// One line of the line protocol against a menu with a submenu: every line is either acted on (a
// row's command runs) or answered with an error, never both, never neither, never a crash.
DORVANE_FUZZ_TARGET(line_protocol) {
    static dorvane::EventLoop loop;
    static std::FILE* sink = std::tmpfile();
    static int acted = 0;
    static dorvane::LineFrontEnd frontEnd = [] {
        dorvane::LineFrontEnd made(loop, -1, sink);
        auto menu = std::make_shared<dorvane::Menu>();
        dorvane::MenuItem row;
        row.title = "Refresh";
        row.action = [](const dorvane::MenuItem&) { ++acted; };
        menu->items.push_back(row);
        menu->items.push_back(dorvane::MenuItem::separatorItem());
        row.submenu = std::make_shared<dorvane::Menu>();
        row.submenu->items.push_back(dorvane::MenuItem{});
        menu->items.push_back(row);
        made.setStatusMenu(menu);
        return made;
    }();
    std::rewind(sink);
    const int actedBefore = acted;
    frontEnd.handleLine(std::string(dorvane::fuzz::asText(data, size)));
    // Rows chosen are delivered through the loop; run them so nothing piles up between inputs.
    loop.post([] { loop.stop(); });
    loop.run();
    std::fflush(sink);
    const bool answered = std::ftell(sink) > 0;
    DORVANE_FUZZ_EXPECT((acted - actedBefore == 1) != answered && acted - actedBefore <= 1);
    return 0;
}
