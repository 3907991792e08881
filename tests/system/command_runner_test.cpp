#include "system/command_runner.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/unique_fd.h"
#include "support/fakes.h"

namespace dorvane {
namespace {

const std::string kShell = "/bin/sh";

// A launch failure reports -1 and the reason; a relative path is never searched for.
TEST(CommandRunner, ReportsStatusAndBothStreamsWholeOrWhyNothingRan) {
    // clang-format off
    const std::tuple<const char*, std::string, std::string, int, std::string, std::string> cases[] = {
        {"writes nothing and succeeds", kShell, "true", 0, "", ""},
        {"status 3 after writing to both streams", kShell, "printf 'to out'; printf 'to err' >&2; exit 3", 3, "to out", "to err"},
        {"line ends are kept, text is not trimmed", kShell, "printf '  a\\nb\\r\\n'; printf 'x\\n' >&2", 0, "  a\nb\r\n", "x\n"},
        {"invalid UTF-8 on standard output empties it alone", kShell, "printf 'A\\377B'; printf 'still here' >&2; exit 4", 4, "", "still here"},
        {"overlong UTF-8 counts as invalid", kShell, "printf '\\300\\257'", 0, "", ""},
        {"an argument is handed over unchanged", kShell, "printf '%s' \"$0\"", 0, "$HOME *; echo 'x'", ""},
        {"ended by a signal reports 128 + signal", kShell, "kill -TERM $$", 128 + SIGTERM, "", ""},
        {"a megabyte on each stream, standard error first, without deadlock", kShell, "head -c 1048576 /dev/zero | tr '\\0' x >&2; head -c 1048576 /dev/zero | tr '\\0' y", 0, std::string(1 << 20, 'y'), std::string(1 << 20, 'x')},
        {"only the three streams are inherited", kShell, "exec ls /dev/fd", 0, "0\n1\n2\n3\n", ""},
        {"a missing program", "/nonexistent/dorvane-tool", "", -1, "", std::strerror(ENOENT)},
        {"a relative path", "true", "", -1, "", std::strerror(ENOENT)},
        {"a folder", "/", "", -1, "", std::strerror(EACCES)},
    };
    // clang-format on
    for (const auto& [what, program, script, status, output, error] : cases) {
        SCOPED_TRACE(what);
        const TRBCommandResult result = TRBRunCommand(program, {"-c", script, "$HOME *; echo 'x'"});
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.output, output);
        EXPECT_EQ(result.error, error);
    }
}

TEST(CommandRunner, AChildWhoseStatusIsLostHasFailed) {
    // With SIGCHLD ignored the kernel reaps children itself and waitpid finds none.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ASSERT_EQ(::sigaction(SIGCHLD, &ignore, &previous), 0);
    const TRBCommandResult result = TRBRunCommand(kShell, {"-c", "true"});
    ::sigaction(SIGCHLD, &previous, nullptr);
    EXPECT_NE(result.status, 0);
}

TEST(CommandRunner, AHungChildIsStoppedWithEverythingItStarted) {
    // Each row: the script, whether a termination request abandons it before its time-out, and
    // whether its kill is refused (as for sudo's root child on a Mac: it ends only by itself).
    // clang-format off
    const std::tuple<const char*, const char*, bool, bool> cases[] = {
        {"child never ends", "printf 'partial sudo password'; exec sleep 60", false, false},
        {"grandchild holds the streams open, then acts", "(sleep 0.5; touch \"$0\") & exit 0", false, false},
        {"streams closed, child lingers", "exec >&- 2>&-; sleep 60", false, false},
        {"abandoned while it holds its streams", "sleep 60 & exec sleep 60", true, false},
        {"abandoned after closing its streams", "exec >&- 2>&-; sleep 60", true, false},
        {"kill refused at the time-out", "echo $$ > \"$0.pid\"; exec sleep 3", false, true},
        {"kill refused when abandoned", "echo $$ > \"$0.pid\"; exec sleep 3", true, true},
    };
    // clang-format on
    const testing::TempFolder folder;
    const std::string late = folder.path + "/late";
    for (const auto& [what, script, abandon, refuse] : cases) {
        SCOPED_TRACE(what);
        Pipe request;
        ASSERT_TRUE(makePipe(request));
        RunOptions options;
        options.timeout = std::chrono::milliseconds(abandon ? 60'000 : 300);
        options.abandonFd = request.readEnd.get();
        // The request comes once the child is seen running, never before it started.
        std::filesystem::remove(late + ".started");
        int refused = 0;
        if (refuse) {
            options.signalGroup = [&](pid_t, int) {
                ++refused;
                errno = EPERM;
                return -1;
            };
        }
        std::thread requester([&, abandon = abandon] {
            EXPECT_TRUE(
                testing::waitUntil([&] { return std::filesystem::exists(late + ".started"); }));
            EXPECT_EQ(::write(request.writeEnd.get(), "x", abandon ? 1 : 0), abandon ? 1 : 0);
        });
        const auto started = std::chrono::steady_clock::now();
        const TRBCommandResult result = TRBRunCommand(
            kShell, {"-c", ": >\"$0.started\"; " + std::string(script), late}, options);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(2500));
        requester.join();
        EXPECT_EQ(result.status, kTimedOutStatus);
        EXPECT_EQ(result.output, "");
        // The text must not be mistaken for a missing privilege.
        EXPECT_EQ(result.error.find("password"), std::string::npos) << result.error;
        EXPECT_EQ(TRBRunCommand(kShell, {"-c", "true"}, options).status,
                  abandon ? kTimedOutStatus : 0)
            << "nothing starts while a termination request waits";
        if (refuse) {
            // Once it ends by itself the child is reaped: a zombie would still take signal 0.
            pid_t child = 0;
            std::ifstream(late + ".pid") >> child;
            EXPECT_TRUE(testing::waitUntil([&] { return ::kill(child, 0) != 0; }))
                << "the child stays a zombie";
            EXPECT_EQ(refused, 1);
        }
    }
    // With no time left nothing starts, not even a child that could not be killed.
    RunOptions noTime;
    noTime.timeout = std::chrono::milliseconds(0);
    noTime.signalGroup = [](pid_t, int) { return -1; };
    EXPECT_EQ(TRBRunCommand(kShell, {"-c", "touch \"$0\"", late}, noTime).status, kTimedOutStatus);
    EXPECT_FALSE(std::filesystem::exists(late)) << "a grandchild outlived the run";
}

TEST(CommandRunner, TheApplicationsRunnerTakesItsTextsFromTheStringTable) {
    testing::FakeBundle bundle;
    bundle.texts["error.command_timed_out"] = "Zeit abgelaufen";
    Pipe request;
    ASSERT_TRUE(makePipe(request));
    SpawnCommandRunner runner(bundle, request.readEnd.get());
    ASSERT_EQ(::write(request.writeEnd.get(), "x", 1), 1);
    EXPECT_TRUE(runner.run(kShell, {"-c", "true"}).abandoned) << "given up for the termination";
    // The shut-down's runs hold to its budget, whatever the runner's own time-out, and a repeated
    // termination request does not cut them short.
    runner.limitRunsTo(std::chrono::steady_clock::now() + std::chrono::milliseconds(200));
    EXPECT_EQ(runner.run(kShell, {"-c", "printf fine"}).output, "fine");
    const auto started = std::chrono::steady_clock::now();
    const TRBCommandResult stopped = runner.run(kShell, {"-c", "exec sleep 60"});
    EXPECT_EQ(stopped.error, "Zeit abgelaufen");
    EXPECT_FALSE(stopped.abandoned) << "stopped at the budget, not given up";
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
}

}  // namespace
}  // namespace dorvane
