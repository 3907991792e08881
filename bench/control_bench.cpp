// A status round trip on the control socket beside the cheapest round trip of the line protocol
// (a refused line answered by its error), against the real program on a simulated notebook.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/unique_fd.h"

extern char** environ;

namespace {

using dorvane::UniqueFd;

// Sends a line and reads until the next line end.
void roundTrip(int fd, const std::string& line, benchmark::State& state) {
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) {
        state.SkipWithError("write failed");
        return;
    }
    char chunk[4096];
    for (;;) {
        pollfd waiting{fd, POLLIN, 0};
        const ssize_t count = ::poll(&waiting, 1, 5000) == 1 ? ::read(fd, chunk, sizeof chunk) : -1;
        if (count <= 0) {
            state.SkipWithError("no answer");
            return;
        }
        if (chunk[count - 1] == '\n') {
            return;
        }
    }
}

// The application in line mode with a notebook and settings of its own, for the whole run.
struct App {
    App() {
        char pattern[] = "/tmp/dorvane-bench-XXXXXX";
        folder = ::mkdtemp(pattern);
        ::setenv("DORVANE_SIM_STATE", (folder + "/notebook.json").c_str(), 1);
        for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME"}) {
            ::setenv(variable, folder.c_str(), 1);
        }
        std::filesystem::create_directories(folder + "/dorvane");
        char stamp[32];
        const std::time_t now = std::time(nullptr);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
        // A check just made: no update check reaches for the network.
        std::ofstream(folder + "/dorvane/com.dorvane.Dorvane.plist")
            << "<plist version=\"1.0\"><dict><key>lastUpdateCheckAt</key><date>" << stamp
            << "</date></dict></plist>";
        int ends[2];
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends);
        lines.reset(ends[0]);
        const UniqueFd appEnd(ends[1]);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, appEnd.get(), 0);
        posix_spawn_file_actions_adddup2(&actions, appEnd.get(), 1);
        char* argv[] = {const_cast<char*>(DORVANE_APP_BIN), nullptr};
        posix_spawn(&pid, DORVANE_APP_BIN, &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::snprintf(address.sun_path, sizeof address.sun_path, "%s/control/dorvane.sock",
                      folder.c_str());
        for (int attempt = 0; attempt < 100; ++attempt) {
            control.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
            if (::connect(control.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) ==
                0) {
                break;
            }
            control.reset();
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~App() {
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        std::filesystem::remove_all(folder);
    }
    std::string folder;
    pid_t pid = -1;
    UniqueFd lines;
    UniqueFd control;
};

App& app() {
    static App running;
    return running;
}

void BM_ControlSocket_Status(benchmark::State& state) {
    for (auto _ : state) {
        roundTrip(app().control.get(), "{\"verb\":\"status\"}\n", state);
    }
}

void BM_LineProtocol_RefusedLine(benchmark::State& state) {
    for (auto _ : state) {
        roundTrip(app().lines.get(), "{\"choose\":5}\n", state);
    }
}

}  // namespace

BENCHMARK(BM_ControlSocket_Status);
BENCHMARK(BM_LineProtocol_RefusedLine);
BENCHMARK_MAIN();
