#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "base/run_command.h"
#include "base/unique_fd.h"
#include "sim_state.h"
#include "support/sim_notebook.h"

extern char** environ;

namespace dorvane::testing {

// The real application in line mode, on a simulated notebook, with a home and XDG folders of its
// own (so nothing of the user running the tests is read or touched), talking over one socket that
// is both its standard input and output. The settings say an update check was just made, so no
// silent check reaches for the network; more entries may be given. The privilege set-up is made,
// as a user does once.
class AppProcess {
public:
    explicit AppProcess(const std::string& moreSettings = "") {
        for (const auto& [variable, folder] : folders()) {
            std::filesystem::create_directories(folder);
            ::setenv(variable.c_str(), folder.c_str(), 1);
        }
        std::filesystem::create_directories(configHome_ + "/dorvane");
        const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
        char stamp[32];
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
        std::ofstream(defaultsPath())
            << "<plist version=\"1.0\"><dict><key>lastUpdateCheckAt</key>"
            << "<date>" << stamp << "</date>" << moreSettings << "</dict></plist>";
        ::setenv("LANG", "en_US.UTF-8", 1);
        for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES"}) {
            ::unsetenv(name);
        }
        control({"privilege", "grant"});
    }
    ~AppProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            wait();
        }
    }

    // UnreadPipe: standard output is a pipe of one page that nobody reads. UnreadTerminal: input
    // and output are a terminal whose output nobody reads; send() types there, and
    // fillTerminal() fills its output until a write would block.
    enum class Output { Socket, UnreadPipe, UnreadTerminal };
    void start(Output output = Output::Socket) {
        int ends[2];
        UniqueFd appEnd;
        UniqueFd appOutput;
        if (output == Output::UnreadTerminal) {
            socket_.reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
            ASSERT_TRUE(socket_.valid() && ::grantpt(socket_.get()) == 0 &&
                        ::unlockpt(socket_.get()) == 0);
            const winsize size{32, 110, 0, 0};
            ASSERT_EQ(::ioctl(socket_.get(), TIOCSWINSZ, &size), 0);
            appEnd.reset(::open(::ptsname(socket_.get()), O_RDWR | O_NOCTTY | O_CLOEXEC));
            unreadOutput_.reset(
                ::open(::ptsname(socket_.get()), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
            ::setenv("TERM", "xterm", 1);
        } else {
            ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
            socket_.reset(ends[0]);
            appEnd.reset(ends[1]);
        }
        if (output == Output::UnreadPipe) {
            ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
            unreadOutput_.reset(ends[0]);
            appOutput.reset(ends[1]);
            ASSERT_EQ(::fcntl(ends[1], F_SETPIPE_SZ, 4096), 4096);
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, appEnd.get(), 0);
        posix_spawn_file_actions_adddup2(&actions,
                                         appOutput.valid() ? appOutput.get() : appEnd.get(), 1);
        char* argv[] = {const_cast<char*>(DORVANE_APP_BIN), nullptr};
        // Handed SIGCHLD ignored, as some parents do, the app must still learn its tools' status.
        ::signal(SIGCHLD, SIG_IGN);
        const int spawned = posix_spawn(&pid_, DORVANE_APP_BIN, &actions, nullptr, argv, environ);
        ::signal(SIGCHLD, SIG_DFL);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(spawned, 0);
        buffered_.clear();
    }
    // Starts at this time of day on the notebook (when given); true once the app keeps it awake.
    bool startAwake(const std::string& clock = "") {
        if (!clock.empty()) {
            control({"clock", "set", clock});
        }
        start();
        return waitForKey("title", "Awake");
    }
    void send(const std::string& line) {
        const std::string text = line + "\n";
        ASSERT_EQ(::write(socket_.get(), text.data(), text.size()),
                  static_cast<ssize_t>(text.size()));
    }
    void closeInput() { ::shutdown(socket_.get(), SHUT_WR); }
    void fillTerminal() {
        const std::string filler(4096, ' ');
        // The terminal passes on what it holds in steps: it is full once a pause frees no room.
        for (bool wrote = true; wrote; ::usleep(100'000)) {
            wrote = false;
            while (::write(unreadOutput_.get(), filler.data(), filler.size()) > 0) {
                wrote = true;
            }
        }
    }

    // Reads messages until one satisfies the predicate; false when the time is up or the output
    // ends.
    bool waitFor(const std::function<bool(const nlohmann::json&)>& wanted) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            for (std::size_t end; (end = buffered_.find('\n')) != std::string::npos;) {
                messages.push_back(nlohmann::json::parse(buffered_.substr(0, end), nullptr, false));
                buffered_.erase(0, end + 1);
                if (wanted(messages.back()))
                    return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd waiting{socket_.get(), POLLIN, 0};
            char chunk[4096];
            ssize_t count = 0;
            if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) <= 0 ||
                (count = ::read(socket_.get(), chunk, sizeof chunk)) <= 0)
                return false;
            buffered_.append(chunk, static_cast<std::size_t>(count));
        }
    }
    // Reads messages until one holds this key, with this value when one is given.
    bool waitForKey(const std::string& key, const nlohmann::json& value = nullptr) {
        return waitFor([&](const nlohmann::json& m) {
            return m.contains(key) && (value.is_null() || m[key] == value);
        });
    }
    bool waitForAlert(const std::string& title) {
        return waitFor([&](const nlohmann::json& m) {
            return m.contains("alert") && m["alert"]["title"] == title;
        });
    }
    bool waitForMenuRow(std::size_t row, const std::string& title) {
        return waitFor([&](const nlohmann::json& m) {
            return m.contains("menu") && m["menu"][row]["title"] == title;
        });
    }
    // The exit status, once the process has ended.
    int wait() {
        int status = 0;
        ::waitpid(std::exchange(pid_, -1), &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void signal(int number) { ::kill(pid_, number); }
    // Whether a child of the app runs now whose command line ends so.
    bool childRunning(const std::string& commandLineEnd) const {
        const std::vector<std::string> arguments = {"-P", std::to_string(pid_), "-f",
                                                    commandLineEnd + "$"};
        return TRBRunCommand("/usr/bin/pgrep", arguments).status == 0;
    }
    // The guardian: the app's first child, the tools it runs come and go after it.
    pid_t guardian() const {
        const std::string self = std::to_string(pid_);
        std::ifstream children("/proc/" + self + "/task/" + self + "/children");
        pid_t first = -1;
        children >> first;
        return first;
    }

    std::string defaultsPath() const { return configHome_ + "/dorvane/com.dorvane.Dorvane.plist"; }
    std::string home() const { return notebook.folder() + "/home"; }
    // The variables that give the app its own folders, as the environment holds them.
    std::vector<std::pair<std::string, std::string>> folders() const {
        return {{"HOME", home()},
                {"XDG_CONFIG_HOME", configHome_},
                {"XDG_STATE_HOME", notebook.folder() + "/state"},
                {"XDG_CACHE_HOME", notebook.folder() + "/cache"},
                {"XDG_DATA_HOME", notebook.folder() + "/data"}};
    }
    // The simulated notebook as it is now.
    sim::State state() const { return *sim::StateFile(notebook.statePath()).read(nullptr); }
    // Sets the sleep switch as another program would, through the stand-in sudo and pmset.
    void setSwitchBehindTheAppsBack(bool disabled) const {
        const std::string tools =
            std::filesystem::path(DORVANE_APP_BIN).parent_path().parent_path() / "libexec/dorvane/";
        TRBRunCommand(tools + "sudo",
                      {"-n", tools + "pmset", "-a", "disablesleep", disabled ? "1" : "0"});
    }
    void control(const std::vector<std::string>& arguments) {
        const auto result = notebook.control(arguments);
        EXPECT_EQ(result.status, 0) << result.error;
    }

    SimNotebook notebook;
    std::vector<nlohmann::json> messages;

private:
    std::string configHome_ = notebook.folder() + "/config";
    pid_t pid_ = -1;
    UniqueFd socket_;
    UniqueFd unreadOutput_;
    std::string buffered_;
};

}  // namespace dorvane::testing
