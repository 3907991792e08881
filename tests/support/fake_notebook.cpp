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
    if (run.program == paths_.pmset && args == Args{"sleepnow"}) {
        sleepRequests += state.sleepDisabled ? 0 : 1;
        return succeeded("Sleeping now...\n");
    }
    if (run.program == paths_.pmset && args == Args{"displaysleepnow"}) {
        ++displaySleeps;
        return succeeded();
    }
    const bool asRoot = run.program == paths_.sudo && args.size() >= 2 && args[0] == "-n" &&
                        args[1] == paths_.pmset;
    if (asRoot && !state.privilegeInstalled) {
        return failed(1, "sudo: a password is required\n");
    }
    if (run.program != paths_.pmset && !asRoot) {
        return std::nullopt;
    }
    const auto answer =
        sim::answerPmset(state, asRoot ? Args(args.begin() + 2, args.end()) : args, asRoot);
    return answer ? std::optional(TRBCommandResult{answer->status, answer->output, answer->error})
                  : std::nullopt;
}

}  // namespace dorvane::testing
