// Runaway scripts end in the engine's own errors on any thread: nested terminators, huge bounds.
#include "corpus.h"

#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <pthread.h>
#endif

namespace vbtest {
namespace {

constexpr const char *kPhoenix = "Class Phoenix\n"
                                 "  Private Sub Class_Terminate\n"
                                 "    Dim o : Set o = New Phoenix\n"
                                 "  End Sub\n"
                                 "End Class\n";

// Runs `body` on a thread whose stack is `bytes` in all (on Windows a reservation of that size,
// not just the first commit).
template <class Body> void OnSmallStack(size_t bytes, Body body) {
    struct Ctx {
        Body *body;
#ifdef _WIN32
        static DWORD WINAPI run(LPVOID p) {
            (*static_cast<Ctx *>(p)->body)();
            return 0;
        }
#else
        static void *run(void *p) {
            (*static_cast<Ctx *>(p)->body)();
            return nullptr;
        }
#endif
    } ctx{&body};
#ifdef _WIN32
    HANDLE t =
        CreateThread(nullptr, bytes, &Ctx::run, &ctx, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    ASSERT_NE(t, nullptr);
    WaitForSingleObject(t, INFINITE);
    CloseHandle(t);
#else
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, bytes), 0);
    pthread_t t;
    ASSERT_EQ(pthread_create(&t, &attr, &Ctx::run, &ctx), 0);
    pthread_attr_destroy(&attr);
    pthread_join(t, nullptr);
#endif
}

void TerminatorCases() {
    // At the top level, in a procedure, at teardown of the globals, and from a terminator that
    // runs when a procedure's locals go: each stops nesting and the script goes on.
    ExpectCases({
        {(std::string(kPhoenix) + "Set p = New Phoenix : Set p = Nothing : r = 1").c_str(), "1"},
        {(std::string(kPhoenix) + "Sub S : Dim p : Set p = New Phoenix : End Sub\nS : r = 2")
             .c_str(),
         "2"},
        {(std::string(kPhoenix) + "Set keep = New Phoenix : r = 3").c_str(), "3"},
        {(std::string(kPhoenix) + "Function F : F = 4 : Set x = New Phoenix : End Function\n"
                                  "r = F() + F()")
             .c_str(),
         "8"},
    });
    // Initializers that renew themselves still end in error 28.
    ExpectErrors({{"Class C\nSub Class_Initialize : Set o = New C : End Sub\nEnd Class\n"
                   "Set c = New C",
                   28, 2}});
}

TEST(VbsLimits, SelfRenewingTerminatorEndsOnTheCallersThread) {
    TerminatorCases();
}

TEST(VbsLimits, SelfRenewingTerminatorAndDeepRecursionEndOnSmallStacks) {
    OnSmallStack(1u << 20, [] {
        TerminatorCases();
        ExpectErrors({{"Function F(n) : F = F(n + 1) : End Function\nr = F(0)", 28, 1}});
    });
}

// Deep nesting on a small stack ends in error 28 while compiling instead of overflowing it.
TEST(VbsLimits, DeepNestingOnASmallStackRunsOrEndsInError28) {
    std::string parens = "x = " + std::string(200, '(') + "1" + std::string(200, ')');
    std::string ifs;
    for (int i = 0; i < 200; ++i)
        ifs += "If True Then\n";
    ifs += "r = 1\n";
    for (int i = 0; i < 200; ++i)
        ifs += "End If\n";
    OnSmallStack(256u << 10, [&] {
        for (const std::string *code : {&parens, &ifs}) {
            Outcome o = RunCode(*code);
            EXPECT_TRUE(o.ok || o.number == 28) << o.number << " " << o.message;
        }
    });
}

// Long chains are freed one link at a time, not by nesting once per link.
TEST(VbsLimits, LongChainsOfObjectsAndArraysAreFreedWithoutNesting) {
    ExpectCases({
        {"Class N : Public nx : End Class\nSet h = Nothing\n"
         "For i = 1 To 100000 : Set n = New N : Set n.nx = h : Set h = n : Next\n"
         "Set n = Nothing : Set h = Nothing : r = 1",
         "1"},
        {"For i = 1 To 100000 : a = Array(a, i) : Next\nr = a(1) : a = 0", "100000"},
        {"Set d = CreateObject(\"Scripting.Dictionary\")\nSet h = d\n"
         "For i = 1 To 50000 : Set n = CreateObject(\"Scripting.Dictionary\") : "
         "h.Add \"k\", n : Set h = n : Next\nSet h = Nothing : Set n = Nothing : r = d.Count",
         "1"},
        // Terminators along a chain still run, each once.
        {"Dim count\nClass T : Public nx\nSub Class_Terminate : count = count + 1 : End Sub\n"
         "End Class\nSet h = Nothing\nFor i = 1 To 20000 : Set t = New T : Set t.nx = h : Set h = "
         "t : Next\n"
         "Set t = Nothing : Set h = Nothing : r = count",
         "20000"},
    });
}

TEST(VbsLimits, HugeBoundsAreOutOfMemoryWithoutOverflow) {
    ExpectErrors({
        {"ReDim a(2147483647)", 7, 1},
        {"Dim a(2147483647)", 7, 1},
        {"ReDim a(65535, 65535)", 7, 1},
        {"ReDim a(2147483647, 2147483647, 2)", 7, 1},
        {"ReDim a(-2)", 9, 1},
        {"r = DateAdd(\"d\", 1E+300, Now)", 5, 1},
        {"r = DateAdd(\"m\", -1E+15, Now)", 5, 1},
    });
    ExpectCases({{"ReDim a(-1) : r = UBound(a)", "-1"}});
}

// A text that doubles on every pass stops at 256 Mi characters with "Out of string space" rather
// than taking the host's memory, whichever way it is joined; the text built so far stays whole.
TEST(VbsLimits, DoublingTextsEndInOutOfStringSpace) {
    ExpectErrors({
        {"r = \"ab\"\nFor i = 1 To 40 : r = r & r & i : Next", 14, 2},
        {"r = \"ab\"\nFor i = 1 To 40 : r = r & r : Next", 14, 2},
        {"r = Space(268435456)\nr = r & \"x\"", 14, 2},
        {"r = Space(268435456)\nr = 1 & r", 14, 2},
    });
    ExpectCases({{"r = Space(268435455) & \"x\" : r = Len(r)", "268435456"},
                 {"On Error Resume Next : r = Space(268435456) : r = r & r : r = Len(r) & \" \" & "
                  "Err.Number",
                  "268435456 14"}});
}

// Runs `code` with a time limit of `ms` milliseconds (and optionally a step budget); the error it
// ends with, or number 0.
ScriptError RunLimited(const char *code, int ms, uint64_t steps = 0) {
    Interp in;
    in.timeLimit = std::chrono::milliseconds(ms);
    in.setStepBudget(steps);
    try {
        in.addCode(utf8ToU16(code));
    } catch (const ScriptError &e) {
        return e;
    }
    return ScriptError(0, u"", 0);
}

TEST(VbsLimits, RunawayScriptsStopAtTheTimeLimit) {
    const std::u16string stopped = u"The script was stopped: it ran longer than 150 ms";
    struct Runaway {
        const char *code;
        int line;
    };
    for (const Runaway &c : std::initializer_list<Runaway>{
             {"x = 1\nDo : Loop", 2},
             {"Do While True\n  x = x + 1\nLoop", 2},
             {"For i = 1 To 1E+300 : Next", 1},
             {"For i = 1 To 2 : i = 1 : Next", 1},
             {"a = Array(1, 2)\nFor Each x In a\n  a(0) = a(0)\nNext\nDo : Loop", 5},
             // No loop at all: calls that branch twice per level, 2^60 of them.
             {"Sub S(n)\n  If n > 0 Then S n - 1 : S n - 1\nEnd Sub\nS 60", 2},
             // On Error Resume Next does not hold the stop, nor does a terminator that runs
             // for ever (its error is dropped, the script ends there all the same).
             {"On Error Resume Next\nDo\n  x = 1 / 0\nLoop\nr = 1", 3},
             {"Class C\nSub Class_Terminate : Do : Loop : End Sub\nEnd Class\n"
              "Set o = New C\nSet o = Nothing\nr = 1",
              2},
             {"Execute \"Do : Loop\"", 1},
         }) {
        ScriptError e = RunLimited(c.code, 150);
        EXPECT_EQ(e.number, err::Stopped) << c.code;
        EXPECT_EQ(e.line, c.line) << c.code;
        EXPECT_EQ(e.description, stopped) << c.code;
    }
    // Under the limit nothing changes; each call from the host has the limit anew.
    Interp in;
    in.timeLimit = std::chrono::milliseconds(2000);
    in.addCode(u"Function F(n) : For i = 1 To n : F = F + i : Next : End Function");
    EXPECT_EQ(in.run(u"F", {Value::lng(10000)}).intValue(), 50005000);
    EXPECT_EQ(in.run(u"F", {Value::lng(20000)}).intValue(), 200010000);
}

// A loop whose every step is slow (here a 16 Mi-character text built and dropped, milliseconds a
// step) is stopped after a few of them past the limit, not thousands: the clock is read more often
// while steps are slow.
TEST(VbsLimits, SlowStepsStopSoonAfterTheLimit) {
    Interp in;
    in.timeLimit = std::chrono::milliseconds(100);
    try {
        in.addCode(u"n = 0\nDo\n  s = Space(16777216) : n = n + 1\nLoop");
        FAIL() << "the loop was not stopped";
    } catch (const ScriptError &e) {
        EXPECT_EQ(e.number, err::Stopped);
    }
    const int32_t steps = in.evaluate(u"n").intValue();
    EXPECT_GT(steps, 0);
    EXPECT_LT(steps, 500) << "steps run before the script was stopped";
}

TEST(VbsLimits, StepBudgetStopsLoopsWhateverTheTime) {
    ScriptError e = RunLimited("For i = 1 To 100000 : x = i : Next", 60000, 5000);
    EXPECT_EQ(e.number, err::Stopped);
    EXPECT_EQ(e.description, u"The script was stopped: it ran out of its step budget");
    EXPECT_EQ(RunLimited("For i = 1 To 4000 : x = i : Next", 60000, 5000).number, 0);
    EXPECT_EQ(RunLimited("Sub S(n)\nIf n > 0 Then S n - 1 : S n - 1\nEnd Sub\nS 20", 60000, 100000)
                  .number,
              err::Stopped);
}

} // namespace
} // namespace vbtest
