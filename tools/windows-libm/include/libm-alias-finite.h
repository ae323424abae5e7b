/* No public aliases (glibc_names.h). */
#define libm_alias_finite(from, to)
