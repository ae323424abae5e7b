// Runs three programs in the script engine and, as the peer, in Lua 5.4: a loop summing
// 1..1000000, string building with concatenation in a loop, and recursive Fibonacci(25). Each
// program is compiled once; an iteration is one call. Prints the engine/Lua CPU time ratios.
#include "vbscript/interp.h"

#include <benchmark/benchmark.h>
#include <lua.hpp>

#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using kestrun::vbscript::Interp;
using kestrun::vbscript::Value;

constexpr const char16_t *kScript = uR"vb(
Function SumLoop()
    Dim s, i
    s = 0
    For i = 1 To 1000000
        s = s + i
    Next
    SumLoop = s
End Function

Function Build()
    Dim s, i
    s = ""
    For i = 1 To 20000
        s = s & i & ","
    Next
    Build = Len(s)
End Function

Function Fib(n)
    If n < 2 Then
        Fib = n
    Else
        Fib = Fib(n - 1) + Fib(n - 2)
    End If
End Function
)vb";

constexpr const char *kLua = R"lua(
function SumLoop()
    local s = 0
    for i = 1, 1000000 do
        s = s + i
    end
    return s
end

function Build()
    local s = ""
    for i = 1, 20000 do
        s = s .. i .. ","
    end
    return #s
end

function Fib(n)
    if n < 2 then
        return n
    else
        return Fib(n - 1) + Fib(n - 2)
    end
end
)lua";

struct LuaClose {
    void operator()(lua_State *L) const { lua_close(L); }
};

void RunVbs(benchmark::State &state, const char16_t *name, std::vector<Value> args) {
    Interp in;
    in.addCode(kScript);
    for (auto _ : state) {
        Value r = in.run(name, args);
        benchmark::DoNotOptimize(r);
    }
}

void RunLua(benchmark::State &state, const char *name, int arg, bool hasArg) {
    std::unique_ptr<lua_State, LuaClose> L(luaL_newstate());
    luaL_openlibs(L.get());
    if (luaL_dostring(L.get(), kLua) != LUA_OK)
        throw std::runtime_error(lua_tostring(L.get(), -1));
    for (auto _ : state) {
        lua_getglobal(L.get(), name);
        if (hasArg)
            lua_pushinteger(L.get(), arg);
        if (lua_pcall(L.get(), hasArg ? 1 : 0, 1, 0) != LUA_OK)
            throw std::runtime_error(lua_tostring(L.get(), -1));
        benchmark::DoNotOptimize(lua_tonumber(L.get(), -1));
        lua_pop(L.get(), 1);
    }
}

void BM_Vbs_SumLoop(benchmark::State &s) {
    RunVbs(s, u"SumLoop", {});
}
void BM_Lua_SumLoop(benchmark::State &s) {
    RunLua(s, "SumLoop", 0, false);
}
void BM_Vbs_StringBuild(benchmark::State &s) {
    RunVbs(s, u"Build", {});
}
void BM_Lua_StringBuild(benchmark::State &s) {
    RunLua(s, "Build", 0, false);
}
void BM_Vbs_Fib25(benchmark::State &s) {
    RunVbs(s, u"Fib", {Value::lng(25)});
}
void BM_Lua_Fib25(benchmark::State &s) {
    RunLua(s, "Fib", 25, true);
}

BENCHMARK(BM_Vbs_SumLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lua_SumLoop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vbs_StringBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lua_StringBuild)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Vbs_Fib25)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lua_Fib25)->Unit(benchmark::kMillisecond);

// Console output as usual, plus the CPU time per iteration of each run for the ratio lines
// (CPU time: steadier than wall time on a shared machine).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char *name : {"SumLoop", "StringBuild", "Fib25"}) {
        auto vbs = reporter.times.find(std::string("BM_Vbs_") + name);
        auto lua = reporter.times.find(std::string("BM_Lua_") + name);
        if (vbs != reporter.times.end() && lua != reporter.times.end() && lua->second > 0)
            std::printf("%-12s engine/Lua CPU time ratio: %.2f (goal: at most 5)\n", name,
                        vbs->second / lua->second);
    }
    benchmark::Shutdown();
    return 0;
}
