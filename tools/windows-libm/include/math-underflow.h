/* Raises the underflow flag for tiny results, as glibc does. */
#ifndef GLIBC_MATH_UNDERFLOW_H
#define GLIBC_MATH_UNDERFLOW_H
#include <float.h>
#include <math-barriers.h>
#include <math.h>
#define math_check_force_underflow(x)                                                              \
    do {                                                                                           \
        double __f = fabs(x);                                                                      \
        if (__f < DBL_MIN) {                                                                       \
            double __t = __f * __f;                                                                \
            math_force_eval(__t);                                                                  \
        }                                                                                          \
    } while (0)
#define math_check_force_underflow_nonneg(x) math_check_force_underflow(x)
#endif
