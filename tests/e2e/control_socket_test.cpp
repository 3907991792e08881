#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/un.h>

#include "e2e/app_process.h"
#include "sim_state.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
using nlohmann::json;
using testing::AppProcess;
using ::testing::HasSubstr;
using testing::waitUntil;

std::string socketPath(const AppProcess& app) {
    return app.notebook.folder() + "/control/dorvane.sock";
}

// A raw client of the control socket.
struct Client {
    explicit Client(const std::string& path)
        : fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path.c_str());
        connected =
            ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    }
    json ask(const std::string& line) {
        const std::string text = line + "\n";
        if (::write(fd.get(), text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
            return nullptr;
        }
        while (buffered.find('\n') == std::string::npos) {
            pollfd waiting{fd.get(), POLLIN, 0};
            char chunk[4096];
            ssize_t count = 0;
            if (::poll(&waiting, 1, 10'000) <= 0 ||
                (count = ::read(fd.get(), chunk, sizeof chunk)) <= 0) {
                return nullptr;
            }
            buffered.append(chunk, static_cast<std::size_t>(count));
        }
        const std::size_t end = buffered.find('\n');
        const json answer = json::parse(buffered.substr(0, end), nullptr, false);
        buffered.erase(0, end + 1);
        return answer;
    }
    UniqueFd fd;
    bool connected = false;
    std::string buffered;
};

TRBCommandResult commandLine(const std::vector<std::string>& arguments) {
    return TRBRunCommand(DORVANE_APP_BIN, arguments);
}

// The command line's exit statuses and outputs, each verb's effect on the notebook.
TEST(ControlSocket, EveryVerbOfTheCommandLineActsAsTheMenuWould) {
    AppProcess app;
    const auto stopped = commandLine({"status"});
    EXPECT_EQ(stopped.status, 3);
    EXPECT_THAT(stopped.error, HasSubstr("not running"));
    const auto diagnosis = commandLine({"diagnose"});
    EXPECT_EQ(diagnosis.status, 0);
    EXPECT_THAT(diagnosis.output, HasSubstr("-g ps (exit status 0)\nNow drawing from 'AC Power'"));
    EXPECT_THAT(diagnosis.output, HasSubstr("== Guardian record"));

    ASSERT_TRUE(app.startAwake());
    struct Case {
        std::vector<std::string> before;  // a change to the notebook first
        std::vector<std::string> arguments;
        int status;
        std::string printed;  // on standard output, or on standard error for a failure
        std::function<bool(const sim::State&)> notebook;
    };
    const auto switchSet = [](bool set) {
        return [set](const sim::State& s) { return s.sleepDisabled == set; };
    };
    // clang-format off
    const Case cases[] = {
        {{}, {"status", "--json"}, 0, R"("runMode":0,"powerSource":"ac")", switchSet(true)},
        {{"power", "battery"}, {"mode", "1"}, 0, "stays awake", switchSet(true)},
        {{}, {"status"}, 0, "Run mode: 1\nPower: battery (100%)", switchSet(true)},
        {{}, {"mode", "0"}, 0, "normal sleep restored", switchSet(false)},
        {{}, {"hold", "90m"}, 0, "Held awake until", switchSet(true)},
        {{}, {"hold", "off"}, 0, "normal sleep restored", switchSet(false)},
        {{"thermal", "critical"}, {"refresh"}, 0, "running hot", switchSet(false)},
        {{}, {"status"}, 0, "Thermal state: critical (sleep allowed to cool down)", switchSet(false)},
        {{"thermal", "fair"}, {"refresh"}, 0, "", switchSet(false)},
        {{"power", "ac"}, {"quiet", "25:00", "07:00"}, 1, "start time", switchSet(true)},
        {{}, {"quiet", "22:00", "06:30"}, 0, "", [](const sim::State& s) { return s.wakeSlot && s.wakeSlot->time == "06:30:00"; }},
        {{}, {"quiet", "off"}, 0, "", [](const sim::State& s) { return !s.wakeSlot; }},
        {{"repeat", "set", "shutdown", "MTWRFSU", "05:00:00"}, {"quiet", "22:00", "06:30"}, 1, "Replace the Existing Wake Schedule? Answer it from the menu", [](const sim::State& s) { return !s.wakeSlot && s.offSlot; }},
        {{"privilege", "revoke"}, {"refresh"}, 0, "", switchSet(true)},
        {{"power", "battery"}, {"refresh"}, 1, "needs permission", switchSet(true)},
        {{}, {"mode", "2"}, 1, "usage:", switchSet(true)},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + (c.arguments.size() > 1 ? c.arguments[1] : ""));
        if (!c.before.empty()) {
            app.control(c.before);
        }
        const auto result = commandLine(c.arguments);
        EXPECT_EQ(result.status, c.status) << result.error;
        EXPECT_THAT(c.status == 0 ? result.output : result.error, HasSubstr(c.printed));
        EXPECT_TRUE(waitUntil([&] { return c.notebook(app.state()); }, 2s));
    }
}

// Bad lines, two clients, a silent one, and a hold that lasts across the clock, a sleep and the
// floor, through the real socket.
TEST(ControlSocket, ServesEveryClientAndKeepsAHoldOnTheNotebooksClock) {
    AppProcess app;
    app.control({"power", "battery"});
    app.control({"clock", "set", "10:00"});
    app.start();
    ASSERT_TRUE(app.waitForKey("title", "Normal"));
    Client silent(socketPath(app));
    Client client(socketPath(app));
    ASSERT_TRUE(silent.connected && client.connected);
    const std::pair<std::string, const char*> badLines[] = {
        {std::string(10000, 'x'), "too long"},  // more than one read: its rest is dropped
        {"{\"verb\":", "not valid JSON"},
        {R"({"verb":"sing"})", "unknown verb"},
        {R"({"verb":"mode","value":"1"})", "mode takes"},
        {R"({"verb":1})", "needs a \"verb\""},
        {std::string("{\"verb\":\"status\"}\0", 18), "NUL byte"},
    };
    for (const auto& [line, error] : badLines) {
        const json answer = client.ask(line);
        EXPECT_EQ(answer["ok"], false) << line.substr(0, 40);
        EXPECT_THAT(answer.value("error", ""), HasSubstr(error));
    }
    EXPECT_EQ(client.ask(R"({"verb":"status"})")["ok"], true) << "still serving";
    // While the person at the screen is asked something, only status is answered.
    app.send(R"({"choose":["Quiet Hours","Set Quiet Hours…"]})");
    ASSERT_TRUE(app.waitForKey("alert"));
    EXPECT_THAT(client.ask(R"({"verb":"mode","value":1})").value("error", ""), HasSubstr("alert"));
    EXPECT_EQ(client.ask(R"({"verb":"status"})")["runMode"], 0);
    app.send(R"({"answer":1001})");

    // The silent client holds up neither a power change's refresh nor the other client.
    app.control({"power", "ac"});
    EXPECT_TRUE(waitUntil([&] { return app.state().sleepDisabled; }, 2s));
    app.control({"power", "battery"});
    EXPECT_TRUE(waitUntil([&] { return !app.state().sleepDisabled; }, 2s));

    json answer = client.ask(R"({"verb":"hold","until":"10:30"})");
    EXPECT_EQ(answer["hold"]["until"], "10:30");
    EXPECT_TRUE(app.state().sleepDisabled);
    // The floor still applies: with the lid closed the notebook sleeps; woken and charged, the
    // hold keeps it awake again.
    app.control({"lid", "closed"});
    app.control({"power", "battery", "8"});
    EXPECT_TRUE(waitUntil([&] { return app.state().asleep; }, 2s));
    app.control({"wake"});
    app.control({"power", "battery", "60"});
    EXPECT_TRUE(waitUntil([&] { return app.state().sleepDisabled; }, 2s));
    app.control({"clock", "set", "10:29"});
    EXPECT_EQ(client.ask(R"({"verb":"refresh"})")["sleepDisabled"], true);
    // Past its deadline on the notebook's clock the hold is over at the next refresh.
    app.control({"clock", "set", "10:31"});
    answer = client.ask(R"({"verb":"refresh"})");
    EXPECT_EQ(answer["hold"], nullptr);
    EXPECT_EQ(answer["runMode"], 0);
    EXPECT_TRUE(waitUntil([&] { return app.state().asleep; }, 2s)) << "lid closed";
    app.signal(SIGTERM);
    app.wait();
    EXPECT_FALSE(std::filesystem::exists(socketPath(app))) << "removed at quit";
}

}  // namespace
}  // namespace dorvane
