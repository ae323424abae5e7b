#!/usr/bin/env bash
# The zip for Windows users: made by tools/make-windows-zip.sh from the DLLs already built, then
# unpacked and checked: every file in its place, each DLL of its architecture (the machine field
# of its PE header), the notices covering every library on either DLL's link line.
#   check_zip.sh SOURCE_DIR WORK_DIR        (exit 77: the 32-bit DLL is not built)
set -euo pipefail
src=$1 work=$2
for target in i686 x86_64; do
    [ -f "$src/build-windows-$target/bin/Kestrun.dll" ] || {
        echo "build-windows-$target/bin/Kestrun.dll is not built: skipped"
        exit 77
    }
done
rm -rf "$work"
mkdir -p "$work"
zip=$("$src/tools/make-windows-zip.sh" --no-build -o "$work")
version=$(sed -n 's/^project(kestrun_suite VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ "$(basename "$zip")" = "Kestrun-$version-windows.zip" ] || {
    echo "unexpected zip name: $zip"
    exit 1
}
unzip -q "$zip" -d "$work/unpacked"
top=$work/unpacked/Kestrun-$version-windows
failed=0
for f in x86/Kestrun.dll x64/Kestrun.dll vb/Kestrun.bas vb/Kestrun64.bas vb/Sample.bas README.txt \
    reference.md LICENSE THIRD-PARTY-NOTICES.txt; do
    [ -s "$top/$f" ] || {
        echo "missing or empty in the zip: $f"
        failed=1
    }
done

# IMAGE_FILE_HEADER.Machine: 0x014c for x86, 0x8664 for x64.
machine() {
    local pe
    pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
    [ "$(od -An -c -j"$pe" -N2 "$1" | tr -d ' ')" = PE ] || {
        echo "none"
        return
    }
    od -An -tx2 -j"$((pe + 4))" -N2 "$1" | tr -d ' '
}
[ "$(machine "$top/x86/Kestrun.dll")" = 014c ] || {
    echo "x86/Kestrun.dll is not a 32-bit x86 DLL: $(machine "$top/x86/Kestrun.dll")"
    failed=1
}
[ "$(machine "$top/x64/Kestrun.dll")" = 8664 ] || {
    echo "x64/Kestrun.dll is not an x64 DLL: $(machine "$top/x64/Kestrun.dll")"
    failed=1
}
cmp -s "$top/x64/Kestrun.dll" "$src/build-windows-x86_64/bin/Kestrun.dll" || {
    echo "x64/Kestrun.dll is not the DLL just built"
    failed=1
}

# The notices, with Windows line ends taken off, cover both DLLs' libraries.
tr -d '\r' <"$top/THIRD-PARTY-NOTICES.txt" >"$work/notices.txt"
for target in i686 x86_64; do
    "$src/tools/make-third-party-notices.sh" --check \
        "$src/build-windows-$target/kestrun/CMakeFiles/kestrun.dir" "$work/notices.txt" || failed=1
done
grep -q 'apt-get source qrencode=' "$work/notices.txt" || {
    echo "the notices do not say where libqrencode's source is"
    failed=1
}
grep -q 'Permission is hereby granted' "$top/LICENSE" || failed=1
grep -q "$(printf 'Option Explicit\r')" "$top/vb/Kestrun.bas" || {
    echo "vb/Kestrun.bas lost its Windows line ends"
    failed=1
}
grep -q 'What differs\|differs from the Linux' "$top/README.txt" || failed=1
grep -q '| OLE Automation |' "$top/README.txt" || {
    echo "README.txt lacks the table of Linux/Windows differences"
    failed=1
}
[ "$failed" = 0 ] && echo "zip ok: $zip"
exit "$failed"
