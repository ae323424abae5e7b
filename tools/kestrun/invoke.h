// Calls an export by address with its arguments as pointer-sized words, as a by-name caller
// (Visual Basic's Declare) does. Every parameter kind is an integer or a pointer, so each
// travels in one register or stack slot whatever its declared width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrun_cli {

// The most parameters an export can have.
constexpr size_t kMaxArguments = 8;

// How a 32-bit Windows call is made: the stack pointer's offset from a 16-byte boundary just
// before the call (0, 4, 8 or 12; Visual Basic 6 guarantees only 4-byte alignment), and the x87
// control word to call with (0 leaves it as it is; Visual Basic 6 runs with 0x27F; the 64-bit
// Windows call uses it too, for long double arithmetic). x86-64 Linux ignores both.
struct CallConditions {
    unsigned misalignment = 0;
    unsigned controlWord = 0;
    bool integerJunk = false; // set the upper 16 bits of each Integer argument's slot
};

struct CallOutcome {
    intptr_t word = 0; // an integer or pointer result
    double real = 0;   // a Double result
    std::string fault; // what the call did wrong to the caller (stack, registers), if anything
};

CallOutcome Invoke(void *function, const intptr_t (&words)[kMaxArguments], size_t count,
                   bool realResult, const CallConditions &conditions);

} // namespace kestrun_cli
