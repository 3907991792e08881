#include "base/instance_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>

#include "base/atomic_file.h"
#include "support/fakes.h"

extern char** environ;

namespace dorvane {
namespace {

using State = InstanceLock::State;

TEST(InstanceLock, OneHolderAtATimeAndFreeOnceItEndsOrDies) {
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

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        const InstanceLock held(path);
        const char state = held.state() == State::Held ? 'y' : 'n';
        (void)!::write(ready[1], &state, 1);
        ::pause();
        ::_exit(0);
    }
    char state = 0;
    ASSERT_EQ(::read(ready[0], &state, 1), 1);
    ASSERT_EQ(state, 'y');
    EXPECT_EQ(InstanceLock(path).state(), State::HeldElsewhere);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_EQ(InstanceLock(path).state(), State::Held) << "released at the holder's death";
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(InstanceLock, FailsWithAReasonWhereNoLockFileCanBe) {
    testing::TempFolder folder;
    ASSERT_TRUE(writeFileAtomically(folder.path + "/file", "in the way"));
    std::filesystem::create_symlink(folder.path + "/elsewhere", folder.path + "/planted.lock");
    for (const char* name : {"/file/dorvane.lock", "/planted.lock"}) {
        SCOPED_TRACE(name);
        const InstanceLock lock(folder.path + name);
        EXPECT_EQ(lock.state(), State::Failed);
        EXPECT_NE(lock.failure().find(folder.path), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(folder.path + "/elsewhere")) << "no link is followed";
}

}  // namespace
}  // namespace dorvane
