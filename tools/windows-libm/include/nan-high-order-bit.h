/* x86: a signalling NaN has the high mantissa bit clear. */
#define HIGH_ORDER_BIT_IS_SET_FOR_SNAN 0
