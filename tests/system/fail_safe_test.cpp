#include "system/fail_safe.h"

#include <gtest/gtest.h>

#include "base/atomic_file.h"
#include "base/instance_lock.h"
#include "support/fake_notebook.h"

namespace dorvane {
namespace {

using testing::runs::G;
using testing::runs::OFF;
using Outcome = FailSafeOutcome;

// The check clears only a switch we recorded, only while no instance holds the lock, and keeps the
// record until it has read the switch clear.
TEST(FailSafeCheck, ClearsOnlyARecordedSwitchNobodyWatches) {
    const TRBCommandResult refused = testing::failed(1, "sudo: a password\nis required\n");
    const TRBCommandResult ok = testing::succeeded();
    struct Case {
        const char* what;
        bool recorded, instanceRuns, setBefore;
        testing::Run failing;  // answers so; none when empty
        TRBCommandResult answer;
        Outcome want;
        bool setAfter, recordAfter;
        const char* says;
    } const cases[] = {
        {"ours", true, false, true, {}, {}, Outcome::Restored, false, false, "restored"},
        {"someone else's", false, false, true, {}, {}, Outcome::NotRecorded, true, false, "not"},
        {"instance runs", true, true, true, {}, {}, Outcome::AnotherRuns, true, true, "is running"},
        {"restored", true, false, false, {}, {}, Outcome::AlreadyNormal, false, false, "already"},
        {"refused", true, false, true, OFF, refused, Outcome::RestoreFailed, true, true,
         "password"},
        {"no change", true, false, true, OFF, ok, Outcome::RestoreFailed, true, true, "still set"},
        {"unreadable", true, false, true, G, refused, Outcome::RestoreFailed, false, true, "read"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const testing::TempFolder folder;
        const FailSafePlaces places{folder.path + "/dorvane.lock", folder.path + "/record"};
        testing::FakeCommandRunner runner;
        testing::FakeNotebook notebook(runner, ToolPaths{});
        notebook.state.privilegeInstalled = notebook.state.sleepSwitchEverSet = true;
        notebook.state.sleepDisabled = c.setBefore;
        notebook.fail(c.failing, c.answer);
        ASSERT_TRUE(!c.recorded || writeFileAtomically(places.switchRecord, "set\n"));
        const InstanceLock instance(c.instanceRuns ? places.instanceLock : folder.path + "/other");
        const FailSafeReport report =
            runFailSafeCheck(places, runner, ToolPaths{}, std::chrono::milliseconds(0));
        EXPECT_EQ(report.outcome, c.want);
        EXPECT_NE(report.line.find(c.says), std::string::npos) << report.line;
        EXPECT_EQ(report.line.find('\n'), std::string::npos) << "one line";
        EXPECT_EQ(notebook.state.sleepDisabled, c.setAfter);
        EXPECT_EQ(std::filesystem::exists(places.switchRecord), c.recordAfter);
    }
}

}  // namespace
}  // namespace dorvane
