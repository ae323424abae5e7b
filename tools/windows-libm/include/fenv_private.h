/* Rounding-mode guards on the SSE control register, as glibc's x86-64 libm has them: a function
   that needs round-to-nearest sets it for its own duration and puts the caller's mode back. The
   x87 control word plays no part, as all arithmetic is SSE2. */
#ifndef GLIBC_FENV_PRIVATE_H
#define GLIBC_FENV_PRIVATE_H
#include <fenv.h>
#include <xmmintrin.h>
static inline void glibc_math_restore_round(const unsigned *saved) {
    unsigned now = _mm_getcsr();
    if ((now & 0x6000u) != (*saved & 0x6000u))
        _mm_setcsr((now & ~0x6000u) | (*saved & 0x6000u));
}
#define SET_RESTORE_ROUND(mode)                                                                    \
    unsigned glibc_math_saved_csr __attribute__((cleanup(glibc_math_restore_round))) =            \
        _mm_getcsr();                                                                              \
    if ((glibc_math_saved_csr & 0x6000u) != 0)                                                     \
    _mm_setcsr(glibc_math_saved_csr & ~0x6000u)
#define SET_RESTORE_ROUND_53BIT(mode) SET_RESTORE_ROUND(mode)
#endif
