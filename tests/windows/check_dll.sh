#!/usr/bin/env bash
# Checks a cross-built Kestrun.dll without running it:
#   - its export table names exactly the exports of kestrun/exports.list, undecorated;
#   - it imports only DLLs that every Windows system has (no C++ runtime DLL);
#   - on 32-bit: every export removes its own arguments (__stdcall): each "ret" of its code
#     pops 4 bytes per argument, and its decorated symbol says the same.
#   - the math functions are glibc's (the glibc_* entry points are there), and none of
#     MinGW-w64's x87 math routines is linked in (no x87 transcendental instruction anywhere);
#   - on 32-bit: no code assumes the stack more than 4-byte aligned (as Visual Basic 6 calls):
#     every function that reads or writes 16-byte aligned SSE data on the stack realigns it
#     itself, and the math code is SSE2.
# usage: check_dll.sh OBJDUMP Kestrun.dll exports.list
set -euo pipefail
objdump=$1
dll=$2
list=$3
failed=0
fail() {
    echo "FAIL: $*"
    failed=1
}

headers=$("$objdump" -p "$dll")

# The names of the export table: the lines after "[Ordinal/Name Pointer] Table" up to a blank.
exported=$(echo "$headers" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
    on && NF == 0 {on = 0} on {print $NF}' | sort)
expected=$(grep -E '^[A-Za-z]' "$list" | awk '{print $1}' | sort)
if [ "$exported" != "$expected" ]; then
    fail "export table differs from the export list:"
    diff <(echo "$expected") <(echo "$exported") || true
fi
echo "exports: $(echo "$exported" | grep -c .) names"

# Imports: system DLLs only.
allowed='^(kernel32|user32|gdi32|gdiplus|advapi32|shell32|ole32|oleaut32|comdlg32|comctl32|msvcrt|ws2_32|winhttp|crypt32|bcrypt|shlwapi|uuid|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(echo "$headers" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort -u)
for name in $imports; do
    lower=$(echo "$name" | tr 'A-Z' 'a-z')
    [[ $lower =~ $allowed ]] || fail "imports $name, which Windows does not provide"
done
echo "imports: $(echo $imports)"

disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
symbols=$(sed -n 's/^[0-9a-f]* <\(.*\)>:$/\1/p' <<<"$disassembly")
prefix=""
grep -q 'Magic.*PE32+' <<<"$headers" || prefix=_
for fn in sin cos tan atan exp log pow acos asin atan2; do
    for variant in sse2 fma fma4; do
        grep -qxF "${prefix}glibc_${fn}_${variant}" <<<"$symbols" ||
            fail "no glibc_${fn}_${variant}: the math functions are not glibc's"
    done
done
# MinGW-w64's math routines compute with the x87 unit's transcendental instructions.
x87=$(awk -F'\t' '/^[0-9a-f]+ <.*>:$/ {sym = $0; next}
    $2 ~ /^(fsin|fcos|fsincos|fptan|fpatan|fyl2x|fyl2xp1|f2xm1)( |$)/ {print sym}' \
    <<<"$disassembly" | sort -u)
[ -z "$x87" ] || fail "x87 transcendental instructions (MinGW-w64's math routines) in: $x87"
echo "math: glibc's sin, cos, tan, atan, exp, log, pow, acos, asin, atan2; no x87 routines"

if grep -q 'Magic.*PE32+' <<<"$headers"; then
    [ $failed -eq 0 ] && echo "PASS"
    exit $failed
fi

# 32-bit: functions with aligned SSE accesses to the stack (movaps/movapd/movdqa, or packed
# arithmetic on a stack operand) must realign the stack themselves ("and $0xfffffff0,%esp").
unaligned=$(awk -F'\t' '/^[0-9a-f]+ <.*>:$/ {sym = $0; next}
    $2 ~ /and +\$0xff+f0,%esp/ {realigned[sym] = 1}
    $2 ~ /^(movap[sd]|movdqa|[a-z]+p[sd]|p[a-z]+) .*\((%esp|%ebp)/ && $2 ~ /%xmm/ &&
        $2 !~ /^mov[uhl]p[sd] / {uses[sym] = $2}
    END {for (s in uses) if (!(s in realigned)) print s " " uses[s]}' <<<"$disassembly")
if [ -n "$unaligned" ]; then
    fail "functions that need a 16-byte aligned stack without aligning it:"
    echo "$unaligned" | head -n 20
fi
sse=$(grep -cE '\s(mulsd|addsd|subsd|divsd)\s' <<<"$disassembly" || true)
[ "$sse" -gt 0 ] || fail "no SSE2 double arithmetic in the code"
echo "stack: no function relies on more than 4-byte alignment; $sse SSE2 double operations"

# 32-bit: argument bytes of each export from the kinds in the list (every argument takes 4 bytes
# on the stack: pointers, 32-bit numbers, and 16-bit ones widened).
# "symbol<TAB>instruction" for every return instruction, and the list of code symbols.
returns=$(awk -F'\t' '/^[0-9a-f]+ <.*>:$/ {sym = $0; sub(/^[0-9a-f]+ </, "", sym);
    sub(/>:$/, "", sym); next} $2 ~ /^ret/ {r = $2; sub(/[ \t]+$/, "", r); print sym "\t" r}' \
    <<<"$disassembly")
checked=0
while read -r name _result kinds; do
    count=$(wc -w <<<"$kinds")
    bytes=$((count * 4))
    symbol="_${name}@${bytes}"
    if ! grep -qxF "$symbol" <<<"$symbols"; then
        fail "$name: no code under the symbol $symbol"
        continue
    fi
    want=ret
    [ $bytes -gt 0 ] && want=$(printf 'ret +$0x%x' $bytes)
    while IFS=$'\t' read -r _sym ret; do
        if ! [[ $ret =~ ^${want//$/\\$}$ ]]; then
            fail "$name: '$ret' does not remove its $bytes argument bytes"
        fi
    done < <(awk -F'\t' -v s="$symbol" '$1 == s' <<<"$returns")
    checked=$((checked + 1))
done < <(grep -E '^[A-Za-z]' "$list")
echo "stdcall: $checked exports checked"
[ $failed -eq 0 ] && echo "PASS"
exit $failed
