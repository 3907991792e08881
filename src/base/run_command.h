#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/command_result.h"

namespace dorvane {

struct RunOptions {
    // The error text when the launch fails without a description of its own. Texts are asked for
    // only when a failure needs them.
    std::function<std::string()> launchFailedText = [] {
        return std::string("The command could not be started.");
    };
    // The error text when the child had to be stopped. It names neither the program nor anything
    // a caller could take for a missing privilege.
    std::function<std::string()> timedOutText = [] {
        return std::string("The command did not finish in time and was stopped.");
    };
    // How long a child, with everything it started, may run before it is killed.
    std::chrono::milliseconds timeout{60'000};
    // While this descriptor is readable the run is abandoned: a child that runs is killed as at
    // the time-out, and none is started. It is only polled, never read. Negative: none.
    int abandonFd = -1;
    // Sends a signal to the child's process group. The kill may be refused: sudo makes itself
    // root so that the user who started it cannot kill it.
    std::function<int(pid_t group, int signal)> signalGroup = [](pid_t group, int signal) {
        return ::kill(-group, signal);
    };
};

// Where a child's standard input, output and error come from, and which signals stay blocked for
// it (so that it can set them aside before one arrives). Nothing else is inherited, and the child
// starts in a process group of its own with every signal at its default handling.
struct SpawnPlan {
    static constexpr int kNullDevice = -1;
    static constexpr int kInherited = -2;
    int standard[3] = {kNullDevice, kNullDevice, kInherited};
    std::vector<int> blockedSignals;
};

// Starts the program at this path with these arguments (argv[0] is the path) and the
// environment as it is; 0 and the child's process id, or the error number.
int spawnProcess(const std::string& executablePath, const std::vector<std::string>& arguments,
                 const SpawnPlan& plan, pid_t& child);

// The exit status reported for a child that had to be killed: as a shell reports SIGKILL.
inline constexpr int kTimedOutStatus = 128 + 9;
// The status of a run whose exit status could not be had: a failure, since nothing says it
// succeeded.
inline constexpr int kLostStatus = 1;

// Runs the program at an absolute path with these arguments (no shell, no search path), reads
// its standard output and error to their ends, then takes its exit status. A child ended by a
// signal reports 128 + the signal. The child runs in a process group of its own, which is killed
// when the time-out passes or the run is abandoned; both report kTimedOutStatus. A killed child
// is waited for a second at most: one that outlives it (its kill was refused) is left to end by
// itself and is reaped then. A run without any time left does not start.
TRBCommandResult TRBRunCommand(const std::string& executablePath,
                               const std::vector<std::string>& arguments,
                               const RunOptions& options = {});

}  // namespace dorvane
