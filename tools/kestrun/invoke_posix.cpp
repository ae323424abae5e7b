// x86-64 System V: arguments in registers (then the stack), cleaned up by the caller; the export
// is called through one eight-word signature per result type.
#include "invoke.h"

namespace kestrun_cli {

CallOutcome Invoke(void *function, const intptr_t (&w)[kMaxArguments], size_t, bool realResult,
                   const CallConditions &) {
    using Words = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                               intptr_t);
    using Real =
        double (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    CallOutcome outcome;
    if (realResult) {
        outcome.real =
            reinterpret_cast<Real>(function)(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    } else {
        outcome.word =
            reinterpret_cast<Words>(function)(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    }
    return outcome;
}

} // namespace kestrun_cli
