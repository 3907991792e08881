#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "base/unique_fd.h"
#include "platform/terminal/line_front_end.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

// A line front end reading from a descriptor of the test's choice and writing into a file.
struct LineFixture {
    EventLoop loop;
    testing::TempFolder folder;
    std::string outputPath = folder.path + "/output";
    UniqueFd output{::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)};
    UniqueFd input;
    UniqueFd feed;  // the writing end when the input is a pipe
    LineFrontEnd frontEnd{loop, input.get(), output.get()};

    explicit LineFixture(UniqueFd in, UniqueFd writer = UniqueFd())
        : input(std::move(in)), feed(std::move(writer)) {}
    static LineFixture piped() {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        return LineFixture(UniqueFd(ends[0]), UniqueFd(ends[1]));
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(feed.get(), text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    std::vector<std::string> errors() {
        std::vector<std::string> found;
        std::ifstream lines(outputPath);
        for (std::string line; std::getline(lines, line);) {
            const json message = json::parse(line);
            if (message.contains("error")) {
                found.push_back(message["error"]);
            }
        }
        return found;
    }
};

TEST(LineFrontEnd, RefusesMalformedPathsWithoutEchoingThem) {
    auto f = LineFixture::piped();
    auto menu = std::make_shared<Menu>();
    bool chosen = false;
    MenuItem& row = menu->items.emplace_back();
    row.action = [&](const MenuItem&) { chosen = true; };
    MenuItem& disabled = menu->items.emplace_back(row);
    disabled.title = "Quit";
    disabled.enabled = false;
    f.frontEnd.setStatusMenu(menu);
    const std::string deep = std::string(100000, '[') + "0" + std::string(100000, ']');
    // clang-format off
    const std::string lines[] = {
        R"({"choose":)" + deep + "}",
        R"({"choose":[0.5]})",
        R"({"choose":[{"row":0}]})",
        R"({"choose":[")" + std::string(5000, 'x') + R"("]})",
        R"({"choose":[0,0]})",
        R"({"choose":[1]})",
        R"({"choose":["Quit"]})",
    };
    // clang-format on
    for (const auto& line : lines) {
        f.frontEnd.handleLine(line);
    }
    const auto errors = f.errors();
    ASSERT_EQ(errors.size(), std::size(lines));
    for (const auto& error : errors) {
        EXPECT_LT(error.size(), 80u) << error;
    }
    f.loop.post([&] { f.loop.stop(); });
    f.loop.run();
    EXPECT_FALSE(chosen);
}

TEST(LineFrontEnd, AcceptsOnlyAnAnswerTheOpenAlertCanGive) {
    auto f = LineFixture::piped();
    f.frontEnd.start([&] { f.loop.stop(); });
    auto menu = std::make_shared<Menu>();
    menu->items.emplace_back().action = [](const MenuItem&) {};
    f.frontEnd.setStatusMenu(menu);  // a row that could be chosen were no alert open
    Alert alert;
    alert.buttons = {"Copy", "Retry", "Quit Anyway"};
    alert.accessory.fields.resize(3);
    alert.accessory.fields[0].text = "Start";
    alert.accessory.fields[0].editable = false;
    const char* const refused[] = {
        R"({"answer":1003})",
        R"({"answer":0})",
        R"({"answer":4294968296})",
        R"({"answer":"1000"})",
        R"({"answer":1000,"fields":["23:00"]})",
        R"({"answer":1000,"fields":["23:00",7]})",
        R"({"choose":[0]})",
    };
    for (const char* line : refused) {
        f.send(line);
    }
    f.send(R"({"answer":1002,"fields":["23:00","07:00"]})");
    const AlertResponse response = f.frontEnd.runModal(alert);
    EXPECT_EQ(response.code, kAlertThirdButtonReturn);
    EXPECT_EQ(response.fieldTexts, (std::vector<std::string>{"Start", "23:00", "07:00"}));
    EXPECT_EQ(f.errors().size(), std::size(refused));
}

TEST(LineFrontEnd, ReadsARegularFileToItsEndAndBoundsTheLineLength) {
    const testing::TempFolder folder;
    const std::string path = folder.path + "/lines";
    // A message padded to the bound, one a byte past it, one far past it, then a short one.
    const auto padded = [](std::size_t size) {
        return (R"({"unknown":1})" + std::string(size, ' ')).substr(0, size);
    };
    std::ofstream(path, std::ios::binary) << padded(1 << 20) << "\n"
                                          << padded((1 << 20) + 1) << "\n"
                                          << std::string(3 << 20, 'x') << "\n{\"unknown\":1}\n";
    LineFixture f(UniqueFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)));
    bool ended = false;
    f.frontEnd.start([&] {
        ended = true;
        f.loop.stop();
    });
    f.loop.run();
    EXPECT_TRUE(ended);
    EXPECT_EQ(f.errors(), (std::vector<std::string>{"unknown message", "line too long",
                                                    "line too long", "unknown message"}));
}

TEST(OutputQueue, NothingWaitsForTheReaderAndOnlyStatesAreReplaced) {
    using W = OutputQueue::Waiting;
    const std::string page(4096, 'p');  // fills the pipe: everything after it waits
    const std::string drops(OutputQueue::kMaximumDroppable, 'e');
    // clang-format off
    const std::tuple<const char*, std::vector<std::tuple<W, const char*, std::string>>, std::string> cases[] = {
        {"a newer state replaces one not yet begun, after what is kept", {{W::Kept, "", page}, {W::Replaced, "menu", "1"}, {W::Kept, "", "a"}, {W::Replaced, "title", "t"}, {W::Replaced, "menu", "2"}}, page + "at2"},
        {"a state partly written is finished first", {{W::Replaced, "menu", std::string(6000, 'm')}, {W::Replaced, "menu", "2"}}, std::string(6000, 'm') + "2"},
        {"answers beyond their bound are dropped, kept lines are not", {{W::Kept, "", page}, {W::Droppable, "", drops}, {W::Droppable, "", "e"}, {W::Kept, "", "k"}}, page + drops + "k"},
    };
    // clang-format on
    for (const auto& [what, sends, want] : cases) {
        SCOPED_TRACE(what);
        EventLoop loop;
        Pipe pipe;
        ASSERT_TRUE(makePipe(pipe));
        ASSERT_EQ(::fcntl(pipe.writeEnd.get(), F_SETPIPE_SZ, 4096), 4096);
        OutputQueue queue(loop, pipe.writeEnd.get());
        int drained = 0;  // told once, when the reader has taken all that waited
        queue.setDrained([&] { ++drained; });
        for (const auto& [waiting, kind, text] : sends) {
            queue.send(text, waiting, kind);
        }
        std::string read;
        loop.watch(pipe.readEnd.get(), [&] {
            char chunk[4096];
            const ssize_t count = ::read(pipe.readEnd.get(), chunk, sizeof chunk);
            read.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
        });
        const auto limit =
            loop.startTimer({5s, {}, {}, WorkKind::RunsDuringAlerts}, [&] { loop.stop(); });
        loop.runModal([&, size = want.size()] { return read.size() >= size; });
        EXPECT_EQ(read, want);
        EXPECT_EQ(drained, 1);
    }
}

}  // namespace
}  // namespace dorvane
