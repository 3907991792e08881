#include "base/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <thread>

#include "base/atomic_file.h"
#include "support/fakes.h"

extern char** environ;

namespace dorvane {
namespace {

using State = InstanceLock::State;

// Its release at the holder's death is seen end to end, where a killed app is started again.
TEST(InstanceLock, OneHolderAtATimeAndFreeOnceItEnds) {
    testing::TempFolder folder;
    const std::string path = folder.path + "/state/dorvane.lock";
    pid_t tool = -1;
    {
        const InstanceLock first(path);
        ASSERT_EQ(first.state(), State::Held) << first.failure();
        EXPECT_FALSE(refusedStart(first, path, "app_tests", ::getuid()));
        // A second start is told who holds the lock, which Linux lists.
        const InstanceLock second(path);
        ASSERT_EQ(second.state(), State::HeldElsewhere);
        // clang-format off
        const std::tuple<std::string, uid_t, std::string, int> cases[] = {
            {"app_tests", ::getuid(), "Dorvane is already running", 0},
            {"app_tests", ::getuid() + 1, "Dorvane is running for another user", 0},
            {"dorvane", ::getuid(), "Dorvane cannot start: its lock L is held by app_tests (process " + std::to_string(::getpid()) + "), which is not Dorvane", 1},
        };
        // clang-format on
        for (const auto& [ownProgram, ownUser, message, status] : cases) {
            const auto refused = refusedStart(second, "L", ownProgram, ownUser);
            EXPECT_EQ(refused->message, message);
            EXPECT_EQ(refused->status, status);
        }
        // A program the holder started, still running after the holder is gone.
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("30"), nullptr};
        ASSERT_EQ(posix_spawn(&tool, argv[0], nullptr, nullptr, argv, environ), 0);
    }
    EXPECT_EQ(InstanceLock(path).state(), State::Held) << "released at close, not inherited";
    ::kill(tool, SIGKILL);
    ::waitpid(tool, nullptr, 0);
    {
        // A lock file that may not be written (immutable to root) still holds a second start off.
        const testing::RefusingFolder immutable(path);
        const InstanceLock first(path);
        EXPECT_EQ(first.state(), State::Held) << first.failure();
        EXPECT_EQ(InstanceLock(path).state(), State::HeldElsewhere);
    }

    // Where no lock file can be: a file in the folder's place, a link, a folder or a FIFO at the
    // lock's name, a folder that refuses new files. Nothing starts then.
    ASSERT_TRUE(writeFileAtomically(folder.path + "/file", "in the way"));
    std::filesystem::create_symlink(folder.path + "/elsewhere", folder.path + "/planted.lock");
    std::filesystem::create_directories(folder.path + "/folder.lock");
    ASSERT_EQ(::mkfifo((folder.path + "/fifo.lock").c_str(), 0600), 0);
    std::filesystem::create_directories(folder.path + "/refusing");
    const testing::RefusingFolder refusing(folder.path + "/refusing");
    for (const char* name :
         {"/file/dorvane.lock", "/planted.lock", "/folder.lock", "/fifo.lock", "/refusing/x"}) {
        const InstanceLock lock(folder.path + name);
        EXPECT_EQ(lock.state(), State::Failed) << name;
        EXPECT_NE(lock.failure().find(folder.path), std::string::npos);
        EXPECT_EQ(refusedStart(lock, name, "", 0)->status, 1);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/elsewhere")) << "no link is followed";
}

// An instance that starts while the fail-safe check holds the lock waits for it; one that finds an
// instance holding it gives up at once, also after a check that ended holding it.
TEST(InstanceLock, AStartingInstanceWaitsOnlyForABriefHolder) {
    testing::TempFolder folder;
    const std::string path = folder.path + "/dorvane.lock";
    const InstanceLock::Claim starting{.patience = std::chrono::seconds(5)};
    for (const bool brief : {false, true, false}) {
        SCOPED_TRACE(brief ? "brief" : "for life");
        auto holder = std::make_unique<InstanceLock>(path, InstanceLock::Claim{.brief = brief});
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::seconds(1));
            holder.reset();
        });
        EXPECT_EQ(InstanceLock(path, starting).state(), brief ? State::Held : State::HeldElsewhere);
        release.join();
    }
}

}  // namespace
}  // namespace dorvane
