/* Doubles are evaluated in SSE2 registers: nothing to narrow. */
#define math_narrow_eval(x) (x)
