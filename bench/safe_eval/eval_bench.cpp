// Cost per executed instruction of the evaluator, beside the cost of one monotonic clock read
// measured in the same run (the machine reads the clock before every instruction). Goal: at most
// 1.5 times the clock read per instruction.
#include "assembler.h"
#include "exports.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr double kInstructions = 100000;

std::vector<std::uint8_t> assemble_or_die(const std::string &source) {
    auto result = safe_eval_asm::assemble(source);
    if (auto *program = std::get_if<std::vector<std::uint8_t>>(&result)) {
        return *program;
    }
    std::fprintf(stderr, "bad benchmark program\n");
    std::exit(1);
}

std::vector<std::uint8_t> build(const std::string &head, const std::string &unit, int count) {
    std::string source = head;
    for (int i = 0; i < count; ++i) {
        source += unit;
    }
    return assemble_or_die(source);
}

// PUSH_BOOL then 99999 NOTs.
const std::vector<std::uint8_t> &not_program() {
    static const auto program = build("PUSH_BOOL true\n", "NOT\n", 99999);
    return program;
}

// Two PUSH_INTs then 49999 PUSH_INT/ADD pairs.
const std::vector<std::uint8_t> &add_program() {
    static const auto program = build("PUSH_INT 1\nPUSH_INT 2\n", "PUSH_INT 3\nADD\n", 49999);
    return program;
}

// Two PUSH_STRs then 49999 PUSH_STR/ADD pairs: a 100000-byte string.
const std::vector<std::uint8_t> &concat_program() {
    static const auto program =
        build("PUSH_STR \"ab\"\nPUSH_STR \"cd\"\n", "PUSH_STR \"ef\"\nADD\n", 49999);
    return program;
}

void run_program(benchmark::State &state, const std::vector<std::uint8_t> &program) {
    for (auto _ : state) {
        char *text = eval(program.data(), program.size(), 60000);
        if (text == nullptr || std::strncmp(text, R"({"ok":true)", 10) != 0) {
            state.SkipWithError("the program did not succeed");
            free_result(text);
            break;
        }
        benchmark::DoNotOptimize(text);
        free_result(text);
    }
    state.counters["per_instr"] = benchmark::Counter(
        kInstructions, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_ClockRead(benchmark::State &state) {
    timespec ts{};
    for (auto _ : state) {
        clock_gettime(CLOCK_MONOTONIC, &ts);
        benchmark::DoNotOptimize(ts);
    }
}
BENCHMARK(BM_ClockRead);

void BM_Not100k(benchmark::State &state) {
    run_program(state, not_program());
}
BENCHMARK(BM_Not100k)->Unit(benchmark::kMicrosecond);

void BM_PushIntAdd100k(benchmark::State &state) {
    run_program(state, add_program());
}
BENCHMARK(BM_PushIntAdd100k)->Unit(benchmark::kMicrosecond);

void BM_StrConcat100k(benchmark::State &state) {
    run_program(state, concat_program());
}
BENCHMARK(BM_StrConcat100k)->Unit(benchmark::kMicrosecond);

// Keeps the console output and remembers, per benchmark, CPU nanoseconds per iteration and per
// executed instruction (CPU time on both sides, so other load on the machine skews neither).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            if (run.error_occurred ||
                (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median")) {
                continue;
            }
            const std::string name = run.run_name.function_name;
            const double to_ns = 1e9 / benchmark::GetTimeUnitMultiplier(run.time_unit);
            per_iteration_ns[name] = run.GetAdjustedCPUTime() * to_ns;
            const auto counter = run.counters.find("per_instr");
            if (counter != run.counters.end()) {
                per_instruction_ns[name] = counter->second.value * 1e9;
            }
        }
    }

    std::map<std::string, double> per_iteration_ns;
    std::map<std::string, double> per_instruction_ns;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const auto clock = reporter.per_iteration_ns.find("BM_ClockRead");
    if (clock == reporter.per_iteration_ns.end()) {
        return 0;
    }
    std::printf("\nmonotonic clock read: %.2f ns\n", clock->second);
    std::printf("%-20s %12s %10s %s\n", "program", "ns/instr", "x clock", "(goal <= 1.5)");
    for (const auto &[name, ns] : reporter.per_instruction_ns) {
        std::printf("%-20s %12.2f %10.2f %s\n", name.c_str(), ns, ns / clock->second,
                    ns / clock->second <= 1.5 ? "ok" : "OVER");
    }
    return 0;
}
