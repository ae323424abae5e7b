// The library's math functions against the Linux C library's, bit for bit, over fixed and a few
// thousand random arguments per function, with the x87 unit at 64 and at 53 bits of precision
// (the SSE2 results must not follow it); and the x87 precision guard.
#include "kestrun/interop/libm.h"
#include "libm_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

using namespace kestrun;

std::string ReadFile(const char *path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

#if defined(__i386__) || defined(__x86_64__)
unsigned short ControlWord() {
    unsigned short cw = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(cw));
    return cw;
}
void SetControlWord(unsigned short cw) {
    __asm__ __volatile__("fldcw %0" : : "m"(cw));
}
#endif

std::string LibraryTable() {
    return libm_table::Render(
        {libm::Sin, libm::Cos, libm::Tan, libm::Atan, libm::Exp, libm::Log, libm::Pow, libm::Sqrt});
}

void ExpectLinuxTable(const std::string &ours, const char *what) {
    const std::vector<std::string> want = Lines(ReadFile(KESTRUN_LIBM_REFERENCE));
    const std::vector<std::string> got = Lines(ours);
    ASSERT_GT(want.size(), size_t(8 * libm_table::kRandomPerFunction)) << KESTRUN_LIBM_REFERENCE;
    ASSERT_EQ(got.size(), want.size()) << what;
    int differing = 0;
    for (size_t i = 0; i < want.size(); ++i) {
        if (got[i] != want[i] && ++differing <= 10)
            ADD_FAILURE() << what << ": line " << i + 1 << "\n  Linux: " << want[i]
                          << "\n  ours:  " << got[i];
    }
    EXPECT_EQ(differing, 0) << what << ": lines that differ from Linux";
}

TEST(Libm, SameBitsAsTheLinuxCLibrary) {
    // Named cases first: sin(1e22) is -0.8522008497671888 (x87 routines: 0.4626...).
    EXPECT_EQ(libm::Sin(1e22), -0.8522008497671888);
    EXPECT_EQ(libm::Pow(10.0, -5.0), 1e-5);
    EXPECT_EQ(libm::Sqrt(2.0), 1.4142135623730951);
    ExpectLinuxTable(LibraryTable(), "x87 control word as the program started");
}

#if defined(__i386__) || defined(__x86_64__)
TEST(Libm, ResultsDoNotFollowTheX87Precision) {
    const unsigned short start = ControlWord();
    for (unsigned short cw : {0x27F, 0x37F}) {
        SetControlWord(cw);
        const std::string table = LibraryTable();
        EXPECT_EQ(ControlWord(), cw) << "the functions must leave the control word alone";
        SetControlWord(start);
        ExpectLinuxTable(table, cw == 0x27F ? "control word 0x27F" : "control word 0x37F");
    }
}

TEST(Libm, ExtendedPrecisionGuard) {
    const unsigned short start = ControlWord();
    SetControlWord(0x27F);
    volatile long double x = 9007199254740993.0L; // 2^53 + 1: needs 54 bits
    long double product;
    {
        libm::ExtendedPrecision extended;
        EXPECT_EQ(ControlWord() & 0x300, 0x300);
        product = x * 3; // 3 * 2^53 + 3, exact in 64 bits, rounded at 53
    }
    EXPECT_EQ(ControlWord(), 0x27F) << "the caller's control word comes back";
    EXPECT_EQ(product, 27021597764222979.0L);
    SetControlWord(start);
}
#endif

} // namespace
