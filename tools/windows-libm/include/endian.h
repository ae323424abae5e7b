/* Byte order for the dbl-64 files: x86 is little-endian (the high word of a double is word 1). */
#include <stdint.h>
#define LITTLE_ENDI 1
#define HIGH_HALF 1
#define LOW_HALF 0
