#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "fuzz/fuzz_target.h"
#include "platform/terminal/line_front_end.h"

// One line of the line protocol against a menu with a submenu: every line is either acted on (a
// row's command runs) or answered with an error, never both, never neither, never a crash.
DORVANE_FUZZ_TARGET(line_protocol) {
    static dorvane::EventLoop loop;
    // A regular file takes every write at once, so an answer is there as soon as the line is.
    static const int sink = ::fileno(std::tmpfile());
    static int acted = 0;
    static dorvane::LineFrontEnd frontEnd(loop, -1, sink);
    [[maybe_unused]] static const bool prepared = [] {
        auto menu = std::make_shared<dorvane::Menu>();
        dorvane::MenuItem row;
        row.title = "Refresh";
        row.action = [](const dorvane::MenuItem&) { ++acted; };
        menu->items.push_back(row);
        menu->items.push_back(dorvane::MenuItem::separatorItem());
        row.submenu = std::make_shared<dorvane::Menu>();
        row.submenu->items.push_back(dorvane::MenuItem{});
        menu->items.push_back(row);
        frontEnd.setStatusMenu(menu);
        return true;
    }();
    ::lseek(sink, 0, SEEK_SET);
    const int actedBefore = acted;
    frontEnd.handleLine(std::string(dorvane::fuzz::asText(data, size)));
    // Rows chosen are delivered through the loop; run them so nothing piles up between inputs.
    loop.post([] { loop.stop(); });
    loop.run();
    const bool answered = ::lseek(sink, 0, SEEK_CUR) > 0;
    DORVANE_FUZZ_EXPECT((acted - actedBefore == 1) != answered && acted - actedBefore <= 1);
    return 0;
}
