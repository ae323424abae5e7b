/* No public aliases: the library's entry points keep their own names (glibc_names.h). */
#define libm_alias_double(from, to)
#define libm_alias_double_other(from, to)
