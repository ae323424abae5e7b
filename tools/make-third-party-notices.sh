#!/usr/bin/env bash
# The notices of the third-party code that Kestrun.dll carries, collected from the sources the
# DLL was built from, never typed by hand:
#
#   tools/make-third-party-notices.sh [-o FILE] [--zxing DIR] PREFIX...
#       One entry per library (name, version, license, then the license texts): the libraries a
#       prefix of tools/build-windows-deps.sh was built from (its versions.txt names each Debian
#       source folder: debian/copyright and the upstream license files), zlib and the MinGW-w64
#       and GCC runtimes from the Debian packages installed here, zxing-cpp from DIR. Written to
#       FILE (replaced only when complete), or to standard output.
#   tools/make-third-party-notices.sh --check LINK_DIR NOTICES
#       Fails when a library on Kestrun.dll's link line (link.txt and the response files in
#       LINK_DIR, CMake's folder of the target) has no entry in NOTICES.
set -euo pipefail

# What each archive on a link line is: the entry that covers it. Archives built from our own
# sources (in the build tree and not listed here) and the system's import libraries need none.
declare -A ARCHIVE_ENTRY=(
    [sqlite3]=sqlite3 [pcre2-8]=pcre2 [pcre2-16]=pcre2 [qrencode]=qrencode [lodepng]=lodepng
    [spng]=libspng [jpeg]=libjpeg-turbo [turbojpeg]=libjpeg-turbo [gif]=giflib [qpdf]=qpdf
    [z]=zlib [zlib]=zlib [zlibstatic]=zlib [ZXing]=zxing-cpp [zxing]=zxing-cpp [glibcmath]=glibc
    [stdc++]=gcc-runtime [gcc]=gcc-runtime [gcc_eh]=gcc-runtime [gcc_s]=gcc-runtime
    [mingw32]=mingw-w64 [mingwex]=mingw-w64 [moldname]=mingw-w64 [winpthread]=mingw-w64
    [pthread]=mingw-w64 [msvcrt]=mingw-w64
)
# Import libraries of Windows system DLLs.
SYSTEM_LIBS=" kernel32 user32 gdi32 winspool shell32 ole32 oleaut32 uuid comdlg32 advapi32
    gdiplus ws2_32 wsock32 mswsock shlwapi bcrypt crypt32 secur32 winmm comctl32 version psapi
    dbghelp userenv ntdll iphlpapi rpcrt4 uxtheme imm32 setupapi msimg32 "
SYSTEM_LIBS=" $(echo $SYSTEM_LIBS) "

# Display name, license (SPDX) and the upstream files that hold license texts, per entry.
declare -A NAME=(
    [sqlite3]=SQLite [pcre2]=PCRE2 [qrencode]=libqrencode [lodepng]=LodePNG [libspng]=libspng
    [libjpeg-turbo]=libjpeg-turbo [giflib]=GIFLIB [qpdf]=qpdf [zlib]=zlib [zxing-cpp]=zxing-cpp
    [glibc]="GNU C Library (its math functions)"
    [mingw-w64]="MinGW-w64 runtime" [gcc-runtime]="GCC runtime libraries (libgcc, libstdc++)"
)
declare -A LICENSE=(
    [sqlite3]="blessing (public domain)" [pcre2]="BSD-3-Clause WITH PCRE2-exception"
    [qrencode]="LGPL-2.1-or-later" [lodepng]=Zlib [libspng]=BSD-2-Clause
    [libjpeg-turbo]="IJG AND BSD-3-Clause AND Zlib" [giflib]=MIT [qpdf]="Apache-2.0"
    [zlib]=Zlib [zxing-cpp]="Apache-2.0" [glibc]="LGPL-2.1-or-later"
    [mingw-w64]="ZPL-2.1 AND MIT AND BSD-3-Clause AND public domain (see the text)"
    [gcc-runtime]="GPL-3.0-or-later WITH GCC-exception-3.1"
)
UPSTREAM_FILES="COPYING COPYING.txt LICENSE LICENSE.txt LICENSE.md LICENSE.ZXing LICENCE NOTICE NOTICE.md
    NOTICE.txt README.ijg"
# glibc's COPYING is the GPL of its programs; the library's own terms are these.
declare -A UPSTREAM_FILES_OF=([glibc]="COPYING.LIB LICENSES")

RULE=================================================================================
THIN=--------------------------------------------------------------------------------

check() { # LINK_DIR NOTICES
    local dir=$1 notices=$2 token base name entry missing=0
    [ -f "$dir/link.txt" ] || {
        echo "no link.txt in $dir" >&2
        exit 1
    }
    [ -f "$notices" ] || {
        echo "$notices missing" >&2
        exit 1
    }
    # Every entry must be there, the runtimes always (every MinGW-w64 DLL carries them).
    local needed=" gcc-runtime mingw-w64 "
    for token in $(cat "$dir/link.txt" "$dir"/*.rsp 2>/dev/null); do
        token=${token//\"/} # response files quote their paths
        case $token in
        -l*) name=${token#-l} ;;
        -*) continue ;;
        *.a)
            base=$(basename -- "$token" .a)
            base=${base%.dll}
            name=${base#lib}
            if [ -z "${ARCHIVE_ENTRY[$name]:-}" ] && [[ $token != /* ]]; then
                continue # one of ours, built in the build tree
            fi
            ;;
        *) continue ;;
        esac
        [[ $SYSTEM_LIBS != *" ${name,,} "* ]] || continue
        entry=${ARCHIVE_ENTRY[$name]:-}
        if [ -z "$entry" ]; then
            echo "linked, but no notice entry is known for it: $token" >&2
            missing=1
            continue
        fi
        [[ $needed == *" $entry "* ]] || needed+="$entry "
    done
    for entry in $needed; do
        if ! grep -qxF "Entry: $entry" "$notices"; then
            echo "$notices has no entry for $entry (${NAME[$entry]})" >&2
            missing=1
        fi
    done
    [ "$missing" = 0 ] && echo "every linked library has its notice:$needed"
    return "$missing"
}

# The full texts of the common licenses that Debian's copyright files refer to.
COMMON_LICENSES=()
note_common_licenses() { # FILE
    local l
    for l in $(grep -o '/usr/share/common-licenses/[A-Za-z0-9.+-]*' "$1" | sort -u); do
        l=${l%.}
        [ -f "$l" ] || continue
        l=$(basename "$(readlink -f "$l")") # GPL is GPL-3, and so on
        [[ " ${COMMON_LICENSES[*]} " == *" $l "* ]] || COMMON_LICENSES+=("$l")
    done
}

text_of() { # TITLE FILE
    echo
    echo "$THIN"
    echo "$1"
    echo "$THIN"
    echo
    if [[ $2 == *.gz ]]; then zcat "$2"; else cat "$2"; fi
    note_common_licenses "$2"
}

header() { # ENTRY VERSION ORIGIN
    echo
    echo "$RULE"
    echo "${NAME[$1]} $2"
    echo "$RULE"
    echo "Entry: $1"
    echo "Version: $2"
    echo "License: ${LICENSE[$1]}"
    echo "Source: $3"
}

# An entry built from a Debian source folder of the windows-deps cache.
debian_source_entry() { # PACKAGE FOLDER
    local pkg=$1 dir=$2 folder version entry f
    folder=$(basename "$dir")
    version=${folder#"$pkg"-}
    entry=$pkg
    header "$entry" "${version%-*}" "Debian source package $pkg $version"
    case $entry in
    qrencode | glibc)
        cat <<EOF

${NAME[$entry]} is licensed under the GNU Lesser General Public License 2.1 or later and is
linked statically into Kestrun.dll. To relink Kestrun.dll with a modified version of it you need
the complete source of both: the source of this release of Kestrun (its repository, MIT-licensed,
which includes tools/build-windows-deps.sh and tools/build-windows.sh) and the Debian source
package $pkg $version (\`apt-get source $pkg=$version\` on Debian 12, or
https://snapshot.debian.org/package/$pkg/$version/). tools/build-windows-deps.sh fetches and
builds that package into its cache; change or replace the library there and run
tools/build-windows.sh to link a new Kestrun.dll.
EOF
        ;;
    esac
    [ ! -f "$dir/debian/copyright" ] || text_of "debian/copyright of $pkg $version" "$dir/debian/copyright"
    for f in ${UPSTREAM_FILES_OF[$pkg]:-$UPSTREAM_FILES}; do
        [ ! -f "$dir/$f" ] || text_of "$f of $pkg ${version%-*}" "$dir/$f"
    done
}

# zxing-cpp, from its release archive's source folder.
zxing_entry() { # FOLDER
    local zv f
    zv=$(sed -n 's/^project *( *ZXing *VERSION *"\{0,1\}\([0-9.]*\).*/\1/p' \
        "$1/CMakeLists.txt" 2>/dev/null | head -n1)
    header zxing-cpp "${zv:-unknown}" "zxing-cpp release archive zxing-cpp-${zv:-unknown}.tar.gz"
    for f in $UPSTREAM_FILES; do
        [ ! -f "$1/$f" ] || text_of "$f of zxing-cpp" "$1/$f"
    done
}

# An entry for a Debian package installed on this machine.
installed_entry() { # ENTRY PACKAGE
    local version
    version=$(dpkg-query -W -f '${Version}' "$2")
    header "$1" "$version" "Debian package $2 $version (source $(dpkg-query -W -f '${source:Package}' "$2"))"
    text_of "/usr/share/doc/$2/copyright" "/usr/share/doc/$2/copyright"
}

generate() {
    local zxing="" prefix line pkg folder src dir
    if [ "${1:-}" = --zxing ]; then
        zxing=$2
        shift 2
    fi
    [ "$#" -ge 1 ] || {
        echo "usage: $0 [-o FILE] [--zxing DIR] PREFIX... | --check LINK_DIR NOTICES" >&2
        exit 2
    }
    # The Debian source folders the prefixes were built from, each once.
    declare -A seen=()
    local entries=()
    for prefix in "$@"; do
        [ -f "$prefix/versions.txt" ] || {
            echo "$prefix/versions.txt missing: not a prefix of tools/build-windows-deps.sh" >&2
            exit 1
        }
        src=$(dirname "$prefix")/sources
        while read -r pkg folder _; do
            [ "$pkg" != googletest ] || continue # test programs only
            [ -z "${seen[$pkg]:-}" ] || continue
            dir=$src/$folder
            [ -d "$dir" ] || {
                echo "the sources of $pkg ($dir) are missing" >&2
                exit 1
            }
            seen[$pkg]=1
            entries+=("$pkg|$dir")
        done <"$prefix/versions.txt"
    done

    cat <<EOF
THIRD-PARTY NOTICES FOR KESTRUN.DLL

Kestrun is MIT-licensed (see LICENSE). Kestrun.dll (x86 and x64) also contains the third-party
libraries below, linked statically. Each entry gives the library's name, version, license and
origin, then its license texts as its source package carries them (Debian's debian/copyright and
the upstream license files); the full texts of the common licenses they refer to follow at the
end. This file is generated by tools/make-third-party-notices.sh.
EOF
    local e
    for e in "${entries[@]}"; do
        if [ "${e%%|*}" = zxing-cpp ]; then
            zxing_entry "${e#*|}"
        else
            debian_source_entry "${e%%|*}" "${e#*|}"
        fi
    done
    installed_entry zlib libz-mingw-w64-dev
    [ -z "$zxing" ] || [ -n "${seen[zxing-cpp]:-}" ] || zxing_entry "$zxing"
    installed_entry mingw-w64 mingw-w64-common
    installed_entry gcc-runtime gcc-mingw-w64-base

    if [ "${#COMMON_LICENSES[@]}" -gt 0 ]; then
        echo
        echo "$RULE"
        echo "Common license texts (from Debian's /usr/share/common-licenses)"
        echo "$RULE"
        local l
        for l in "${COMMON_LICENSES[@]}"; do
            text_of "/usr/share/common-licenses/$l" "/usr/share/common-licenses/$l"
        done
    fi
}

if [ "${1:-}" = -o ]; then
    [ "$#" -ge 2 ] || exit 2
    out=$2
    shift 2
    generate "$@" >"$out.tmp"
    mv "$out.tmp" "$out"
elif [ "${1:-}" = --check ]; then
    [ "$#" = 3 ] || {
        echo "usage: $0 --check LINK_DIR NOTICES" >&2
        exit 2
    }
    check "$2" "$3"
else
    generate "$@"
fi
