// The command runner against the least a caller could do: spawn and wait, and read the pipes.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <string>

#include "system/command_runner.h"
#include "base/unique_fd.h"

extern char** environ;

namespace {

const std::string kBlast = DORVANE_BLAST;
constexpr std::size_t k64MiB = 64u * 1024 * 1024;

void BM_RunCommand_SmallProgram(benchmark::State& state) {
    for (auto _ : state) {
        const auto result = dorvane::TRBRunCommand(kBlast, {"0"});
        benchmark::DoNotOptimize(result.status);
    }
}

void BM_BareSpawnAndWait_SmallProgram(benchmark::State& state) {
    char* argv[] = {const_cast<char*>(kBlast.c_str()), const_cast<char*>("0"), nullptr};
    for (auto _ : state) {
        pid_t child = -1;
        posix_spawn(&child, kBlast.c_str(), nullptr, nullptr, argv, environ);
        int status = 0;
        waitpid(child, &status, 0);
        benchmark::DoNotOptimize(status);
    }
}

void BM_RunCommand_64MiBEachStream(benchmark::State& state) {
    const std::string size = std::to_string(k64MiB);
    for (auto _ : state) {
        const auto result = dorvane::TRBRunCommand(kBlast, {size});
        benchmark::DoNotOptimize(result.output.size() + result.error.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * k64MiB));
}

// Spawns the same child with both pipes and reads them directly: into one reused buffer when
// keep is false (the pipe's own speed), or appended to a string per stream when keep is true (the
// least a caller that keeps the output can do).
template <bool keep>
void BM_DirectPipeRead_64MiBEachStream(benchmark::State& state) {
    const std::string size = std::to_string(k64MiB);
    char* argv[] = {const_cast<char*>(kBlast.c_str()), const_cast<char*>(size.c_str()), nullptr};
    std::array<char, 64 * 1024> buffer;
    for (auto _ : state) {
        dorvane::Pipe out;
        dorvane::Pipe err;
        dorvane::makePipe(out);
        dorvane::makePipe(err);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out.writeEnd.get(), 1);
        posix_spawn_file_actions_adddup2(&actions, err.writeEnd.get(), 2);
        pid_t child = -1;
        posix_spawn(&child, kBlast.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        out.writeEnd.reset();
        err.writeEnd.reset();
        std::array<std::string, 2> kept;
        std::size_t total = 0;
        std::array<pollfd, 2> fds{{{out.readEnd.get(), POLLIN, 0}, {err.readEnd.get(), POLLIN, 0}}};
        while (fds[0].fd >= 0 || fds[1].fd >= 0) {
            poll(fds.data(), fds.size(), -1);
            for (std::size_t i = 0; i < fds.size(); ++i) {
                if (fds[i].fd >= 0 && fds[i].revents != 0) {
                    const ssize_t count = read(fds[i].fd, buffer.data(), buffer.size());
                    if (count <= 0) {
                        fds[i].fd = -1;
                    } else if (keep) {
                        kept[i].append(buffer.data(), static_cast<std::size_t>(count));
                    } else {
                        total += static_cast<std::size_t>(count);
                    }
                }
            }
        }
        int status = 0;
        waitpid(child, &status, 0);
        benchmark::DoNotOptimize(total + kept[0].size() + kept[1].size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * 2 * k64MiB));
}

BENCHMARK(BM_RunCommand_SmallProgram)
    ->UseRealTime()
    ->MinTime(2.0)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_BareSpawnAndWait_SmallProgram)
    ->UseRealTime()
    ->MinTime(2.0)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_RunCommand_64MiBEachStream)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_DirectPipeRead_64MiBEachStream, true)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_TEMPLATE(BM_DirectPipeRead_64MiBEachStream, false)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
