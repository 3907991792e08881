#include "system/fail_safe.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "base/atomic_file.h"
#include "base/instance_lock.h"
#include "base/run_command.h"
#include "system/probe_parsers.h"
#include "system/tools.h"

namespace dorvane {
namespace {

// The signals a logout or a closed terminal sends to every process of the session.
constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The guardian's and the command's own runs, with texts of their own: no string table is loaded.
class PlainCommandRunner : public CommandRunner {
public:
    TRBCommandResult run(const std::string& executablePath,
                         const std::vector<std::string>& arguments) override {
        RunOptions options;
        options.timeout = kFailSafeRunTimeout;
        return TRBRunCommand(executablePath, arguments, options);
    }
};

// Reads the switch; absent when the listing cannot be had.
std::optional<bool> readSwitch(CommandRunner& commands, const ToolPaths& tools) {
    const TRBCommandResult result = commands.run(tools.pmset, tool_args::kSettings);
    if (result.status != 0) {
        return std::nullopt;
    }
    return parseSleepSwitch(result.output);
}

FailSafeReport report(FailSafeOutcome outcome, const std::string& what) {
    return {outcome, "Dorvane fail-safe: " + what};
}

}  // namespace

FailSafeReport runFailSafeCheck(const FailSafePlaces& places, CommandRunner& commands,
                                const ToolPaths& tools, std::chrono::milliseconds lockPatience) {
    // A lock that cannot be made at all could not be held by an application either.
    const InstanceLock lock(places.instanceLock,
                            {.brief = true, .patience = lockPatience, .waitForAny = true});
    if (lock.state() == InstanceLock::State::HeldElsewhere) {
        return report(FailSafeOutcome::AnotherRuns,
                      "Dorvane is running and watches the sleep switch; nothing changed.");
    }
    if (!readWholeFile(places.switchRecord)) {
        return report(FailSafeOutcome::NotRecorded,
                      "Dorvane has not left the sleep switch set; nothing changed.");
    }
    std::error_code ignored;
    // An unreadable switch is cleared all the same: the record says it was set by us, and
    // clearing is the safe direction.
    if (readSwitch(commands, tools) == false) {
        std::filesystem::remove(places.switchRecord, ignored);
        return report(FailSafeOutcome::AlreadyNormal,
                      "normal sleep is already on; nothing changed.");
    }
    const TRBCommandResult cleared =
        commands.run(tools.sudo, tool_args::throughSudo(tools.pmset, tool_args::kDisableSleepOff));
    const std::optional<bool> after =
        cleared.status == 0 ? readSwitch(commands, tools) : std::nullopt;
    if (after == false) {
        std::filesystem::remove(places.switchRecord, ignored);
        return report(FailSafeOutcome::Restored,
                      "Dorvane had left sleep disabled and is not running; normal sleep restored.");
    }
    std::string reason = cleared.status != 0 ? cleared.error + cleared.output
                         : after             ? "the sleep switch is still set."
                                             : "the sleep switch could not be read back.";
    // The report is one line, whatever the tool printed.
    reason.erase(reason.find_last_not_of(" \n") + 1);
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    if (reason.empty()) {
        reason = "sudo ended with status " + std::to_string(cleared.status) + ".";
    }
    return report(FailSafeOutcome::RestoreFailed, "could not restore normal sleep: " + reason);
}

std::optional<UniqueFd> startGuardian(const std::string& executablePath) {
    Pipe pipe;
    if (!makePipe(pipe)) {
        return std::nullopt;
    }
    // Standard input is the pipe, standard output goes nowhere, standard error stays the
    // application's, and nothing else is inherited: a guardian that held another descriptor could
    // keep a socket, a terminal or a lock alive for as long as it waits. The ending signals stay
    // blocked until the guardian has set them aside, so one that comes while it starts cannot end
    // it; its group of its own keeps a Ctrl+C at the terminal or a group kill of the
    // application's tools from reaching it.
    SpawnPlan plan;
    plan.standard[STDIN_FILENO] = pipe.readEnd.get();
    plan.blockedSignals.assign(std::begin(kEndingSignals), std::end(kEndingSignals));
    pid_t guardian = -1;
    const int failure = spawnProcess(executablePath, {kGuardianFlag}, plan, guardian);
    if (failure != 0) {
        errno = failure;
        return std::nullopt;
    }
    return std::move(pipe.writeEnd);
}

int runGuardian(const FailSafePlaces& places, const ToolPaths& tools) {
    sigset_t ending;
    sigemptyset(&ending);
    for (const int signalNumber : kEndingSignals) {
        ::signal(signalNumber, SIG_IGN);
        sigaddset(&ending, signalNumber);
    }
    sigprocmask(SIG_UNBLOCK, &ending, nullptr);
    // The application never writes: the read returns only when the last write end closes, which
    // the kernel does when the application ends, however it ends.
    char ignored[64];
    for (ssize_t count = 0; (count = ::read(STDIN_FILENO, ignored, sizeof ignored)) != 0;) {
        if (count < 0 && errno != EINTR) {
            break;
        }
    }
    PlainCommandRunner commands;
    const FailSafeReport result = runFailSafeCheck(places, commands, tools);
    // Its standard error is the application's log: what it did after the application ended.
    if (result.outcome == FailSafeOutcome::Restored ||
        result.outcome == FailSafeOutcome::RestoreFailed) {
        std::fprintf(stderr, "%s\n", result.line.c_str());
    }
    return 0;
}

int runFailSafeCommand(const FailSafePlaces& places, const ToolPaths& tools) {
    PlainCommandRunner commands;
    std::printf("%s\n", runFailSafeCheck(places, commands, tools).line.c_str());
    return 0;
}

}  // namespace dorvane
