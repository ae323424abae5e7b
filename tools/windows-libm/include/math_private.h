/* Stands in for glibc's internal math_private.h: what the dbl-64 files use of it. */
#ifndef GLIBC_MATH_PRIVATE_H
#define GLIBC_MATH_PRIVATE_H
#include <errno.h>
#include <math.h>
#include <stdint.h>
#define attribute_hidden
#define __set_errno(e) (errno = (e))
#define strong_alias(name, alias)
#define hidden_def(name)
#define versioned_symbol(lib, local, symbol, version)
#define LIBM_SVID_COMPAT 0
#endif
