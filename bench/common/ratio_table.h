// A console reporter that remembers each benchmark's time per iteration, and the closing table
// that compares ours with its peer: work, ours, peer, ratio, goal, ok/BELOW.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    // CPU time, which other load on a shared machine disturbs least; benchmarks that time
    // themselves (manual time, e.g. the CPU time of a child process) give that time instead.
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration) {
                continue;
            }
            const double perSecond = benchmark::GetTimeUnitMultiplier(run.time_unit);
            const bool manual = run.run_name.str().find("manual_time") != std::string::npos;
            const double adjusted = manual ? run.GetAdjustedRealTime() : run.GetAdjustedCPUTime();
            ms[run.run_name.function_name + ArgsOf(run.run_name.args)] = adjusted / perSecond * 1e3;
        }
    }

    std::map<std::string, double> ms;

private:
    static std::string ArgsOf(const std::string &args) { return args.empty() ? "" : "/" + args; }
};

enum class Goal {
    SpeedAtLeast, // ratio = peer time / our time, which must reach the goal
    TimeAtMost,   // ratio = our time / peer time, which must stay within the goal
};

struct Row {
    const char *work;
    std::string ours;
    std::string peer;
    Goal kind;
    double goal;
};

inline void PrintTable(const RatioReporter &reporter, const std::vector<Row> &rows) {
    std::printf("\n%-34s %12s %12s %8s %10s %s\n", "work", "ours ms", "peer ms", "ratio", "goal",
                "");
    for (const Row &row : rows) {
        const auto ours = reporter.ms.find(row.ours);
        const auto peer = reporter.ms.find(row.peer);
        if (ours == reporter.ms.end() || peer == reporter.ms.end() || ours->second <= 0 ||
            peer->second <= 0) {
            continue;
        }
        const bool speed = row.kind == Goal::SpeedAtLeast;
        const double ratio = speed ? peer->second / ours->second : ours->second / peer->second;
        const bool ok = speed ? ratio >= row.goal : ratio <= row.goal;
        std::printf("%-34s %12.3f %12.3f %7.2fx %s%6.2fx %s\n", row.work, ours->second,
                    peer->second, ratio, speed ? ">=" : "<=", row.goal, ok ? "ok" : "BELOW");
    }
}

} // namespace bench
