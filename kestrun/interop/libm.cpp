// The x87 precision guard, the same on every system (the math functions are in libm_*.cpp).
// Out of line, so that the compiler cannot move long double arithmetic across the switch.
#include "kestrun/interop/libm.h"

namespace kestrun::libm {

// Precision control is bits 8-9 of the x87 control word (11: 64 bits).
ExtendedPrecision::ExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
    __asm__ __volatile__("fnstcw %0" : "=m"(saved_));
    if ((saved_ & 0x300) != 0x300) {
        unsigned short extended = saved_ | 0x300;
        __asm__ __volatile__("fldcw %0" : : "m"(extended));
    }
#endif
}

ExtendedPrecision::~ExtendedPrecision() {
#if defined(__i386__) || defined(__x86_64__)
    if ((saved_ & 0x300) != 0x300)
        __asm__ __volatile__("fldcw %0" : : "m"(saved_));
#endif
}

} // namespace kestrun::libm
