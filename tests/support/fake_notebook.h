#pragma once

#include <map>
#include <optional>

#include "sim_state.h"
#include "support/fakes.h"

namespace dorvane::testing {

// A notebook in memory that answers the controller's tool runs as the stand-ins do, for tests
// that want a whole machine without starting processes. A failure set for a command line
// answers instead of the machine.
class FakeNotebook {
public:
    FakeNotebook(FakeCommandRunner& runner, ToolPaths paths);

    // Every run of this command line from the nth on (counting from 1) answers so.
    void fail(const Run& run, TRBCommandResult result, int fromNth = 1) {
        failures_[run] = Failure{fromNth, std::move(result)};
    }

    sim::State state;
    int sleepRequests = 0;
    int displaySleeps = 0;

private:
    std::optional<TRBCommandResult> answer(const Run& run);

    struct Failure {
        int fromNth = 1;
        TRBCommandResult result;
    };
    ToolPaths paths_;
    std::map<Run, Failure> failures_;
    std::map<Run, int> runCounts_;
};

// The command lines the app runs, with the system's tool paths.
namespace runs {
inline const ToolPaths kPaths;
inline const Run PS{kPaths.pmset, {"-g", "ps"}};
inline const Run G{kPaths.pmset, {"-g"}};
inline const Run IO{kPaths.ioreg, {"-r", "-k", "AppleClamshellState", "-d", "4"}};
inline const Run ON{kPaths.sudo, {"-n", kPaths.pmset, "-a", "disablesleep", "1"}};
inline const Run OFF{kPaths.sudo, {"-n", kPaths.pmset, "-a", "disablesleep", "0"}};
inline const Run SLEEP{kPaths.pmset, {"sleepnow"}};
inline const Run DARK{kPaths.pmset, {"displaysleepnow"}};
inline const Run SCHED{kPaths.pmset, {"-g", "sched"}};
inline const Run CANCEL{kPaths.sudo, {"-n", kPaths.pmset, "repeat", "cancel"}};
}  // namespace runs

// The controller on fakes and an in-memory notebook that has the privilege.
struct NotebookPlatform {
    TestPlatform test;
    FakeNotebook notebook{test.commands, ToolPaths{}};
    std::shared_ptr<TRBController> controller = test.makeController();

    NotebookPlatform() { notebook.state.privilegeInstalled = true; }
};

}  // namespace dorvane::testing
