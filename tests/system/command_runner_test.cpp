#include "system/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>

#include "support/fakes.h"

namespace dorvane {
namespace {

const std::string kChild = DORVANE_CHILD_TOOL;

TEST(CommandRunner, ReportsStatusAndBothStreamsWhole) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
        int status;
        std::string output;
        std::string error;
    };
    // clang-format off
    const Case cases[] = {
        {"writes nothing and succeeds", {}, 0, "", ""},
        {"status 3 after writing to both streams", {"out", "to out", "err", "to err", "exit", "3"}, 3, "to out", "to err"},
        {"line ends are kept, text is not trimmed", {"out", "  a\nb\r\n", "err", "x\n"}, 0, "  a\nb\r\n", "x\n"},
        {"invalid UTF-8 on standard output empties it alone", {"out-raw", "41ff42", "err", "still here", "exit", "4"}, 4, "", "still here"},
        {"overlong UTF-8 counts as invalid", {"out-raw", "c0af"}, 0, "", ""},
        {"an argument is handed over unchanged", {"out", "$HOME *; echo 'x'"}, 0, "$HOME *; echo 'x'", ""},
        {"ended by a signal reports 128 + signal", {"signal", std::to_string(SIGTERM)}, 128 + SIGTERM, "", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TRBCommandResult result = TRBRunCommand(kChild, c.arguments);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.output, c.output);
        EXPECT_EQ(result.error, c.error);
    }
}

TEST(CommandRunner, DrainsAMegabyteOnEachStreamWithoutDeadlock) {
    // Standard error is filled first: a runner that read standard output to its end before
    // looking at standard error would wait forever.
    const std::size_t megabyte = 1024 * 1024;
    const TRBCommandResult result = TRBRunCommand(
        kChild, {"err-bytes", std::to_string(megabyte), "out-bytes", std::to_string(megabyte)});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.output.size(), megabyte);
    EXPECT_EQ(result.error.size(), megabyte);
}

TEST(CommandRunner, ALaunchFailureReportsMinusOneAndADescription) {
    struct Case {
        const char* what;
        std::string path;
    };
    const Case cases[] = {
        {"no file at the path", "/nonexistent/dorvane-tool"},
        {"a relative path is never searched for", "true"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TRBCommandResult result = TRBRunCommand(c.path, {});
        EXPECT_EQ(result.status, -1);
        EXPECT_EQ(result.output, "");
        EXPECT_FALSE(result.error.empty());
    }
}

TEST(CommandRunner, TheChildInheritsOnlyItsThreeStreams) {
    const TRBCommandResult result = TRBRunCommand(kChild, {"fds"});
    ASSERT_EQ(result.status, 0);
    EXPECT_EQ(result.output, "0\n1\n2\n");
}

TEST(CommandRunner, AChildWhoseStatusIsLostHasFailed) {
    // With SIGCHLD ignored the kernel reaps children itself and waitpid finds none.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    const TRBCommandResult result = TRBRunCommand(kChild, {});
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_NE(result.status, 0);
}

TEST(CommandRunner, AHungChildIsStoppedWithEverythingItStarted) {
    struct Case {
        const char* what;
        std::vector<std::string> arguments;
    };
    const Case cases[] = {
        {"child never ends", {"out", "partial sudo password", "sleep", "60000"}},
        {"grandchild holds the streams open", {"grandchild-sleep", "60000"}},
        {"streams closed, child lingers", {"close-streams", "sleep", "60000"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunOptions options;
        options.timeout = std::chrono::milliseconds(300);
        const auto started = std::chrono::steady_clock::now();
        const TRBCommandResult result = TRBRunCommand(kChild, c.arguments, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
        EXPECT_EQ(result.status, kTimedOutStatus);
        EXPECT_EQ(result.output, "");
        // The text must not be mistaken for a missing privilege.
        EXPECT_EQ(result.error.find("password"), std::string::npos) << result.error;
    }
}

TEST(CommandRunner, TheApplicationsRunnerTakesItsTextsFromTheStringTable) {
    testing::FakeBundle bundle;
    bundle.texts["error.command_timed_out"] = "Zeit abgelaufen";
    SpawnCommandRunner runner(bundle, std::chrono::milliseconds(200));
    EXPECT_EQ(runner.run(kChild, {"sleep", "60000"}).error, "Zeit abgelaufen");
    const TRBCommandResult ok = runner.run(kChild, {"out", "fine"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.output, "fine");
}

}  // namespace
}  // namespace dorvane
