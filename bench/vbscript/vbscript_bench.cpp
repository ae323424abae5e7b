// Runs seven programs in the script engine and, as the peer, in Lua 5.4 embedded in the same
// process: an integer For loop, recursion, an array sieve, string building and a character loop,
// a dictionary, method calls on a class instance and floating-point math. Each program checks its
// own result. Each program runs three ways: through the RunVBFunction export as a host calls it
// (script and name in BSTRs, arguments in a SAFEARRAY, result in a VARIANT: the script is loaded
// and compiled on every call), through the engine with the program already compiled, and in Lua.
// Prints the export/Lua and engine/Lua CPU time ratios of every program, their geometric means,
// and whether the export meets the goal (at most 2 per program, at most 1.5 for the mean).
#include "kestrun.h"
#include "vbscript/interp.h"
#include "vbscript/ops.h"

#include "../common/bstr_variable.h"

#include <benchmark/benchmark.h>
#include <lua.hpp>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using kestrun::vbscript::Interp;
using kestrun::vbscript::Value;

constexpr const char16_t *kScript = uR"vb(
Function Loops()
    Dim s, i
    s = 0
    For i = 1 To 3000000
        s = s + i
    Next
    Loops = s
End Function

Function Fib(n)
    If n < 2 Then
        Fib = n
    Else
        Fib = Fib(n - 1) + Fib(n - 2)
    End If
End Function

Function Sieve()
    Dim n, flags(), i, j, count
    n = 1000000
    ReDim flags(n)
    For i = 2 To n
        flags(i) = True
    Next
    count = 0
    For i = 2 To n
        If flags(i) Then
            count = count + 1
            For j = i + i To n Step i
                flags(j) = False
            Next
        End If
    Next
    Sieve = count
End Function

Function Strings()
    Dim t, i, n
    t = ""
    For i = 1 To 30000
        t = t & i & ","
    Next
    n = 0
    For i = 1 To Len(t)
        If Mid(t, i, 1) = "," Then n = n + 1
    Next
    Strings = n * 1000000 + Len(t)
End Function

Function Dicts()
    Dim d, i, s
    Set d = CreateObject("Scripting.Dictionary")
    For i = 1 To 100000
        d.Add "k" & i, i
    Next
    s = 0
    For i = 1 To 100000
        s = s + d.Item("k" & i)
    Next
    Dicts = s + d.Count
End Function

Class Counter
    Private total
    Private Sub Class_Initialize()
        total = 0
    End Sub
    Public Sub Add(x)
        total = total + x
    End Sub
    Public Property Get Value()
        Value = total
    End Property
End Class

Function Methods()
    Dim c, i
    Set c = New Counter
    For i = 1 To 1000000
        c.Add i
    Next
    Methods = c.Value
End Function

Function FloatMath()
    Dim x, i, s
    s = 0.0
    For i = 1 To 1000000
        x = i * 0.5
        s = s + Sqr(x) * 1.5 - x / 3.0
    Next
    FloatMath = s
End Function
)vb";

constexpr const char *kLua = R"lua(
function Loops()
    local s = 0
    for i = 1, 3000000 do
        s = s + i
    end
    return s
end

function Fib(n)
    if n < 2 then
        return n
    else
        return Fib(n - 1) + Fib(n - 2)
    end
end

function Sieve()
    local n = 1000000
    local flags = {}
    for i = 2, n do
        flags[i] = true
    end
    local count = 0
    for i = 2, n do
        if flags[i] then
            count = count + 1
            for j = i + i, n, i do
                flags[j] = false
            end
        end
    end
    return count
end

function Strings()
    local parts = {}
    for i = 1, 30000 do
        parts[#parts + 1] = i .. ","
    end
    local t = table.concat(parts)
    local n = 0
    for i = 1, #t do
        if string.sub(t, i, i) == "," then n = n + 1 end
    end
    return n * 1000000 + #t
end

function Dicts()
    local d = {}
    local count = 0
    for i = 1, 100000 do
        d["k" .. i] = i
        count = count + 1
    end
    local s = 0
    for i = 1, 100000 do
        s = s + d["k" .. i]
    end
    return s + count
end

local Counter = {}
Counter.__index = Counter
function Counter.new()
    return setmetatable({total = 0}, Counter)
end
function Counter:add(x)
    self.total = self.total + x
end
function Counter:value()
    return self.total
end

function Methods()
    local c = Counter.new()
    for i = 1, 1000000 do
        c:add(i)
    end
    return c:value()
end

function FloatMath()
    local s = 0.0
    for i = 1, 1000000 do
        local x = i * 0.5
        s = s + math.sqrt(x) * 1.5 - x / 3.0
    end
    return s
end
)lua";

struct Program {
    const char *name;  // the benchmark's name
    const char *entry; // the function both languages define
    int arg;           // its argument, or -1 for none
};

constexpr Program kPrograms[] = {
    {"Loops", "Loops", -1},         {"Recursion", "Fib", 27},      {"Arrays", "Sieve", -1},
    {"Strings", "Strings", -1},     {"Dictionaries", "Dicts", -1}, {"ClassMethods", "Methods", -1},
    {"FloatMath", "FloatMath", -1},
};

// The result each program must give.
double expected(const std::string &entry) {
    if (entry == "Loops")
        return 3000000.0 * 3000001.0 / 2;
    if (entry == "Fib")
        return 196418;
    if (entry == "Sieve")
        return 78498;
    if (entry == "Strings") {
        double len = 0;
        for (int i = 1; i <= 30000; ++i)
            len += static_cast<double>(std::to_string(i).size() + 1);
        return 30000.0 * 1000000 + len;
    }
    if (entry == "Dicts")
        return 100000.0 * 100001.0 / 2 + 100000;
    if (entry == "Methods")
        return 1000000.0 * 1000001.0 / 2;
    double s = 0.0;
    for (int i = 1; i <= 1000000; ++i) {
        double x = i * 0.5;
        s = s + std::sqrt(x) * 1.5 - x / 3.0;
    }
    return s;
}

bool matches(double got, double want) {
    return std::fabs(got - want) <= 1e-9 * std::fabs(want);
}

struct LuaClose {
    void operator()(lua_State *L) const { lua_close(L); }
};

std::u16string widen(const char *s) {
    std::u16string r;
    for (; *s; ++s)
        r.push_back(static_cast<char16_t>(*s));
    return r;
}

void RunVbs(benchmark::State &state, const Program &p) {
    Interp in;
    in.addCode(kScript);
    std::u16string entry = widen(p.entry);
    std::vector<Value> args;
    if (p.arg >= 0)
        args.push_back(Value::lng(p.arg));
    double want = expected(p.entry);
    for (auto _ : state) {
        Value r = in.run(entry, args);
        double got = kestrun::vbscript::toDouble(in, r);
        if (!matches(got, want)) {
            state.SkipWithError("wrong result");
            break;
        }
    }
}

std::string narrow(const char16_t *s) {
    std::string r;
    for (; *s; ++s)
        r.push_back(static_cast<char>(*s)); // the script is ASCII
    return r;
}

// RunVBFunction as a Visual Basic host calls it.
void RunExport(benchmark::State &state, const Program &p) {
    bench::BstrVariable script(narrow(kScript));
    bench::BstrVariable name(p.entry);
    bench::BstrVariable error("");
    SAFEARRAYBOUND bound{p.arg >= 0 ? 1u : 0u, 0};
    SAFEARRAY *arguments = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (p.arg >= 0) {
        LONG index = 0;
        VARIANT argument;
        VariantInit(&argument);
        argument.vt = VT_I4;
        argument.lVal = p.arg;
        SafeArrayPutElement(arguments, &index, &argument);
    }
    const double want = expected(p.entry);
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        const int32_t ok =
            RunVBFunction(&script.value, &name.value, &arguments, &result, &error.value);
        VARIANT asDouble;
        VariantInit(&asDouble);
        const bool converted = ok == 1 && VariantChangeType(&asDouble, &result, 0, VT_R8) == S_OK;
        VariantClear(&result);
        if (!converted || !matches(asDouble.dblVal, want)) {
            state.SkipWithError("wrong result");
            break;
        }
    }
    SafeArrayDestroy(arguments);
}

void RunLua(benchmark::State &state, const Program &p) {
    std::unique_ptr<lua_State, LuaClose> L(luaL_newstate());
    luaL_openlibs(L.get());
    if (luaL_dostring(L.get(), kLua) != LUA_OK)
        throw std::runtime_error(lua_tostring(L.get(), -1));
    double want = expected(p.entry);
    for (auto _ : state) {
        lua_getglobal(L.get(), p.entry);
        if (p.arg >= 0)
            lua_pushinteger(L.get(), p.arg);
        if (lua_pcall(L.get(), p.arg >= 0 ? 1 : 0, 1, 0) != LUA_OK)
            throw std::runtime_error(lua_tostring(L.get(), -1));
        double got = lua_tonumber(L.get(), -1);
        lua_pop(L.get(), 1);
        if (!matches(got, want)) {
            state.SkipWithError("wrong result");
            break;
        }
    }
}

// Console output as usual, plus the CPU time per iteration of each run for the ratio lines
// (CPU time: steadier than wall time on a shared machine).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const auto &r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0 && !r.error_occurred)
                times[r.benchmark_name()] = r.GetAdjustedCPUTime();
    }
    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char **argv) {
    for (const Program &p : kPrograms) {
        benchmark::RegisterBenchmark((std::string("Export/") + p.name).c_str(),
                                     [&p](benchmark::State &s) { RunExport(s, p); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Vbs/") + p.name).c_str(),
                                     [&p](benchmark::State &s) { RunVbs(s, p); })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((std::string("Lua/") + p.name).c_str(),
                                     [&p](benchmark::State &s) { RunLua(s, p); })
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    double logExport = 0, logEngine = 0;
    int counted = 0;
    for (const Program &p : kPrograms) {
        auto exp = reporter.times.find(std::string("Export/") + p.name);
        auto vbs = reporter.times.find(std::string("Vbs/") + p.name);
        auto lua = reporter.times.find(std::string("Lua/") + p.name);
        if (exp == reporter.times.end() || vbs == reporter.times.end() ||
            lua == reporter.times.end() || lua->second <= 0)
            continue;
        const double ratio = exp->second / lua->second;
        const double inner = vbs->second / lua->second;
        logExport += std::log(ratio);
        logEngine += std::log(inner);
        ++counted;
        std::printf("%-13s export/Lua CPU time ratio: %5.2f (engine/Lua %5.2f; goal: at most 2)   "
                    "%s\n",
                    p.name, ratio, inner, ratio <= 2.0 ? "ok" : "BELOW");
    }
    if (counted == static_cast<int>(std::size(kPrograms))) {
        const double mean = std::exp(logExport / counted);
        std::printf("%-13s export/Lua CPU time ratio: %5.2f (engine/Lua %5.2f; goal: at most 1.5) "
                    "%s\n",
                    "geometric mean", mean, std::exp(logEngine / counted),
                    mean <= 1.5 ? "ok" : "BELOW");
    }
    benchmark::Shutdown();
    return 0;
}
