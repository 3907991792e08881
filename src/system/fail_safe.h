#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "platform/command_runner.h"
#include "platform/tool_paths.h"

namespace dorvane {

// The command-line flags of the application's own executable: the guardian it starts for itself,
// and the check run once at login or by hand.
inline constexpr const char* kGuardianFlag = "--guardian";
inline constexpr const char* kFailSafeFlag = "--fail-safe";

// Where the guardian and the fail-safe check find what the application leaves: its one-instance
// lock, and the record it writes before it sets the sleep switch and removes once normal sleep is
// back.
struct FailSafePlaces {
    std::string instanceLock;
    std::string switchRecord;
};

// How long the check waits for an application that is ending to let go of its lock.
inline constexpr std::chrono::milliseconds kFailSafeLockPatience{2000};
// How long the check's own tool runs may take, each; it runs three at most.
inline constexpr std::chrono::seconds kFailSafeRunTimeout{10};
// How long an application that is starting waits for a check that holds the lock (launchd starts
// a crashed application again at the moment its guardian begins to clear the switch): longer
// than the check's runs together, so the application is not lost to a slow check.
inline constexpr std::chrono::milliseconds kStartLockPatience =
    3 * kFailSafeRunTimeout + kFailSafeLockPatience;

enum class FailSafeOutcome {
    NotRecorded,    // no record: the switch is not the application's to touch
    AnotherRuns,    // an application holds the lock and watches the switch itself
    AlreadyNormal,  // recorded, but the switch reads clear; the record is removed
    Restored,       // the switch was set and is now clear; the record is removed
    RestoreFailed,  // the switch could not be cleared; the record stays for the next check
};

struct FailSafeReport {
    FailSafeOutcome outcome = FailSafeOutcome::NotRecorded;
    // One line for a person: what was found and what was done.
    std::string line;
};

// Clears the sleep switch when the application set it and no application watches it any more:
// the lock is held for the whole check, so no application can start and set the switch while it
// is being cleared. A switch nobody recorded is never touched.
FailSafeReport runFailSafeCheck(const FailSafePlaces& places, CommandRunner& commands,
                                const ToolPaths& tools,
                                std::chrono::milliseconds lockPatience = kFailSafeLockPatience);

// Starts this executable again as the guardian, its standard input the read end of a
// close-on-exec pipe. Answers the write end, which only this process holds: when this process
// ends in any way, the guardian sees the pipe end. Absent, with errno set, when it cannot start.
std::optional<UniqueFd> startGuardian(const std::string& executablePath);

// The guardian's whole life: it ignores the termination signals, so a logout that signals the
// application and the guardian alike still leaves it to finish, sleeps in the kernel until its
// standard input ends, runs the check and answers the exit status.
int runGuardian(const FailSafePlaces& places, const ToolPaths& tools);

// The check run once from the command line: prints its one line and answers the exit status.
int runFailSafeCommand(const FailSafePlaces& places, const ToolPaths& tools);

}  // namespace dorvane
