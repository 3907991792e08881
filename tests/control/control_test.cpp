#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <fstream>

#include "control/control_client.h"
#include "control/control_request.h"
#include "control/control_server.h"
#include "platform/linux/event_loop.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using Verb = ControlRequest::Verb;

ControlRequest request(Verb verb, auto&&... set) {
    ControlRequest r;
    r.verb = verb;
    (set(r), ...);
    return r;
}
const auto mode = [](std::int64_t m) { return [m](ControlRequest& r) { r.mode = m; }; };
const auto lasting = [](std::chrono::minutes d) {
    return [d](ControlRequest& r) { r.duration = d; };
};
const auto until = [](int h, int m) { return [=](ControlRequest& r) { r.until = {h, m}; }; };

// Request lines: each answer a request or an error, never half of one.
TEST(ControlRequest, ParsesRequestLinesAndRefusesEverythingElse) {
    struct Case {
        std::string line;
        std::optional<ControlRequest> want;  // absent: an error answer
    };
    const Case cases[] = {
        {R"({"verb":"status"})", request(Verb::Status)},
        {R"({"verb":"refresh"})", request(Verb::Refresh)},
        {R"({"verb":"mode","value":1})", request(Verb::Mode, mode(1))},
        {R"({"verb":"mode","value":0})", request(Verb::Mode, mode(0))},
        {R"({"verb":"quiet","value":"off"})", request(Verb::QuietOff)},
        {R"({"verb":"hold","for":"1h30m"})", request(Verb::HoldFor, lasting(90min))},
        {R"({"verb":"hold","until":"07:30"})", request(Verb::HoldUntil, until(7, 30))},
        {R"({"verb":"hold","value":"off"})", request(Verb::HoldOff)},
        {R"({"verb":"mode","value":"1"})", std::nullopt},
        {R"({"verb":"mode","value":2})", std::nullopt},
        {R"({"verb":"mode","value":1.0})", std::nullopt},
        {R"({"verb":"status","extra":1})", std::nullopt},
        {R"({"verb":"hold","for":"25h"})", std::nullopt},
        {R"({"verb":"hold","until":"24:00"})", std::nullopt},
        {R"({"verb":"quiet","start":7,"end":"07:00"})", std::nullopt},
        {R"({"verb":"fly"})", std::nullopt},
        {R"(["status"])", std::nullopt},
        {std::string("{\"verb\":\"status\"}\0", 18), std::nullopt},
        {"not json", std::nullopt},
        {R"({"verb":"status","x":")" + std::string(kMaximumControlLineLength, 'x') + "\"}",
         std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 60));
        const auto parsed = parseControlRequest(c.line);
        if (c.want) {
            ASSERT_TRUE(std::holds_alternative<ControlRequest>(parsed));
            EXPECT_EQ(std::get<ControlRequest>(parsed), *c.want);
            EXPECT_EQ(parseControlRequest(requestLine(*c.want)), parsed) << "round trip";
        } else {
            EXPECT_TRUE(std::holds_alternative<std::string>(parsed));
        }
    }
}

TEST(ControlRequest, ReadsDurationsArgumentsAndAddresses) {
    const std::pair<const char*, std::optional<std::chrono::minutes>> durations[] = {
        {"2h", 120min}, {"90m", 90min}, {"1h30m", 90min}, {"24h", 24h},   {"1m", 1min},
        {"0m", {}},     {"24h1m", {}},  {"30m2h", {}},    {"2h2h", {}},   {"h", {}},
        {"2", {}},      {"-2h", {}},    {"2H", {}},       {"99999h", {}}, {"", {}},
    };
    for (const auto& [text, want] : durations) {
        EXPECT_EQ(parseHoldDuration(text), want) << text;
    }
    using Args = std::vector<std::string>;
    const std::pair<Args, std::optional<ControlRequest>> arguments[] = {
        {{"status", "--json"}, request(Verb::Status)},
        {{"hold", "90m"}, request(Verb::HoldFor, lasting(90min))},
        {{"hold", "until", "7:05"}, request(Verb::HoldUntil, until(7, 5))},
        {{"quiet", "23:00", "07:00"},
         request(Verb::QuietOn, [](ControlRequest& r) { r.start = "23:00", r.end = "07:00"; })},
        {{"mode", "2"}, {}},
        {{"status", "--yaml"}, {}},
        {{"hold"}, {}},
    };
    for (const auto& [args, want] : arguments) {
        const auto parsed = requestForArguments(args);
        EXPECT_EQ(std::holds_alternative<ControlRequest>(parsed), want.has_value()) << args[0];
        if (want && std::holds_alternative<ControlRequest>(parsed)) {
            EXPECT_EQ(std::get<ControlRequest>(parsed), *want);
        }
    }
    // An address any web page can open does only what a harmless menu row does.
    const std::pair<const char*, std::optional<ControlRequest>> addresses[] = {
        {"dorvane://mode?value=1", request(Verb::Mode, mode(1))},
        {"DORVANE://refresh", request(Verb::Refresh)},
        {"dorvane://hold?for=2h", request(Verb::HoldFor, lasting(120min))},
        {"dorvane://hold/?until=07%3A30", request(Verb::HoldUntil, until(7, 30))},
        {"dorvane://hold?off", request(Verb::HoldOff)},
        {"dorvane://quiet?value=off", {}},
        {"dorvane://status", {}},
        {"dorvane://mode?value=1&value=0", {}},
        {"dorvane://hold?until=07%3", {}},
        {"dorvane://hold?for=2h%0A", {}},
        {"dorvane://refresh?now", {}},
        {"https://mode?value=1", {}},
        {"dorvane:mode", {}},
    };
    for (const auto& [url, want] : addresses) {
        EXPECT_EQ(parseControlUrl(url), want) << url;
    }
    // With quiet hours on, a run mode from an address would move their wake event.
    EXPECT_FALSE(addressMayAsk(request(Verb::Mode, mode(1)), true));
    EXPECT_TRUE(addressMayAsk(request(Verb::Mode, mode(1)), false));
    EXPECT_TRUE(addressMayAsk(request(Verb::HoldOff), true));
}

// A client connected to path that has asked for the status.
UniqueFd askForStatus(const std::string& path) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::write(fd.get(), "{\"verb\":\"status\"}\n", 18) != 18) {
        return {};
    }
    return fd;
}

// The answer the client reads while the loop serves.
std::string answerTo(const UniqueFd& fd, EventLoop& loop) {
    std::string answer;
    char chunk[256];
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (answer.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        loop.post([&] { loop.stop(); });
        loop.run();
        const ssize_t count = ::recv(fd.get(), chunk, sizeof chunk, MSG_DONTWAIT);
        if (count == 0) {
            break;
        }
        if (count > 0) {
            answer.append(chunk, static_cast<std::size_t>(count));
        }
    }
    return answer;
}

// The socket's folder and mode, a stale socket replaced, a path too long refused, a peer refused.
TEST(ControlServer, OpensSafelyAndRefusesStrangers) {
    const testing::TempFolder folder;
    const std::string path = folder.path + "/control/dorvane.sock";
    {
        auto stale = openControlSocket(path);
        ASSERT_TRUE(std::holds_alternative<UniqueFd>(stale));
    }
    ::chmod((folder.path + "/control").c_str(), 0755);
    auto opened = openControlSocket(path);
    ASSERT_TRUE(std::holds_alternative<UniqueFd>(opened)) << std::get<std::string>(opened);
    struct stat status {};
    ASSERT_EQ(::stat((folder.path + "/control").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const std::string tooLong = folder.path + "/" + std::string(120, 'x') + "/s";
    ASSERT_TRUE(std::holds_alternative<std::string>(openControlSocket(tooLong)));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(tooLong).parent_path()));
    std::ofstream(folder.path + "/control/file") << "mine";
    EXPECT_TRUE(
        std::holds_alternative<std::string>(openControlSocket(folder.path + "/control/file")));
    EXPECT_TRUE(std::filesystem::exists(folder.path + "/control/file"));

    EventLoop loop;
    bool refuse = true;
    ControlServer server(
        loop, loop, std::move(std::get<UniqueFd>(opened)), path,
        [](std::string_view) { return std::string("{\"ok\":true}"); },
        [&](int socket) { return !refuse && ControlServer::samePeerUser(socket); });
    EXPECT_EQ(answerTo(askForStatus(path), loop),
              "{\"ok\":false,\"error\":\"connections from another user are "
              "refused\"}\n");
    refuse = false;
    EXPECT_EQ(answerTo(askForStatus(path), loop), "{\"ok\":true}\n");
    server.close();
    EXPECT_FALSE(std::filesystem::exists(path));
}

// Out of descriptors, the server neither spins on the connection it cannot take nor loses it.
TEST(ControlServer, OutOfDescriptorsItRestsAndThenServes) {
    const testing::TempFolder folder;
    const std::string path = folder.path + "/dorvane.sock";
    EventLoop loop;
    int refused = 0;
    bool scarce = true;
    ControlServer server(
        loop, loop, std::move(std::get<UniqueFd>(openControlSocket(path))), path,
        [](std::string_view) { return std::string("{\"ok\":true}"); }, ControlServer::samePeerUser,
        {},
        [&](int listener) {
            refused += scarce ? 1 : 0;
            errno = EMFILE;
            return scarce ? -1 : ControlServer::acceptConnection(listener);
        });
    const UniqueFd client = askForStatus(path);
    auto stop = loop.startTimer(TimerSpec{300ms, {}, {}}, [&] { loop.stop(); });
    loop.run();
    EXPECT_EQ(refused, 1) << "spins on a connection it cannot take";
    scarce = false;
    EXPECT_EQ(answerTo(client, loop), "{\"ok\":true}\n");
}

}  // namespace
}  // namespace dorvane
