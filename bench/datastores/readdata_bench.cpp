// SQLite_ReadData over 100 000 rows x 4 columns against the sqlite3 shell printing the same query
// as CSV, in the same run. Two tables: ASCII texts only, and one column of Chinese texts (which
// SQLite_ReadData converts to GBK).
#include "test_files.h"
#include "vbhost.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <sys/resource.h>
#include <time.h>

namespace {

constexpr int kRows = 100000;

// CPU seconds of this process, and of the finished child processes.
double OwnCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
double ChildCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval &v) {
        return static_cast<double>(v.tv_sec) + static_cast<double>(v.tv_usec) * 1e-6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}
// CPU time per iteration as a counter, so that a busy machine does not blur the comparison.
void SetCpuCounter(benchmark::State &state, double seconds) {
    state.counters["cpu_ms"] = benchmark::Counter(
        seconds * 1e3 /
        static_cast<double>(std::max<int64_t>(1, static_cast<int64_t>(state.iterations()))));
}

std::string Query(const std::string &table) {
    return "select id, price, name, note from " + table;
}

void ReadData(benchmark::State &state, const std::string &database, const std::string &table) {
    intptr_t handle = 0;
    vbhost::String file(database);
    vbhost::String message;
    if (SQLite_Open(&handle, file.ref(), message.ref()) != 1) {
        state.SkipWithError("cannot open the database");
        return;
    }
    vbhost::String sql(Query(table));
    const double cpuStart = OwnCpuSeconds();
    for (auto _ : state) {
        vbhost::Array result; // destroyed every round, as the caller's array would be
        if (SQLite_ReadData(&handle, sql.ref(), result.ref(), message.ref()) != 1 ||
            result.count(0) != kRows + 1) {
            state.SkipWithError("SQLite_ReadData failed");
            break;
        }
        benchmark::DoNotOptimize(result.get());
    }
    SetCpuCounter(state, OwnCpuSeconds() - cpuStart);
    SQLite_Close(&handle);
}

void Shell(benchmark::State &state, const std::string &database, const std::string &table) {
    const std::string command = "sqlite3 -csv '" + database + "' '" + Query(table) + "'";
    std::string output;
    const double cpuStart = OwnCpuSeconds() + ChildCpuSeconds();
    for (auto _ : state) {
        output.clear();
        std::unique_ptr<FILE, int (*)(FILE *)> pipe(::popen(command.c_str(), "r"), ::pclose);
        if (!pipe) {
            state.SkipWithError("cannot run sqlite3");
            break;
        }
        char chunk[65536];
        size_t n = 0;
        while ((n = std::fread(chunk, 1, sizeof chunk, pipe.get())) > 0) {
            output.append(chunk, n);
        }
        if (::pclose(pipe.release()) != 0 || output.empty()) {
            state.SkipWithError("sqlite3 failed (is the sqlite3 package installed?)");
            break;
        }
    }
    // The shell's own CPU time plus the reading of its output here.
    SetCpuCounter(state, OwnCpuSeconds() + ChildCpuSeconds() - cpuStart);
}

bool MakeDatabase(const std::string &database) {
    intptr_t handle = 0;
    vbhost::String file(database);
    vbhost::String message;
    const std::string rows = "with recursive n(i) as (select 1 union all select i + 1 from n "
                             "where i < " +
                             std::to_string(kRows) + ") ";
    vbhost::String sql(
        "create table ascii(id integer, price real, name text, note text);"
        "create table chinese(id integer, price real, name text, note text);" +
        rows +
        "insert into ascii select i, i * 1.25, 'customer ' || i, 'note for row ' || i "
        "from n;" +
        rows + "insert into chinese select i, i * 1.25, 'customer ' || i, " +
        vbhost::Gbk("'备注：第 ' || i || ' 行'") + " from n;");
    const bool ok = SQLite_Open(&handle, file.ref(), message.ref()) == 1 &&
                    SQLite_Execute(&handle, sql.ref(), message.ref()) == 1;
    SQLite_Close(&handle);
    return ok;
}

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        // The median of repetitions when there are several, else the single run.
        for (const Run &run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.error_occurred || (run.run_type == Run::RT_Aggregate && !median)) {
                continue;
            }
            const double toMs = 1e3 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            const std::string name = run.run_name.function_name;
            if (median || milliseconds.count(name) == 0 || runs.size() == 1) {
                milliseconds[name] = run.GetAdjustedRealTime() * toMs;
                const auto cpu = run.counters.find("cpu_ms");
                if (cpu != run.counters.end()) {
                    cpuMilliseconds[name] = cpu->second.value;
                }
            }
        }
    }
    std::map<std::string, double> milliseconds;
    std::map<std::string, double> cpuMilliseconds;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    const testfiles::TempFolder folder;
    const std::string database = folder / "bench.db";
    if (!MakeDatabase(database)) {
        std::fprintf(stderr, "cannot build the benchmark database\n");
        return 1;
    }
    for (const std::string table : {"ascii", "chinese"}) {
        benchmark::RegisterBenchmark(("ReadData/" + table).c_str(), ReadData, database, table)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("Shell/" + table).c_str(), Shell, database, table)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-8s %12s %12s %7s %12s %12s %7s  (goal: ratio <= 1.5)\n", "table",
                "ReadData ms", "sqlite3 ms", "ratio", "ReadData cpu", "sqlite3 cpu", "ratio");
    for (const char *table : {"ascii", "chinese"}) {
        const std::string ours = std::string("ReadData/") + table;
        const std::string peer = std::string("Shell/") + table;
        if (reporter.milliseconds.count(ours) == 0 || reporter.milliseconds.count(peer) == 0) {
            continue;
        }
        const double wall = reporter.milliseconds[ours] / reporter.milliseconds[peer];
        const double cpu = reporter.cpuMilliseconds[ours] / reporter.cpuMilliseconds[peer];
        std::printf("%-8s %12.1f %12.1f %7.2f %12.1f %12.1f %7.2f  %s\n", table,
                    reporter.milliseconds[ours], reporter.milliseconds[peer], wall,
                    reporter.cpuMilliseconds[ours], reporter.cpuMilliseconds[peer], cpu,
                    wall <= 1.5 && cpu <= 1.5 ? "ok" : "OVER");
    }
    return 0;
}
