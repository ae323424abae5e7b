#!/usr/bin/env bash
# Does this machine run 32-bit x86 code? Assembles and links a static i386 program whose only act
# is the exit system call with status 42 (as --32, ld -m elf_i386: binutils, no 32-bit libraries
# needed) and runs it. Some kernels are built without 32-bit support, or have it switched off
# (the run then fails with "Exec format error").
#
#   tools/probe-32bit.sh      exit 0: 32-bit code runs; 1: it does not (the reason on stderr)
set -uo pipefail
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cat >"$dir/probe.s" <<'ASM'
    .globl _start
_start:
    movl $1, %eax
    movl $42, %ebx
    int $0x80
ASM
if ! as --32 -o "$dir/probe.o" "$dir/probe.s" 2>"$dir/err" ||
    ! ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" 2>>"$dir/err"; then
    echo "32-bit probe could not be built: $(head -n1 "$dir/err")" >&2
    exit 1
fi
"$dir/probe" 2>"$dir/err"
status=$?
if [ "$status" != 42 ]; then
    echo "32-bit code cannot run on this machine (probe exit status $status: $(head -n1 "$dir/err"))" >&2
    exit 1
fi
exit 0
