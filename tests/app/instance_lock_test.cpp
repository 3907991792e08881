#include "base/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

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
        EXPECT_EQ(InstanceLock(path).state(), State::HeldElsewhere);
        // A program the holder started, still running after the holder is gone.
        char* argv[] = {const_cast<char*>("/bin/sleep"), const_cast<char*>("30"), nullptr};
        ASSERT_EQ(posix_spawn(&tool, argv[0], nullptr, nullptr, argv, environ), 0);
    }
    EXPECT_EQ(InstanceLock(path).state(), State::Held) << "released at close, not inherited";
    ::kill(tool, SIGKILL);
    ::waitpid(tool, nullptr, 0);

    // Where no lock file can be: a file in the folder's place, a link at the lock's name.
    ASSERT_TRUE(writeFileAtomically(folder.path + "/file", "in the way"));
    std::filesystem::create_symlink(folder.path + "/elsewhere", folder.path + "/planted.lock");
    for (const char* name : {"/file/dorvane.lock", "/planted.lock"}) {
        const InstanceLock lock(folder.path + name);
        EXPECT_EQ(lock.state(), State::Failed) << name;
        EXPECT_NE(lock.failure().find(folder.path), std::string::npos);
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
