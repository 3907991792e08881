#include <gtest/gtest.h>

#include <filesystem>

#include "base/atomic_file.h"
#include "e2e/app_process.h"
#include "sim_state.h"
#include "system/command_runner.h"

namespace dorvane {
namespace {

// A tmux server of the test's own, on its own socket and without anybody's configuration, with
// one pane running a plain shell in the app's folders.
class Tmux {
public:
    explicit Tmux(const testing::AppProcess& app)
        : socket_("dorvane-test-" + std::to_string(::getpid())) {
        std::string environment = "DORVANE_SIM_STATE=" + app.notebook.statePath();
        for (const auto& [variable, folder] : app.folders()) {
            environment += " " + variable + "=" + folder;
        }
        run({"new-session", "-d", "-s", "main", "-x", "110", "-y", "32",
             "env " + environment + " LANG=C.UTF-8 PS1='$ ' bash --norc --noprofile"});
        // The server is detached from the test: should the test be killed (by its time-out), the
        // server, and the app in it, go too.
        run({"run-shell", "-b",
             "tail --pid=" + std::to_string(::getpid()) + " -f /dev/null; " + kTmux + " -L " +
                 socket_ + " kill-server"});
    }
    ~Tmux() { run({"kill-server"}); }

    TRBCommandResult run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), {"-f", "/dev/null", "-L", socket_});
        return TRBRunCommand(kTmux, arguments);
    }
    void keys(const std::vector<std::string>& keys) const {
        std::vector<std::string> arguments = {"send-keys", "-t", "main"};
        arguments.insert(arguments.end(), keys.begin(), keys.end());
        run(arguments);
    }
    std::string screen() const { return run({"capture-pane", "-t", "main", "-p"}).output; }
    bool waitForScreen(const std::string& text) const {
        return testing::waitUntil([&] { return screen().find(text) != std::string::npos; });
    }
    static constexpr const char* kTmux = "/usr/bin/tmux";

private:
    std::string socket_;
};

TEST(TerminalFrontEnd, SetsQuietHoursInTheDialogAndQuitsLeavingTheTerminalSane) {
    if (testing::missingTool(Tmux::kTmux)) {
        GTEST_SKIP() << "tmux is not installed";
    }
    testing::AppProcess app;  // only for its notebook and folders
    Tmux tmux(app);
    tmux.keys({std::string(DORVANE_APP_BIN) + "; echo EXITED:$?", "Enter"});
    ASSERT_TRUE(tmux.waitForScreen("Awake")) << tmux.screen();

    tmux.run({"resize-window", "-t", "main", "-x", "100", "-y", "30"});
    tmux.keys({"Enter"});  // opens the menu, on the screen as the new size has it
    ASSERT_TRUE(tmux.waitForScreen("Quit and Restore Sleep")) << tmux.screen();
    tmux.keys(std::vector<std::string>(9, "Down"));  // to Quiet Hours, separators skipped
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForScreen("Set Quiet Hours")) << tmux.screen();
    tmux.keys({"Down", "Down", "Enter"});
    ASSERT_TRUE(tmux.waitForScreen("From:")) << tmux.screen();

    // In the start field: select all, cut, type; in the end field: select all, paste what was cut.
    tmux.keys({"C-a", "C-x", "22:00", "Tab", "C-a", "C-v"});
    ASSERT_TRUE(tmux.waitForScreen("[22:00")) << tmux.screen();
    ASSERT_TRUE(tmux.waitForScreen("[00:00")) << tmux.screen();
    tmux.keys({"Enter"});
    EXPECT_TRUE(testing::waitUntil([&] {
        const std::string stored = readWholeFile(app.defaultsPath()).value_or("");
        return stored.find("<key>quietHoursStart</key>\n\t<string>22:00</string>") !=
                   std::string::npos &&
               stored.find("<key>quietHoursEnd</key>\n\t<string>00:00</string>") !=
                   std::string::npos;
    })) << readWholeFile(app.defaultsPath()).value_or("");

    tmux.keys({"C-q"});  // quits through the restore path
    ASSERT_TRUE(tmux.waitForScreen("EXITED:0")) << tmux.screen();
    EXPECT_FALSE(app.state().sleepDisabled);
    EXPECT_FALSE(app.state().wakeSlot.has_value());
    tmux.keys({"stty -a | grep -oE -- '-?(icanon|echo) ' | tr -d '\\n'; echo :SANE", "Enter"});
    // The output, not the line typed.
    EXPECT_TRUE(tmux.waitForScreen("icanon echo :SANE")) << tmux.screen();
}

}  // namespace
}  // namespace dorvane
