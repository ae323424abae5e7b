#!/usr/bin/env bash
# Makes the download for Windows users, Kestrun-<version>-windows.zip:
#   x86/Kestrun.dll   32-bit, for Visual Basic 6 and 32-bit VBA (vb/Kestrun.bas)
#   x64/Kestrun.dll   64-bit, for 64-bit VBA (vb/Kestrun64.bas)
#   vb/               the declaration modules and the sample
#   README.txt        for Windows users (docs/windows/README.txt and the differences from Linux)
#   reference.md, LICENSE, THIRD-PARTY-NOTICES.txt (the libraries in both DLLs)
#
#   tools/make-windows-zip.sh [--no-build] [-o FOLDER]
#
# Builds and tests both DLLs first with tools/build-windows.sh, unless
# --no-build takes the DLLs already in build-windows-i686/ and build-windows-x86_64/. Writes the
# zip into FOLDER (default: dist/) and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
build=1
out=$ROOT/dist
while [ "$#" -gt 0 ]; do
    case $1 in
    --no-build) build=0 ;;
    -o)
        out=$(realpath -m "$2")
        shift
        ;;
    *)
        echo "usage: $0 [--no-build] [-o FOLDER]" >&2
        exit 2
        ;;
    esac
    shift
done

if [ "$build" = 1 ]; then
    tools/build-windows.sh all >&2
fi
version=$(sed -n 's/^project(kestrun_suite VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
prefixes=()
zxing=""
for target in i686 x86_64; do
    dll=build-windows-$target/bin/Kestrun.dll
    [ -f "$dll" ] || {
        echo "$dll missing: run tools/build-windows.sh all (or this script without --no-build)" >&2
        exit 1
    }
    prefixes+=("$(cat "build-windows-$target/deps-prefix")")
    z=$(sed -n 's/^KESTRUN_ZXING_SOURCE:PATH=\(..*\)/\1/p' "build-windows-$target/CMakeCache.txt")
    [ -z "$z" ] || zxing=$z
done

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
name=Kestrun-$version-windows
dir=$stage/$name
mkdir -p "$dir/x86" "$dir/x64" "$dir/vb"
cp build-windows-i686/bin/Kestrun.dll "$dir/x86/"
cp build-windows-x86_64/bin/Kestrun.dll "$dir/x64/"
cp vb/Kestrun.bas vb/Kestrun64.bas vb/Sample.bas "$dir/vb/"
tools/make-third-party-notices.sh ${zxing:+--zxing "$zxing"} "${prefixes[@]}" |
    sed 's/$/\r/' >"$dir/THIRD-PARTY-NOTICES.txt"
# Text files with Windows line ends; the README ends with the Linux/Windows table of README.md.
{
    sed "s/@VERSION@/$version/g" docs/windows/README.txt
    echo
    awk '/^### What differs between the Linux and Windows builds/ { on = 1; next }
         on && /^##/ { exit }
         on' README.md
} | sed 's/$/\r/' >"$dir/README.txt"
sed 's/$/\r/' LICENSE >"$dir/LICENSE"
cp docs/reference.md "$dir/reference.md"

mkdir -p "$out"
rm -f "$out/$name.zip"
(cd "$stage" && zip -q -X -r -9 "$out/$name.zip" "$name")
echo "$out/$name.zip"
