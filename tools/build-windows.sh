#!/usr/bin/env bash
# Builds Kestrun.dll for 32-bit Windows (i686, __stdcall, for Visual Basic 6) and 64-bit Windows
# (x86_64, for 64-bit VBA) with Debian's MinGW-w64 cross compilers, then runs the checks labelled
# "windows": the export table, imports and argument bytes of each DLL, and the test programs of
# the 64-bit DLL under wine64 (with the ANSI code page 936).
#
#   tools/build-windows.sh [i686|x86_64|all]     (default: all)
#
# The third-party libraries come from tools/build-windows-deps.sh (cached after the first run);
# its exit status 75 (sources unreachable) is passed on.
# The DLLs end up in build-windows-<target>/bin/Kestrun.dll. ZXING_SOURCE=<zxing-cpp folder>
# adds the barcode reader.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

case "${1:-all}" in
all) TARGETS=(i686 x86_64) ;;
i686 | x86_64) TARGETS=("$1") ;;
*)
    echo "usage: $0 [i686|x86_64|all]" >&2
    exit 2
    ;;
esac

if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
    echo "The tests under Wine need the zh_CN.UTF-8 locale (ANSI code page 936):" >&2
    echo "  echo 'zh_CN.UTF-8 UTF-8' >> /etc/locale.gen && locale-gen" >&2
    exit 1
fi

# The libraries of all targets first (they build side by side). Exit status 75 from there: the
# sources could not be reached.
status=0
deps=$(tools/build-windows-deps.sh "${1:-all}") || status=$?
[ "$status" = 0 ] || exit "$status"

for target in "${TARGETS[@]}"; do
    prefix=$(sed -n "s/^prefix $target //p" <<<"$deps")
    build=build-windows-$target
    # Libraries found in an earlier prefix must be looked up again.
    if [ "$(cat "$build/deps-prefix" 2>/dev/null)" != "$prefix" ]; then
        rm -f "$build/CMakeCache.txt"
        mkdir -p "$build"
        echo "$prefix" >"$build/deps-prefix"
    fi
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$target.cmake" -DKESTRUN_WINDOWS_DEPS="$prefix" \
        ${ZXING_SOURCE:+-DKESTRUN_ZXING_SOURCE="$ZXING_SOURCE"}
    cmake --build "$build" -j"$JOBS"
    # A test program that fails is run once more before the run fails: Wine's network stack has
    # been seen to stall a batch of parallel requests once in some dozens of runs. A fault of our
    # own fails both times.
    ctest --test-dir "$build" -L windows --output-on-failure -j"$JOBS" --repeat until-pass:2
done
