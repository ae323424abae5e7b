// Windows. 64-bit: the first four words in registers, the rest on the stack, cleaned up by the
// caller, so one eight-word signature per result type serves every export. 32-bit: __stdcall,
// the callee removes exactly its arguments; the call goes through a small assembly trampoline
// that pushes the export's own argument count at a chosen stack misalignment and x87 control
// word, and records the stack pointer and control word around the call.
#include "invoke.h"

#include <cstdio>

#if defined(__i386__)
extern "C" {
struct TrampolineRecord {
    uint32_t stackBefore; // stack pointer just before the call instruction
    uint32_t stackAfter;  // stack pointer once the export has returned
    double real;          // st(0), for a Double result
    uint16_t controlWord; // x87 control word once the export has returned
};
uint64_t kestrun_stdcall_trampoline(void *function, const uint32_t *words, uint32_t count,
                                    uint32_t misalignment, uint32_t controlWord,
                                    TrampolineRecord *record, uint32_t realResult);
}

// cdecl (arguments 8(%ebp) ...); ebx, esi, edi and ebp saved; the caller's control word put back.
__asm__(R"(
    .text
    .globl _kestrun_stdcall_trampoline
_kestrun_stdcall_trampoline:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    subl $4, %esp
    fnstcw -16(%ebp)
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    movl %esp, %eax
    subl $256, %eax
    andl $-16, %eax
    addl 20(%ebp), %eax
    leal (%eax,%ecx,4), %esp
1:  testl %ecx, %ecx
    jz 2f
    decl %ecx
    pushl (%esi,%ecx,4)
    jmp 1b
2:  movl 28(%ebp), %ebx
    movl %esp, (%ebx)
    fldcw 24(%ebp)
    movl 8(%ebp), %ecx
    call *%ecx
    movl 28(%ebp), %ecx
    movl %esp, 4(%ecx)
    fnstcw 16(%ecx)
    cmpl $0, 32(%ebp)
    je 3f
    fstpl 8(%ecx)
3:  fldcw -16(%ebp)
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)");
#endif

namespace kestrun_cli {

CallOutcome Invoke(void *function, const intptr_t (&w)[kMaxArguments], size_t count,
                   bool realResult, const CallConditions &conditions) {
    CallOutcome outcome;
#if defined(__i386__)
    uint32_t words[kMaxArguments];
    for (size_t i = 0; i < kMaxArguments; ++i)
        words[i] = static_cast<uint32_t>(w[i]);
    uint16_t controlWord = static_cast<uint16_t>(conditions.controlWord);
    if (controlWord == 0)
        __asm__ __volatile__("fnstcw %0" : "=m"(controlWord));
    TrampolineRecord record{};
    const uint64_t result = kestrun_stdcall_trampoline(
        function, words, static_cast<uint32_t>(count), conditions.misalignment & 12u, controlWord,
        &record, realResult ? 1u : 0u);
    outcome.word = static_cast<intptr_t>(static_cast<uint32_t>(result));
    outcome.real = record.real;
    char text[160];
    if (record.stackAfter - record.stackBefore != 4 * count) {
        std::snprintf(text, sizeof text, "the stack pointer moved by %d bytes, not %u",
                      static_cast<int>(record.stackAfter - record.stackBefore),
                      static_cast<unsigned>(4 * count));
        outcome.fault = text;
    } else if (record.controlWord != controlWord) {
        std::snprintf(text, sizeof text, "the x87 control word came back as 0x%X, not 0x%X",
                      record.controlWord, controlWord);
        outcome.fault = text;
    }
#else
    (void)count;
    uint16_t saved = 0, after = 0;
    __asm__ __volatile__("fnstcw %0" : "=m"(saved));
    const uint16_t controlWord =
        conditions.controlWord != 0 ? static_cast<uint16_t>(conditions.controlWord) : saved;
    __asm__ __volatile__("fldcw %0" : : "m"(controlWord));
    using Words = intptr_t (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t,
                               intptr_t);
    using Real =
        double (*)(intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t, intptr_t);
    if (realResult) {
        outcome.real =
            reinterpret_cast<Real>(function)(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    } else {
        outcome.word =
            reinterpret_cast<Words>(function)(w[0], w[1], w[2], w[3], w[4], w[5], w[6], w[7]);
    }
    __asm__ __volatile__("fnstcw %0" : "=m"(after));
    __asm__ __volatile__("fldcw %0" : : "m"(saved));
    if (after != controlWord) {
        char text[96];
        std::snprintf(text, sizeof text, "the x87 control word came back as 0x%X, not 0x%X", after,
                      controlWord);
        outcome.fault = text;
    }
#endif
    return outcome;
}

} // namespace kestrun_cli
