/* Included before every compiled glibc file. glibc's internal names become names of this library,
   the entry points carrying the variant they were compiled as (GLIBC_MATH_VARIANT: sse2, fma,
   fma4), the shared tables and error helpers none. */
/* What glibc's <sys/cdefs.h> gives the files and MinGW-w64's headers do not. */
#ifndef __always_inline
#define __always_inline __inline __attribute__((__always_inline__))
#endif
#define __glibc_unlikely(cond) __builtin_expect((cond), 0)
#define __glibc_likely(cond) __builtin_expect((cond), 1)
#define GLIBC_MATH_CAT2(a, b) a##_##b
#define GLIBC_MATH_CAT(a, b) GLIBC_MATH_CAT2(a, b)
#ifdef GLIBC_MATH_VARIANT
#define __sin GLIBC_MATH_CAT(glibc_sin, GLIBC_MATH_VARIANT)
#define __cos GLIBC_MATH_CAT(glibc_cos, GLIBC_MATH_VARIANT)
#define __tan GLIBC_MATH_CAT(glibc_tan, GLIBC_MATH_VARIANT)
#define __atan GLIBC_MATH_CAT(glibc_atan, GLIBC_MATH_VARIANT)
#define __exp GLIBC_MATH_CAT(glibc_exp, GLIBC_MATH_VARIANT)
#define __log GLIBC_MATH_CAT(glibc_log, GLIBC_MATH_VARIANT)
#define __pow GLIBC_MATH_CAT(glibc_pow, GLIBC_MATH_VARIANT)
#define __ieee754_acos GLIBC_MATH_CAT(glibc_acos, GLIBC_MATH_VARIANT)
#define __ieee754_asin GLIBC_MATH_CAT(glibc_asin, GLIBC_MATH_VARIANT)
#define __ieee754_atan2 GLIBC_MATH_CAT(glibc_atan2, GLIBC_MATH_VARIANT)
#endif
#define __branred glibc_math_branred
#define __sincostab glibc_math_sincostab
#define __exp_data glibc_math_exp_data
#define __log_data glibc_math_log_data
#define __pow_log_data glibc_math_pow_log_data
#define __math_oflow glibc_math_oflow
#define __math_uflow glibc_math_uflow
#define __math_may_uflow glibc_math_may_uflow
#define __math_divzero glibc_math_divzero
#define __math_invalid glibc_math_invalid
#define __math_check_oflow glibc_math_check_oflow
#define __math_check_uflow glibc_math_check_uflow
