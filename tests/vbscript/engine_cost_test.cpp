// Built-ins read their string and array arguments where they live: a loop of calls on a long text
// costs what the same loop costs on a short one.
#include "corpus.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <vector>

namespace vbtest {
namespace {

// Calls each built-in that takes a text or an array `n` times on `t` and `arr`; every call does
// a fixed amount of work of its own whatever the length of its argument.
constexpr const char *kLoops =
    "Function Loops(t, arr, n)\n"
    "  Dim i, k : k = 0\n"
    "  For i = 1 To n\n"
    "    k = k + Len(t) + Len(Mid(t, i, 1)) + Len(Left(t, 2))\n"
    "    k = k + Len(Right(t, 2)) + InStr(t, \"a\") + InStr(2, t, \"a\")\n"
    "    k = k + InStrRev(t, \"a\") + Asc(t) + AscW(t) + UBound(arr)\n"
    "    k = k + Len(CStr(t))\n"
    "  Next\n"
    "  Loops = k\n"
    "End Function\n";

double CpuSeconds() {
    return static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// The least CPU time of a few runs of Loops over a text and an array of `length` elements.
double TimeLoops(Interp &in, size_t length, int32_t calls, double &checksum) {
    Value text = Value::str(std::u16string(length, u'a'));
    auto *rep = new ArrayRep;
    rep->dims.push_back(static_cast<int32_t>(length));
    rep->data.resize(length);
    Value arr = Value::array(rep);
    double best = 1e9;
    for (int run = 0; run < 5; ++run) {
        double start = CpuSeconds();
        Value r = in.run(u"Loops", {text, arr, Value::lng(calls)});
        best = std::min(best, CpuSeconds() - start);
        checksum = toDouble(in, r);
    }
    return best;
}

TEST(VbsCost, BuiltinsReadLongArgumentsInPlace) {
    Interp in;
    in.addCode(utf8ToU16(kLoops));
    constexpr int32_t kCalls = 10000;
    constexpr size_t kLong = 1 << 20, kShort = 10;
    double longSum = 0, shortSum = 0;
    double shortTime = TimeLoops(in, kShort, kCalls, shortSum);
    double longTime = TimeLoops(in, kLong, kCalls, longSum);
    // The results show that the calls did their work on each text: per call 4 * length + 200,
    // plus one for each start inside the text.
    auto expected = [](double length) {
        return kCalls * (4 * length + 200) + std::min<double>(kCalls, length);
    };
    EXPECT_EQ(shortSum, expected(kShort));
    EXPECT_EQ(longSum, expected(kLong));
    // Copying the megabyte text on each call would make the long loop thousands of times slower;
    // reading it in place leaves the two close (the bound allows for a busy machine).
    EXPECT_LT(longTime, 4 * shortTime + 0.02)
        << "long " << longTime << " s, short " << shortTime << " s";
}

} // namespace
} // namespace vbtest
