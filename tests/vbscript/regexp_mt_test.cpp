// RegExp objects on the parallel runner: every row builds RegExp objects whose compiled patterns
// come from the cache shared by all threads (more patterns than it holds, so entries are
// evicted while other rows match). CI runs this binary under ThreadSanitizer.
#include "vbhost.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char *kScript = "Function Tags(n)\r\n"
                      "  Dim re, k, s\r\n"
                      "  For k = 0 To 30\r\n"
                      "    Set re = New RegExp\r\n"
                      "    re.Pattern = \"<(/?)t\" & ((n * 7 + k) Mod 90) & \">\"\r\n"
                      "    re.Global = True\r\n"
                      "    re.IgnoreCase = (k Mod 2 = 0)\r\n"
                      "    s = s & re.Replace(\"a<t\" & ((n * 7 + k) Mod 90) & \">b</T\" & "
                      "((n * 7 + k) Mod 90) & \">\", \"[$1]\")\r\n"
                      "  Next\r\n"
                      "  Tags = s\r\n"
                      "End Function\r\n";

std::u16string Expected(int n) {
    std::u16string s;
    for (int k = 0; k <= 30; ++k) {
        const std::u16string closing = u"</T" + [&] {
            const std::string digits = std::to_string((n * 7 + k) % 90);
            return std::u16string(digits.begin(), digits.end());
        }() + u">";
        s += k % 2 == 0 ? u"a[]b[/]" : u"a[]b" + closing;
    }
    return s;
}

TEST(VbsParallelRegExp, RowsShareCompiledPatterns) {
    constexpr LONG kRows = 24;
    vbhost::Array calls, args, results;
    calls.CreateStrings({{static_cast<ULONG>(kRows), 0}, {3, 0}});
    args.CreateVariants({{static_cast<ULONG>(kRows), 0}, {2, 0}});
    results.CreateVariants({{static_cast<ULONG>(kRows), 0}});
    for (LONG i = 0; i < kRows; ++i) {
        calls.set({i, 0}, kScript);
        calls.set({i, 1}, "Tags");
        // Column 0 holds the argument count, then the arguments.
        for (LONG column : {0, 1}) {
            VARIANT v;
            VariantInit(&v);
            v.vt = VT_I4;
            v.lVal = column == 0 ? 1 : i;
            LONG idx[2] = {i, column};
            ASSERT_EQ(SafeArrayPutElement(args.get(), idx, &v), S_OK);
        }
    }
    ASSERT_EQ(RunVBFunction_MT(calls.ref(), args.ref(), results.ref()), 1);
    for (LONG i = 0; i < kRows; ++i) {
        EXPECT_EQ(calls.at({i, 2}).value_or("?"), "OK") << i;
        VARIANT r;
        VariantInit(&r);
        SafeArrayGetElement(results.get(), &i, &r);
        ASSERT_EQ(r.vt, VT_BSTR) << i;
        EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t *>(r.bstrVal)),
                  Expected(static_cast<int>(i)))
            << i;
        VariantClear(&r);
    }
}

} // namespace
