#include "support/fake_notebook.h"

namespace dorvane::testing {

using Args = std::vector<std::string>;

FakeNotebook::FakeNotebook(FakeCommandRunner& runner, ToolPaths paths) : paths_(std::move(paths)) {
    runner.handler = [this](const Run& run) { return answer(run); };
}

std::optional<TRBCommandResult> FakeNotebook::answer(const Run& run) {
    const int nth = ++runCounts_[run];
    if (const auto failure = failures_.find(run);
        failure != failures_.end() && nth >= failure->second.fromNth) {
        return failure->second.result;
    }
    const Args& args = run.arguments;
    if (run.program == paths_.ioreg) {
        return succeeded(sim::renderClamshellListing(state));
    }
    if (run.program == paths_.pmset) {
        if (args == Args{"-g", "ps"})
            return succeeded(sim::renderPowerSourceListing(state));
        if (args == Args{"-g"})
            return succeeded(sim::renderSettingsListing(state));
        if (args == Args{"-g", "sched"})
            return succeeded(sim::renderScheduleListing(state));
        if (args == Args{"sleepnow"}) {
            if (!state.sleepDisabled) {
                ++sleepRequests;
            }
            return succeeded("Sleeping now...\n");
        }
        if (args == Args{"displaysleepnow"}) {
            ++displaySleeps;
            return succeeded();
        }
        return failed(1, "pmset: Must be run as root to modify settings\n");
    }
    if (run.program == paths_.sudo && args.size() >= 2 && args[0] == "-n" &&
        args[1] == paths_.pmset) {
        if (!state.privilegeInstalled) {
            return failed(1, "sudo: a password is required\n");
        }
        return asRoot(Args(args.begin() + 2, args.end()));
    }
    return std::nullopt;
}

TRBCommandResult FakeNotebook::asRoot(const Args& args) {
    if (args.size() == 3 && args[0] == "-a" && args[1] == "disablesleep") {
        state.sleepDisabled = args[2] == "1";
        state.sleepSwitchEverSet = true;
        return succeeded();
    }
    if (args == Args{"repeat", "cancel"}) {
        state.wakeSlot.reset();
        state.offSlot.reset();
        return succeeded();
    }
    if (!args.empty() && args[0] == "repeat") {
        const auto events = sim::parseRepeatEvents(Args(args.begin() + 1, args.end()));
        if (!events) {
            return failed(1, "Error: badly formatted repeating power event\n");
        }
        for (const auto& event : *events) {
            sim::applyRepeatEvent(state, event);
        }
        return succeeded();
    }
    return failed(1, "sudo: a password is required\n");
}

}  // namespace dorvane::testing
