// RunVBFunction_MT: one thread per row, results harvested in row order. CI runs this binary
// under ThreadSanitizer to show that no interpreter state is shared between the threads.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using vbhost::Gbk;

void PutVariant(SAFEARRAY *a, LONG row, LONG col, VARIANT v) {
    LONG idx[2] = {row, col};
    ASSERT_EQ(SafeArrayPutElement(a, idx, &v), S_OK);
    VariantClear(&v);
}
VARIANT Long(int32_t x) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = x;
    return v;
}
VARIANT Text(const char16_t *s) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(reinterpret_cast<const OLECHAR *>(s));
    return v;
}
VARIANT Result(SAFEARRAY *a, LONG i) {
    VARIANT v;
    VariantInit(&v);
    SafeArrayGetElement(a, &i, &v);
    return v;
}

const char *kScript = "Function Mul(a, b)\r\n"
                      "  Dim i, s\r\n"
                      "  For i = 1 To 200 : s = s & i : Next\r\n"
                      "  Mul = a * b + Len(s) - Len(s)\r\n"
                      "End Function\r\n"
                      "Function Count(a, b) : Count = IsEmpty(a) & IsEmpty(b) : End Function\r\n"
                      "Function Zero() : Zero = \"none\" : End Function\r\n"
                      "Function Boom(a) : Boom = a / 0 : End Function\r\n";

TEST(VbsParallel, ManyRowsRunConcurrentlyAndResultsStayInTheirRows) {
    constexpr LONG kRows = 80; // more than one wait can cover on the original platform
    vbhost::Array calls, args, results;
    calls.CreateStrings({{static_cast<ULONG>(kRows), 0}, {3, 0}});
    args.CreateVariants({{static_cast<ULONG>(kRows), 0}, {3, 0}});
    results.CreateVariants({{static_cast<ULONG>(kRows), 0}});
    for (LONG i = 0; i < kRows; ++i) {
        calls.set({i, 0}, kScript);
        calls.set({i, 1}, "Mul");
        PutVariant(args.get(), i, 0, i % 2 ? Long(2) : Text(u"2 arguments"));
        PutVariant(args.get(), i, 1, Long(i));
        PutVariant(args.get(), i, 2, Long(3));
    }
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    for (LONG i = 0; i < kRows; ++i) {
        EXPECT_EQ(calls.at({i, 2}).value_or("?"), "OK") << i;
        VARIANT r = Result(results.get(), i);
        EXPECT_EQ(r.vt, VT_I4) << i;
        EXPECT_EQ(r.lVal, i * 3) << i;
        VariantClear(&r);
    }
}

TEST(VbsParallel, CountsFailuresAndMissingFields) {
    vbhost::Array calls, args, results;
    calls.CreateStrings({{5, 0}, {3, 0}});
    args.CreateVariants({{5, 0}, {2, 0}});
    results.CreateVariants({{5, 0}});
    calls.set({0, 0}, kScript);
    calls.set({0, 1}, "Boom");
    PutVariant(args.get(), 0, 0, Long(1));
    PutVariant(args.get(), 0, 1, Long(5));
    calls.set({1, 0}, kScript);
    calls.set({1, 1}, "Count"); // asks for 2 arguments, the array holds only one
    PutVariant(args.get(), 1, 0, Long(2));
    PutVariant(args.get(), 1, 1, Long(9));
    calls.set({2, 0}, kScript);
    calls.set({2, 1}, "Zero");
    VARIANT yes;
    VariantInit(&yes);
    yes.vt = VT_BOOL;
    yes.boolVal = VARIANT_TRUE; // its text starts with a letter: no arguments
    PutVariant(args.get(), 2, 0, yes);
    calls.set({3, 0}, "");
    calls.set({3, 1}, "Zero");
    calls.set({4, 0}, Gbk("Function 中()\r\n"));
    calls.set({4, 1}, "X");
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);

    EXPECT_EQ(calls.at({0, 2}).value_or(""), Gbk("11-行8发生错误。Division by zero"));
    VARIANT r = Result(results.get(), 0);
    EXPECT_EQ(r.vt, VT_I4); // the failed row keeps its argument count
    EXPECT_EQ(r.lVal, 1);
    VariantClear(&r);

    EXPECT_EQ(calls.at({1, 2}).value_or(""), "OK");
    r = Result(results.get(), 1);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(r.bstrVal)), u"FalseTrue");
    VariantClear(&r);

    EXPECT_EQ(calls.at({2, 2}).value_or(""), "OK");
    EXPECT_EQ(calls.at({3, 2}).value_or(""), Gbk("没有要执行的代码！"));
    EXPECT_NE(calls.at({4, 2}).value_or("OK"), "OK");
}

TEST(VbsParallel, BadCountStopsBeforeAnyThreadAndNullsAreHarmless) {
    vbhost::Array calls, args, results;
    calls.CreateStrings({{2, 0}, {3, 0}});
    args.CreateVariants({{2, 0}, {1, 0}});
    results.CreateVariants({{2, 0}});
    calls.set({0, 0}, kScript);
    calls.set({0, 1}, "Zero");
    calls.set({1, 0}, kScript);
    calls.set({1, 1}, "Zero");
    PutVariant(args.get(), 1, 0, Text(u" -3"));
    EXPECT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 0);
    EXPECT_FALSE(calls.at({0, 2}).has_value()); // nothing was written
    VARIANT r = Result(results.get(), 0);
    EXPECT_EQ(r.vt, VT_EMPTY);

    EXPECT_EQ(RunVBFunction_MT(nullptr, nullptr, nullptr), 1);
    vbhost::Array none;
    EXPECT_EQ(RunVBFunction_MT(calls.ref(), none.ref(), none.ref()), 1);
    EXPECT_EQ(calls.at({0, 2}).value_or(""), "OK");
}

// A terminator that makes a new object of its own class nests once per object; on the worker
// threads it must end in the depth limit like on the caller's thread, and the other rows still
// get their results.
TEST(VbsParallel, SelfRenewingTerminatorEndsOnEveryThread) {
    const char *script = "Class Phoenix\r\n"
                         "  Private Sub Class_Terminate\r\n"
                         "    Dim o : Set o = New Phoenix\r\n"
                         "  End Sub\r\n"
                         "End Class\r\n"
                         "Function Burn(n)\r\n"
                         "  Dim p : Set p = New Phoenix : Set p = Nothing\r\n"
                         "  Burn = n + 1\r\n"
                         "End Function\r\n";
    constexpr LONG kRows = 4;
    vbhost::Array calls, args, results;
    calls.CreateStrings({{kRows, 0}, {3, 0}});
    args.CreateVariants({{kRows, 0}, {2, 0}});
    results.CreateVariants({{kRows, 0}});
    for (LONG i = 0; i < kRows; ++i) {
        calls.set({i, 0}, i % 2 ? script : kScript);
        calls.set({i, 1}, i % 2 ? "Burn" : "Zero");
        PutVariant(args.get(), i, 0, Long(i % 2));
        if (i % 2)
            PutVariant(args.get(), i, 1, Long(i));
    }
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    for (LONG i = 0; i < kRows; ++i) {
        EXPECT_EQ(calls.at({i, 2}).value_or("?"), "OK") << i;
        VARIANT r = Result(results.get(), i);
        if (i % 2) {
            EXPECT_EQ(r.vt, VT_I4) << i;
            EXPECT_EQ(r.lVal, i + 1) << i;
        } else {
            EXPECT_EQ(r.vt, VT_BSTR) << i;
        }
        VariantClear(&r);
    }
}

} // namespace

TEST(VbsParallel, RunawayRowStopsAfterTenSecondsAndOthersFinish) {
    vbhost::Array calls, args, results;
    calls.CreateStrings({{3, 0}, {3, 0}});
    args.CreateVariants({{3, 0}, {3, 0}});
    results.CreateVariants({{3, 0}});
    calls.set({0, 0}, "Function Spin()\r\n  Do : Loop\r\nEnd Function\r\n");
    calls.set({0, 1}, "Spin");
    calls.set({1, 0}, kScript);
    calls.set({1, 1}, "Mul");
    PutVariant(args.get(), 1, 0, Long(2));
    PutVariant(args.get(), 1, 1, Long(6));
    PutVariant(args.get(), 1, 2, Long(7));
    calls.set({2, 0}, "Function Deep(n)\r\n  If n > 0 Then Deep = Deep(n - 1) + Deep(n - 1)\r\n"
                      "End Function\r\n");
    calls.set({2, 1}, "Deep");
    PutVariant(args.get(), 2, 0, Long(1));
    PutVariant(args.get(), 2, 1, Long(80));
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Each runaway row was stopped on its own after its ten seconds, with the usual message.
    EXPECT_GE(seconds, 10.0);
    EXPECT_LT(seconds, 60.0);
    EXPECT_EQ(calls.at({0, 2}).value_or(""),
              Gbk("-2147467260-行2发生错误。The script was stopped: it ran longer than 10000 ms"));
    EXPECT_EQ(calls.at({1, 2}).value_or(""), "OK");
    VARIANT r = Result(results.get(), 1);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 42);
    VariantClear(&r);
    EXPECT_EQ(calls.at({2, 2}).value_or(""),
              Gbk("-2147467260-行2发生错误。The script was stopped: it ran longer than 10000 ms"));
}
