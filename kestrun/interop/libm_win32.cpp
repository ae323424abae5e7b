// Windows: glibc's sin, cos, tan, atan, exp, log and pow, cross-built into libglibcmath.a by
// tools/build-windows-deps.sh, instead of MinGW-w64's x87 routines (which differ from Linux in
// the last digits, and for huge arguments entirely, and follow the caller's x87 precision).
//
// glibc's x86-64 libm carries each function compiled three ways and picks one by the processor's
// features when it loads: with FMA and AVX2, with FMA4, or plain SSE2. Fused multiply-adds round
// differently, so the same choice is made here, once, to give the very doubles that Linux gives
// on the same machine. Square roots are the SSE2 instruction, correctly rounded as glibc's are.
#include "kestrun/interop/libm.h"

#include <cpuid.h>
#include <emmintrin.h>

#define KESTRUN_GLIBC_MATH(variant)                                                                \
    double glibc_sin_##variant(double);                                                            \
    double glibc_cos_##variant(double);                                                            \
    double glibc_tan_##variant(double);                                                            \
    double glibc_atan_##variant(double);                                                           \
    double glibc_exp_##variant(double);                                                            \
    double glibc_log_##variant(double);                                                            \
    double glibc_pow_##variant(double, double);                                                    \
    double glibc_acos_##variant(double);                                                           \
    double glibc_asin_##variant(double);                                                           \
    double glibc_atan2_##variant(double, double);

extern "C" {
KESTRUN_GLIBC_MATH(sse2)
KESTRUN_GLIBC_MATH(fma)
KESTRUN_GLIBC_MATH(fma4)
}

namespace kestrun::libm {
namespace {

struct Functions {
    double (*sin)(double);
    double (*cos)(double);
    double (*tan)(double);
    double (*atan)(double);
    double (*exp)(double);
    double (*log)(double);
    double (*pow)(double, double);
    double (*acos)(double);
    double (*asin)(double);
    double (*atan2)(double, double);
};

#define KESTRUN_GLIBC_TABLE(variant)                                                               \
    Functions {                                                                                    \
        glibc_sin_##variant, glibc_cos_##variant, glibc_tan_##variant, glibc_atan_##variant,       \
            glibc_exp_##variant, glibc_log_##variant, glibc_pow_##variant, glibc_acos_##variant,   \
            glibc_asin_##variant, glibc_atan2_##variant                                            \
    }

// glibc's choice: FMA and AVX2 usable, else FMA4 usable, else SSE2. "Usable" includes the
// system saving the AVX registers (XCR0 bits 1 and 2).
Functions Choose() {
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return KESTRUN_GLIBC_TABLE(sse2);
    const bool fma = (c & bit_FMA) != 0;
    if ((c & bit_OSXSAVE) == 0 || (c & bit_AVX) == 0)
        return KESTRUN_GLIBC_TABLE(sse2);
    unsigned xcr0 = 0, xcr0High = 0;
    __asm__("xgetbv" : "=a"(xcr0), "=d"(xcr0High) : "c"(0));
    if ((xcr0 & 6) != 6)
        return KESTRUN_GLIBC_TABLE(sse2);
    if (fma && __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX2) != 0)
        return KESTRUN_GLIBC_TABLE(fma);
    if (__get_cpuid(0x80000001, &a, &b, &c, &d) && (c & bit_FMA4) != 0)
        return KESTRUN_GLIBC_TABLE(fma4);
    return KESTRUN_GLIBC_TABLE(sse2);
}

const Functions &Chosen() {
    static const Functions chosen = Choose();
    return chosen;
}

} // namespace

double Sin(double x) {
    return Chosen().sin(x);
}
double Cos(double x) {
    return Chosen().cos(x);
}
double Tan(double x) {
    return Chosen().tan(x);
}
double Atan(double x) {
    return Chosen().atan(x);
}
double Exp(double x) {
    return Chosen().exp(x);
}
double Log(double x) {
    return Chosen().log(x);
}
double Pow(double x, double y) {
    return Chosen().pow(x, y);
}
double Sqrt(double x) {
    return _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(x)));
}

} // namespace kestrun::libm

// The C library's names for the same functions, so that every other caller in the DLL (zxing-cpp's
// detectors, through <cmath>) gets glibc's results too: these definitions come first in the link,
// so MinGW-w64's x87 versions are never pulled in.
extern "C" {
double sin(double x) {
    return kestrun::libm::Sin(x);
}
double cos(double x) {
    return kestrun::libm::Cos(x);
}
double tan(double x) {
    return kestrun::libm::Tan(x);
}
double atan(double x) {
    return kestrun::libm::Atan(x);
}
double exp(double x) {
    return kestrun::libm::Exp(x);
}
double log(double x) {
    return kestrun::libm::Log(x);
}
double pow(double x, double y) {
    return kestrun::libm::Pow(x, y);
}
double acos(double x) {
    return kestrun::libm::Chosen().acos(x);
}
double asin(double x) {
    return kestrun::libm::Chosen().asin(x);
}
double atan2(double y, double x) {
    return kestrun::libm::Chosen().atan2(y, x);
}
}
