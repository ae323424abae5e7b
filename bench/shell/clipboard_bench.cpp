// Win_CopyFileToClipBoard as a host calls it, against xclip putting the same URI list on the
// clipboard, on a private Xvfb. Both start a process that stays to serve the selection, so real
// (wall-clock) time is compared, as the median of five runs; the ratio is printed at the end.
#include "desktop_session.h"
#include "kestrun.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

const char kPath[] = "/tmp/kestrun-bench/report.txt";
const char kUriList[] = "file:///tmp/kestrun-bench/report.txt\r\n";

void BM_CopyFileToClipBoard(benchmark::State &state) {
    for (auto _ : state) {
        if (Win_CopyFileToClipBoard(kPath) != 1) {
            state.SkipWithError("the clipboard was not taken");
            break;
        }
    }
}
BENCHMARK(BM_CopyFileToClipBoard)
    ->Iterations(50)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

// xclip with the URI list on its standard input, waited for until it has taken the selection
// (its serving child goes on alone).
bool RunXclip(const std::string &xclip) {
    int input[2];
    if (::pipe2(input, O_CLOEXEC) != 0) {
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {xclip.c_str(),   "-selection", "clipboard", "-t",
                          "text/uri-list", "-i",         nullptr};
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, xclip.c_str(), &actions, nullptr,
                                    const_cast<char *const *>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    if (spawned == 0) {
        [[maybe_unused]] const auto written = ::write(input[1], kUriList, sizeof kUriList - 1);
    }
    ::close(input[1]);
    int status = 0;
    return spawned == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
}

void BM_XclipPeer(benchmark::State &state) {
    const auto xclip = desktop_test::FindProgram("xclip");
    for (auto _ : state) {
        if (!xclip || !RunXclip(*xclip)) {
            state.SkipWithError("xclip failed");
            break;
        }
    }
}
BENCHMARK(BM_XclipPeer)
    ->Iterations(50)
    ->Repetitions(5)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

class RealTimeReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (!run.error_occurred && run.run_type == Run::RT_Aggregate &&
                run.aggregate_name == "median") {
                const double perSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
                realMs[run.benchmark_name()] = run.GetAdjustedRealTime() / perSecond * 1e3;
            }
        }
    }
    std::map<std::string, double> realMs;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    std::string whyNot;
    const auto session = desktop_test::Session::Start({"xclip"}, whyNot);
    if (!session) {
        std::printf("skipped: %s\n", whyNot.c_str());
        return 0;
    }
    RealTimeReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const auto ours =
        reporter.realMs.find("BM_CopyFileToClipBoard/iterations:50/repeats:5/real_time_median");
    const auto peer = reporter.realMs.find("BM_XclipPeer/iterations:50/repeats:5/real_time_median");
    if (ours != reporter.realMs.end() && peer != reporter.realMs.end() && ours->second > 0) {
        std::printf(
            "\nWin_CopyFileToClipBoard %7.2f ms  xclip %7.2f ms (real, median of 5)  ratio %.2fx\n",
            ours->second, peer->second, peer->second / ours->second);
    }
    return 0;
}
