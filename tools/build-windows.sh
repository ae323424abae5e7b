#!/usr/bin/env bash
# Builds Kestrun.dll for 32-bit Windows (i686, __stdcall, for Visual Basic 6) and 64-bit Windows
# (x86_64, for 64-bit VBA) with Debian's MinGW-w64 cross compilers, then runs the checks labelled
# "windows": the export table, imports and code of each DLL, and the test programs under Wine
# (with the ANSI code page 936): those of the 64-bit DLL under wine64, those of the 32-bit DLL
# under 32-bit Wine where this machine runs 32-bit code (tools/probe-32bit.sh; Wine from
# tools/setup-wine32.sh). Where it does not, the run says so: the 32-bit test programs are built
# but not run, and the 32-bit DLL gets its static checks alone.
#
#   tools/build-windows.sh [i686|x86_64|all]     (default: all)
#
# The third-party libraries come from tools/build-windows-deps.sh (cached after the first run);
# its exit status 75 (sources unreachable) is passed on.
# The DLLs end up in build-windows-<target>/bin/Kestrun.dll. The barcode reader comes with them
# when the deps script finds the zxing-cpp release archive (KESTRUN_ZXING_ARCHIVE, see there).
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

# The Linux build's results for the table of calls (tests/windows/call_table.txt) that each
# Windows build compares with byte for byte.
linux_table=$PWD/build/tests/windows/call_table.linux.txt
[ -f build/CMakeCache.txt ] || cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$JOBS" --target call_table_test
(cd build/tests/windows && ./call_table_test --gtest_brief=1 >/dev/null) || {
    echo "The Linux build's table of calls failed: build/tests/windows/call_table_test" >&2
    exit 1
}

for target in "${TARGETS[@]}"; do
    prefix=$(sed -n "s/^prefix $target //p" <<<"$deps")
    # The x86_64 toolchain file finds wine64; the i686 programs run under 32-bit Wine, when the
    # machine runs 32-bit code at all.
    tests=()
    if [ "$target" = i686 ]; then
        if why=$(tools/probe-32bit.sh 2>&1); then
            if [ ! -x /usr/bin/wine ] || [ ! -x /usr/lib/wine/wine ]; then
                echo "32-bit Wine is missing: run tools/setup-wine32.sh (or ./setup.sh test)" >&2
                exit 1
            fi
            tests=(-DKESTRUN_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR=/usr/bin/wine)
        else
            echo "== i686: $why; the 32-bit test programs are built but not run, and the" \
                "32-bit Kestrun.dll is checked from its export table and code only" >&2
            tests=(-DKESTRUN_TESTS=ON -DCMAKE_CROSSCOMPILING_EMULATOR=)
        fi
    fi
    build=build-windows-$target
    # Libraries found in an earlier prefix must be looked up again.
    if [ "$(cat "$build/deps-prefix" 2>/dev/null)" != "$prefix" ]; then
        rm -f "$build/CMakeCache.txt"
        mkdir -p "$build"
        echo "$prefix" >"$build/deps-prefix"
    fi
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$target.cmake" -DKESTRUN_WINDOWS_DEPS="$prefix" \
        -DKESTRUN_LINUX_CALL_TABLE="$linux_table" "${tests[@]}"
    cmake --build "$build" -j"$JOBS"
    # A test program that fails is run once more before the run fails: Wine's network stack has
    # been seen to stall a batch of parallel requests once in some dozens of runs. A fault of our
    # own fails both times.
    ctest --test-dir "$build" -L windows --output-on-failure -j"$JOBS" --repeat until-pass:2
done
