#!/usr/bin/env bash
# Checks a cross-built Kestrun.dll without running it:
#   - its export table names exactly the exports of kestrun/exports.list, undecorated;
#   - it imports only DLLs that every Windows system has (no C++ runtime DLL);
#   - on 32-bit: every export removes its own arguments (__stdcall): each "ret" of its code
#     pops 4 bytes per argument, and its decorated symbol says the same.
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

if grep -q 'Magic.*PE32+' <<<"$headers"; then
    [ $failed -eq 0 ] && echo "PASS"
    exit $failed
fi

# 32-bit: argument bytes of each export from the kinds in the list (every argument takes 4 bytes
# on the stack: pointers, 32-bit numbers, and 16-bit ones widened).
disassembly=$("$objdump" -d --no-show-raw-insn "$dll")
# "symbol<TAB>instruction" for every return instruction, and the list of code symbols.
returns=$(awk -F'\t' '/^[0-9a-f]+ <.*>:$/ {sym = $0; sub(/^[0-9a-f]+ </, "", sym);
    sub(/>:$/, "", sym); next} $2 ~ /^ret/ {r = $2; sub(/[ \t]+$/, "", r); print sym "\t" r}' \
    <<<"$disassembly")
symbols=$(sed -n 's/^[0-9a-f]* <\(.*\)>:$/\1/p' <<<"$disassembly")
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
