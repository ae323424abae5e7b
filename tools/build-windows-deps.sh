#!/usr/bin/env bash
# Builds the third-party static libraries Kestrun.dll links, for 32-bit and/or 64-bit Windows,
# from Debian's own source packages (apt-get source) with the MinGW-w64 cross compilers.
#
#   tools/build-windows-deps.sh [i686|x86_64|all]    (default: all)
#
# Only the static libraries are built (no programs, tests or documentation of the libraries), and
# only what a target links: GoogleTest for the targets whose test programs run here. With
# "all" the two targets build side by side. Exit status 75 means the sources could not be reached
# (no network or mirror); any other failure is 1.
#
# zxing-cpp (the barcode reader) has no Debian source package: it is built from its 1.4.0 release
# archive, checked against its SHA-256, found at KESTRUN_ZXING_ARCHIVE or else
# ../shared/third_party/zxing-cpp-1.4.0.tar.gz beside the repository. Without the archive the
# libraries are built without it and Kestrun.dll leaves the reader out.
#
# Prints the prefix of each target on stdout ("prefix <target> <dir>"), progress on stderr.
# Prefixes live in KESTRUN_WINDOWS_DEPS_CACHE (default ~/.cache/kestrun-windows-deps), one per
# target and set of source versions, so later runs reuse them. zlib comes ready-built from
# libz-mingw-w64-dev.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

CACHE=${KESTRUN_WINDOWS_DEPS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrun-windows-deps}
JOBS=${JOBS:-$(nproc)}
# In order of use; qpdf (the longest build, after the libjpeg it links) last. Each package is
# built once per prefix, so a prefix that lacks one only gains that one.
PACKAGES=(sqlite3 pcre2 qrencode lodepng libspng libjpeg-turbo giflib googletest glibc qpdf)
# Packages that joined after the prefixes' key was set: the key leaves them out, so an existing
# prefix gains them instead of being built again.
LATE_PACKAGES=" glibc "
# Part of the cache key: raise it when every prefix must be built again.
RECIPE=1
# Revision of a package's build recipe below (1 when not listed): raise it when the recipe
# changes, and only that package is built again in existing prefixes.
declare -A REVISION=([sqlite3]=2)

ZXING_VERSION=1.4.0
ZXING_SHA256=905010dd852891ed5fb4a8d0698466c9352b9760c5972e24433dfe5b2982553d
ZXING_ARCHIVE=${KESTRUN_ZXING_ARCHIVE:-$ROOT/../shared/third_party/zxing-cpp-$ZXING_VERSION.tar.gz}

case "${1:-all}" in
all) TARGETS=(i686 x86_64) ;;
i686 | x86_64) TARGETS=("$1") ;;
*)
    echo "usage: $0 [i686|x86_64|all]" >&2
    exit 2
    ;;
esac

# Progress goes to stderr; stdout carries only the "prefix" lines.
log() { echo "[windows-deps] $*" >&2; }

# apt works on a private state folder holding deb-src entries for the release this machine runs;
# the system's own sources and lists stay untouched.
APT_STATE=$CACHE/apt
mkdir -p "$APT_STATE/lists/partial" "$APT_STATE/parts" "$CACHE/sources"
CODENAME=$(. /etc/os-release && echo "$VERSION_CODENAME")
{
    echo "deb-src http://deb.debian.org/debian $CODENAME main"
    echo "deb-src http://deb.debian.org/debian $CODENAME-updates main"
    echo "deb-src http://deb.debian.org/debian-security $CODENAME-security main"
} >"$APT_STATE/sources.list"
APT_OPTS=(-o "Dir::Etc::SourceList=$APT_STATE/sources.list" -o "Dir::Etc::SourceParts=$APT_STATE/parts"
    -o "Dir::State::Lists=$APT_STATE/lists" -o "Debug::NoLocking=1")

# Candidate versions of a source package, newest first.
versions_of() {
    apt-cache "${APT_OPTS[@]}" showsrc "$1" 2>/dev/null | sed -n 's/^Version: //p' | sort -rV -u
}

declare -A SRC_VERSION=()
RESOLVED=0
# Exit status when the sources cannot be reached at all.
UNREACHABLE=75
resolve_versions() {
    local updated=1
    # apt-get update reports unreachable lists as warnings and still succeeds.
    if ! apt-get "${APT_OPTS[@]}" -q update >"$APT_STATE/update.log" 2>&1 ||
        grep -q '^\(E:\|W: Failed to fetch\)' "$APT_STATE/update.log"; then
        log "apt-get update of the source lists failed (see $APT_STATE/update.log)"
        updated=0
    fi
    local pkg v
    for pkg in "${PACKAGES[@]}"; do
        v=$(versions_of "$pkg" | head -n1) || v=""
        if [ -z "$v" ]; then
            log "no source package $pkg known to apt"
            [ "$updated" = 1 ] || exit $UNREACHABLE
            exit 1
        fi
        SRC_VERSION[$pkg]=$v
    done
    RESOLVED=1
}

# Unpacks the sources of PKG into $CACHE/sources/PKG-<version> and prints that folder. Tries the
# newest version, then older ones; when no complete source package downloads, unpacks the
# newest original tarball that did.
fetch() {
    local pkg=$1 dir v upstream orig="" orig_v="" found work
    for v in $(versions_of "$pkg"); do
        # No epoch in folder names: make cannot handle a colon in a path.
        dir=$CACHE/sources/$pkg-${v#*:}
        if [ -f "$dir/.unpacked" ]; then
            echo "$dir"
            return
        fi
        work=$CACHE/sources/download-$pkg-${v#*:}
        rm -rf "$work" "$dir"
        mkdir -p "$work"
        if (cd "$work" && apt-get "${APT_OPTS[@]}" -q source --download-only "$pkg=$v" \
            >"$work/apt.log" 2>&1); then
            [ "$v" = "${SRC_VERSION[$pkg]}" ] ||
                log "$pkg: using $v (the sources of ${SRC_VERSION[$pkg]} are not on the mirror)" >&2
            (cd "$work" && dpkg-source --no-check -x ./*.dsc "$dir" >/dev/null)
            touch "$dir/.unpacked"
            echo "$dir"
            return
        fi
        log "$pkg $v: sources not (all) on the mirror, trying an older version" >&2
        upstream=${v#*:}
        upstream=${upstream%-*}
        found=$(find "$work" -maxdepth 1 -name "${pkg}_${upstream}.orig.tar.*" ! -name '*.asc' | head -n1)
        if [ -z "$orig" ] && [ -n "$found" ]; then
            orig=$found
            orig_v=$v
        fi
    done
    if [ -n "$orig" ]; then
        log "$pkg $orig_v: no complete source package on the mirror; using the original tarball alone" >&2
        dir=$CACHE/sources/$pkg-${orig_v#*:}
        mkdir -p "$dir"
        tar -xf "$orig" -C "$dir" --strip-components=1
        touch "$dir/.unpacked"
        echo "$dir"
        return
    fi
    log "$pkg: no version of the sources could be fetched" >&2
    exit $UNREACHABLE
}

# Runs a command with its output in LOG; when it fails, shows the end of LOG.
logged() { # LOG COMMAND...
    local out=$1 status=0
    shift
    "$@" >"$out" 2>&1 || status=$?
    if [ "$status" != 0 ]; then
        log "${TARGET:-host}: failed ($status): $*" >&2
        tail -n 40 "$out" >&2
    fi
    return "$status"
}

cmake_configure() { # SOURCE BUILD [cmake options...]
    local src=$1 bld=$2
    shift 2
    logged "$bld.configure.log" cmake -S "$src" -B "$bld" -G "Unix Makefiles" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-$TARGET.cmake" \
        -DKESTRUN_WINDOWS_DEPS="$PREFIX" -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF "$@"
}

cmake_lib() { # SOURCE BUILD [cmake options...]
    cmake_configure "$@"
    logged "$2.build.log" nice -n 10 cmake --build "$2" -j"$JOBS"
    logged "$2.install.log" cmake --install "$2"
}

archive() { # NAME OBJECTS...
    local name=$1
    shift
    mkdir -p "$PREFIX/lib"
    rm -f "$PREFIX/lib/lib$name.a"
    "$TRIPLE-gcc-ar-posix" rcs "$PREFIX/lib/lib$name.a" "$@"
}

pc_file() { # NAME VERSION LIBS [CFLAGS]
    mkdir -p "$PREFIX/lib/pkgconfig"
    cat >"$PREFIX/lib/pkgconfig/$1.pc" <<EOF
prefix=$PREFIX
libdir=\${prefix}/lib
includedir=\${prefix}/include

Name: $1
Description: $1 (static, cross-built from the Debian sources)
Version: $2
Libs: -L\${libdir} $3
Cflags: -I\${includedir} ${4:-}
EOF
}

# The SQLite amalgamation (sqlite3.c, sqlite3.h) is generated with host tools (tclsh, lemon), the
# same for every target: once per source folder, into SOURCE/amalgamation.
sqlite3_amalgamation() { # SOURCE
    local src=$1 gen=$1/amalgamation.build
    [ -f "$src/amalgamation/.done" ] && return
    rm -rf "$gen" "$src/amalgamation"
    mkdir -p "$gen"
    log "host: generating the SQLite amalgamation"
    (cd "$gen" && logged configure.log "$src/configure" --disable-tcl &&
        logged make.log nice -n 10 make -j"$JOBS" sqlite3.c)
    mkdir -p "$src/amalgamation"
    cp "$gen/sqlite3.c" "$gen/sqlite3.h" "$src/amalgamation/"
    touch "$src/amalgamation/.done"
    rm -rf "$gen"
}

build_sqlite3() {
    local src=$1 bld=$2 up
    up=${SRC_VERSION[sqlite3]%-*}
    nice -n 10 "$CC" -O2 -c "$src/amalgamation/sqlite3.c" -o "$bld/sqlite3.o" -DSQLITE_THREADSAFE=1 \
        -DSQLITE_ENABLE_COLUMN_METADATA -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_JSON1 \
        -DSQLITE_ENABLE_RTREE -DSQLITE_ENABLE_UNLOCK_NOTIFY -DSQLITE_USE_URI=1 \
        -DSQLITE_OMIT_LOAD_EXTENSION
    archive sqlite3 "$bld/sqlite3.o"
    mkdir -p "$PREFIX/include"
    cp "$src/amalgamation/sqlite3.h" "$src/src/sqlite3ext.h" "$PREFIX/include/" 2>/dev/null ||
        cp "$src/amalgamation/sqlite3.h" "$PREFIX/include/"
    pc_file sqlite3 "$up" "-lsqlite3"
}

build_pcre2() {
    cmake_lib "$1" "$2" -DPCRE2_BUILD_PCRE2_8=ON -DPCRE2_BUILD_PCRE2_16=ON -DPCRE2_SUPPORT_JIT=ON \
        -DPCRE2_BUILD_PCRE2GREP=OFF -DPCRE2_BUILD_TESTS=OFF -DPCRE2_SUPPORT_LIBBZ2=OFF \
        -DPCRE2_SUPPORT_LIBZ=OFF -DPCRE2_SUPPORT_LIBEDIT=OFF -DPCRE2_SUPPORT_LIBREADLINE=OFF
    local up=${SRC_VERSION[pcre2]%-*}
    pc_file libpcre2-8 "$up" "-lpcre2-8" "-DPCRE2_STATIC"
    pc_file libpcre2-16 "$up" "-lpcre2-16" "-DPCRE2_STATIC"
}

build_qrencode() {
    cmake_lib "$1" "$2" -DWITH_TOOLS=OFF -DWITH_TESTS=OFF
    pc_file libqrencode "${SRC_VERSION[qrencode]%-*}" "-lqrencode"
}

build_lodepng() {
    nice -n 10 "$CXX" -O2 -c "$1/lodepng.cpp" -o "$2/lodepng.o"
    archive lodepng "$2/lodepng.o"
    mkdir -p "$PREFIX/include"
    cp "$1/lodepng.h" "$PREFIX/include/"
}

build_libspng() {
    # On 32-bit x86, GCC 12's intrinsics headers reject libspng's SSE2 target pragma: plain C.
    local opt=()
    [ "$TARGET" != i686 ] || opt=(-DSPNG_DISABLE_OPT)
    nice -n 10 "$CC" -O2 -DSPNG_STATIC "${opt[@]}" -c "$1/spng/spng.c" -o "$2/spng.o"
    archive spng "$2/spng.o"
    mkdir -p "$PREFIX/include"
    cp "$1/spng/spng.h" "$PREFIX/include/"
    # zlib comes from the consumer (find_package(ZLIB), static): "-lz" here would pick zlib1.dll.
    pc_file spng "${SRC_VERSION[libspng]%-*}" "-lspng" "-DSPNG_STATIC"
}

build_libjpeg_turbo() {
    # The library alone: its install rules would also want the programs.
    cmake_configure "$1" "$2" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_TURBOJPEG=OFF \
        -DWITH_SIMD=OFF
    logged "$2.build.log" nice -n 10 cmake --build "$2" -j"$JOBS" --target jpeg-static
    mkdir -p "$PREFIX/lib" "$PREFIX/include"
    cp "$2/libjpeg.a" "$PREFIX/lib/"
    cp "$2/jconfig.h" "$1/jerror.h" "$1/jmorecfg.h" "$1/jpeglib.h" "$PREFIX/include/"
}

build_giflib() {
    local f objs=()
    for f in dgif_lib egif_lib gifalloc gif_err gif_font gif_hash openbsd-reallocarray quantize; do
        nice -n 10 "$CC" -O2 -c "$1/$f.c" -o "$2/$f.o"
        objs+=("$2/$f.o")
    done
    archive gif "${objs[@]}"
    mkdir -p "$PREFIX/include"
    cp "$1/gif_lib.h" "$PREFIX/include/"
}

build_qpdf() {
    local src=$1 bld=$2
    # qpdf's checks link "Advapi32", a name only a case-insensitive file system finds: every
    # check would fail (no <stdint.h>, no fseeko64, ...) and the library would not compile.
    sed -i 's/\bAdvapi32\b/advapi32/' "$src/CMakeLists.txt"
    # qpdf's library alone, static, with its own crypto code (no OpenSSL or GnuTLS); zlib from
    # libz-mingw-w64-dev and libjpeg from this prefix, named by file so that the installed CMake
    # package links those static archives (pkg-config would hand out a bare "-ljpeg").
    cmake -S "$src" -B "$bld" -G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-$TARGET.cmake" -DKESTRUN_WINDOWS_DEPS="$PREFIX" \
        -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON \
        -DUSE_IMPLICIT_CRYPTO=OFF -DREQUIRE_CRYPTO_NATIVE=ON -DBUILD_DOC=OFF -DINSTALL_MANUAL=OFF \
        -DINSTALL_EXAMPLES=OFF -DINSTALL_PKGCONFIG=OFF -DPKG_CONFIG_EXECUTABLE=/bin/false \
        -DZLIB_H_PATH="/usr/$TRIPLE/include" -DZLIB_LIB_PATH="/usr/$TRIPLE/lib/libz.a" \
        -DLIBJPEG_H_PATH="$PREFIX/include" -DLIBJPEG_LIB_PATH="$PREFIX/lib/libjpeg.a" \
        >"$bld.configure.log"
    nice -n 10 cmake --build "$bld" -j"$JOBS" --target libqpdf >"$bld.build.log"
    # Headers, archive and CMake package; the programs, tests and examples are never built.
    cmake --install "$bld" --component dev >"$bld.install.log"
    cmake --install "$bld" --component Unspecified >>"$bld.install.log"
}

# Unpacks the zxing-cpp release archive into $CACHE/sources (beside the Debian sources, with its
# license files) after checking its checksum, and prints that folder.
unpack_zxing() {
    local dir=$CACHE/sources/zxing-cpp-$ZXING_VERSION sum
    sum=$(sha256sum "$ZXING_ARCHIVE" | cut -d' ' -f1)
    if [ "$sum" != "$ZXING_SHA256" ]; then
        log "$ZXING_ARCHIVE: SHA-256 $sum, expected $ZXING_SHA256 (zxing-cpp-$ZXING_VERSION.tar.gz)"
        exit 1
    fi
    if [ ! -f "$dir/.unpacked" ]; then
        rm -rf "$dir"
        mkdir -p "$dir"
        tar -xzf "$ZXING_ARCHIVE" -C "$dir" --strip-components=1
        touch "$dir/.unpacked"
    fi
    echo "$dir"
}

build_zxing_cpp() {
    # The reader alone, as the library calls it. On i686 its floating point is SSE2, as on
    # x86-64, so that detection does not depend on the caller's x87 precision.
    local flags=()
    [ "$TARGET" != i686 ] ||
        flags=(-DCMAKE_CXX_FLAGS="-msse2 -mfpmath=sse -mincoming-stack-boundary=2")
    cmake_lib "$1" "$2" -DBUILD_READERS=ON -DBUILD_WRITERS=OFF -DBUILD_EXAMPLES=OFF \
        -DBUILD_BLACKBOX_TESTS=OFF -DBUILD_UNIT_TESTS=OFF -DBUILD_PYTHON_MODULE=OFF "${flags[@]}"
}

# glibc's double-precision sin, cos, tan, atan, exp, log, pow, asin, acos and atan2
# (sysdeps/ieee754/dbl-64), so
# that Kestrun.dll computes what the Linux build's libm computes (tools/windows-libm/README.md).
# Each entry point is built plain (SSE2), with FMA + AVX2 and with FMA4, as glibc builds them for
# x86-64; the i686 build does its arithmetic in SSE2 and assumes only a 4-byte aligned stack.
build_glibc() {
    local dbl=$1/sysdeps/ieee754/dbl-64 bld=$2 f variant objs=() flags
    flags=(-O2 -std=gnu11 -frounding-math -fno-math-errno -include glibc_names.h
        -I"$ROOT/tools/windows-libm/include" -I"$dbl")
    [ "$TARGET" != i686 ] || flags+=(-msse2 -mfpmath=sse -mincoming-stack-boundary=2)
    # Shared tables and helpers; the argument reduction relies on exact double rounding.
    for f in branred sincostab e_exp_data e_log_data e_pow_log_data math_err; do
        nice -n 10 "$CC" "${flags[@]}" -ffp-contract=off -c "$dbl/$f.c" -o "$bld/$f.o"
        objs+=("$bld/$f.o")
    done
    for variant in sse2 fma fma4; do
        local extra=()
        case $variant in
        fma) extra=(-mfma -mavx2) ;;
        fma4) extra=(-mfma4) ;;
        esac
        for f in s_sin s_tan s_atan e_exp e_log e_pow e_asin e_atan2; do
            nice -n 10 "$CC" "${flags[@]}" "${extra[@]}" -DGLIBC_MATH_VARIANT="$variant" \
                -c "$dbl/$f.c" -o "$bld/$f-$variant.o"
            objs+=("$bld/$f-$variant.o")
        done
    done
    archive glibcmath "${objs[@]}"
    mkdir -p "$PREFIX/share/glibcmath"
    cp "$1/COPYING.LIB" "$PREFIX/share/glibcmath/"
}

build_googletest() {
    cmake_lib "$1" "$2" -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -Dgtest_force_shared_crt=ON
}

# The packages TARGET links. GoogleTest is built for both: the test programs are built for both
# targets, and the i686 ones run where this machine runs 32-bit code (tools/probe-32bit.sh).
target_packages() { # TARGET
    local pkg
    for pkg in "${PACKAGES[@]}"; do
        # qpdf, the longest build, stays last.
        [ "$pkg" != qpdf ] || [ "$ZXING" = 0 ] || echo zxing-cpp
        echo "$pkg"
    done
}

use_target() { # TARGET: sets TARGET, TRIPLE, CC, CXX and PREFIX
    TARGET=$1
    TRIPLE=$TARGET-w64-mingw32
    CC=$TRIPLE-gcc-posix
    CXX=$TRIPLE-g++-posix
    PREFIX=${PREFIX_OF[$TARGET]:-}
}

# True when the prefix of the current target holds PKG built with its current recipe. The stamp
# names the source folder, then " rev<N>" past revision 1.
is_built() { # PKG
    local stamp=$PREFIX/.built/$1 want=${REVISION[$1]:-1} have
    [ -f "$stamp" ] || return 1
    have=$(sed -n 's/.* rev\([0-9]*\)$/\1/p' "$stamp")
    [ "${have:-1}" = "$want" ]
}

# Builds what the prefix of TARGET still lacks, from the sources in SRC_DIR.
build_target() { # TARGET
    use_target "$1"
    local pkg stamp bld start rev
    mkdir -p "$PREFIX/.built" "$PREFIX/.build"
    for pkg in $(target_packages "$TARGET"); do
        stamp=$PREFIX/.built/$pkg
        if is_built "$pkg"; then
            log "$TARGET: $pkg $(cat "$stamp") cached"
            continue
        fi
        bld=$PREFIX/.build/$pkg
        rm -rf "$bld"
        mkdir -p "$bld"
        log "$TARGET: building $pkg from $(basename "${SRC_DIR[$pkg]}")"
        start=$SECONDS
        "build_${pkg//-/_}" "${SRC_DIR[$pkg]}" "$bld"
        rev=${REVISION[$pkg]:-1}
        echo "$(basename "${SRC_DIR[$pkg]}")$([ "$rev" = 1 ] || echo " rev$rev")" >"$stamp"
        rm -rf "$bld"
        log "$TARGET: $pkg done in $((SECONDS - start)) s"
    done
    for pkg in $(target_packages "$TARGET"); do
        echo "$pkg $(cat "$PREFIX/.built/$pkg")"
    done >"$PREFIX/versions.txt"
}

# First, one step at a time: tools, source versions, each target's prefix and the sources that
# are still to be built.
declare -A PREFIX_OF=() SRC_DIR=()
ZXING=0
if [ -f "$ZXING_ARCHIVE" ]; then
    # Checked and unpacked on every run, so that its sources (and license) are in the cache
    # whether or not a prefix still needs them.
    ZXING=1
    ZXING_SRC=$(unpack_zxing)
else
    log "no zxing-cpp-$ZXING_VERSION.tar.gz at $ZXING_ARCHIVE: the barcode reader is left out" \
        "(KESTRUN_ZXING_ARCHIVE=<path of zxing-cpp-$ZXING_VERSION.tar.gz> adds it)"
fi
for target in "${TARGETS[@]}"; do
    use_target "$target"
    for tool in "$CC" "$CXX"; do
        command -v "$tool" >/dev/null || {
            log "$tool missing: apt-get install g++-mingw-w64-${TARGET/_/-}-posix"
            exit 1
        }
    done
    [ -f "/usr/$TRIPLE/lib/libz.a" ] || {
        log "zlib for $TRIPLE missing: apt-get install libz-mingw-w64-dev"
        exit 1
    }
    [ "$RESOLVED" = 1 ] || resolve_versions
    key=$(
        echo "recipe $RECIPE"
        for pkg in "${PACKAGES[@]}"; do
            [[ "$LATE_PACKAGES" == *" $pkg "* ]] || echo "$pkg ${SRC_VERSION[$pkg]}"
        done | sort
        cat "$ROOT/cmake/mingw-w64.cmake" "$ROOT/cmake/mingw-w64-$TARGET.cmake"
        "$CXX" --version | head -n1
    )
    PREFIX_OF[$TARGET]=$CACHE/$TARGET-$(echo "$key" | sha256sum | cut -c1-16)
    PREFIX=${PREFIX_OF[$TARGET]}
    for pkg in $(target_packages "$TARGET"); do
        if ! is_built "$pkg" && [ -z "${SRC_DIR[$pkg]:-}" ]; then
            if [ "$pkg" = zxing-cpp ]; then
                SRC_DIR[$pkg]=$ZXING_SRC
            else
                SRC_DIR[$pkg]=$(fetch "$pkg")
            fi
        fi
    done
done
[ -z "${SRC_DIR[sqlite3]:-}" ] || sqlite3_amalgamation "${SRC_DIR[sqlite3]}"

# Then the targets side by side: each keeps both cores busy while the other configures.
pids=()
for target in "${TARGETS[@]}"; do
    build_target "$target" &
    pids+=($!)
done
failed=0
for pid in "${pids[@]}"; do
    wait "$pid" || failed=1
done
[ "$failed" = 0 ] || exit 1
for target in "${TARGETS[@]}"; do
    echo "prefix $target ${PREFIX_OF[$target]}"
done
