#!/usr/bin/env bash
# Writes the Visual Basic declaration modules of Kestrun.dll from the export list
# (kestrun/exports.list: kinds of the arguments) and kestrun.h (their names and C types):
#   vb/Kestrun.bas     Visual Basic 6 and 32-bit VBA: Declare ... Lib "Kestrun.dll"
#   vb/Kestrun64.bas   VBA7 (64-bit Office): Declare PtrSafe, LongPtr for pointer-sized handles
# usage: tools/make-vb-modules.sh
set -euo pipefail
cd "$(dirname "$0")/.."

# kestrun.h's prototypes, one per line: "result name(type arg, type arg)".
prototypes=$(sed -n '/^extern "C" {/,/^}/p' include/kestrun.h | grep -v '^ *\(/\*\|#\|extern\|}\)' |
    tr '\n' ' ' | sed 's/;/;\n/g' | sed -e 's/  */ /g' -e 's/^ //' -e 's/ KESTRUN_CALL / /' |
    grep '(')

vb_type() { # KIND CTYPE 64BIT -> "ByVal|ByRef Type" with array marker
    local kind=$1 ctype=$2 wide=$3 handle=Long
    [[ $ctype == intptr_t* ]] && [ "$wide" = 1 ] && handle=LongPtr
    case $kind in
    in-string) echo "ByVal|String" ;;
    ref-string | out-string) echo "ByRef|String" ;;
    long) echo "ByVal|$handle" ;;
    ref-long) echo "ByRef|$handle" ;;
    integer) echo "ByVal|Integer" ;;
    flag) echo "ByVal|Boolean" ;;
    string-array) echo "ByRef()|String" ;;
    variant-array) echo "ByRef()|Variant" ;;
    ref-variant) echo "ByRef|Variant" ;;
    *)
        echo "unknown argument kind $kind" >&2
        exit 1
        ;;
    esac
}

write_module() { # FILE 64BIT
    local file=$1 wide=$2 name result kinds proto params i kind ctype arg vbdecl by type line
    {
        echo "Attribute VB_Name = \"Kestrun$([ "$wide" = 1 ] && echo 64)\""
        echo "' Declarations of Kestrun.dll, made by tools/make-vb-modules.sh from the export list."
        if [ "$wide" = 1 ]; then
            echo "' For VBA7 (64-bit Office): the 64-bit Kestrun.dll, PtrSafe, LongPtr handles."
        else
            echo "' For Visual Basic 6 and 32-bit VBA: the 32-bit Kestrun.dll."
        fi
        echo "' Strings cross as ANSI (code page 936) text; results are new strings."
        echo "Option Explicit"
        echo
        grep -E '^[A-Za-z]' kestrun/exports.list | while read -r name result kinds; do
            proto=$(echo "$prototypes" | grep -E "[ *]$name\(" || true)
            if [ -z "$proto" ]; then
                echo "$name is not declared in kestrun.h" >&2
                exit 1
            fi
            params=$(echo "$proto" | sed -e 's/^[^(]*(//' -e 's/);*$//' -e 's/)[^)]*$//')
            IFS=',' read -r -a cargs <<<"$params"
            # Each argument is written name:kind:direction.
            read -r -a kindlist <<<"$(sed -E 's/[A-Za-z0-9_]+:([a-z-]+):[a-z]+/\1/g' <<<"$kinds")"
            if [ "${#cargs[@]}" -ne "${#kindlist[@]}" ] && ! { [ "${#kindlist[@]}" -eq 0 ] &&
                [ "$params" = "void" ]; }; then
                echo "$name: kestrun.h and the export list disagree on the arguments" >&2
                exit 1
            fi
            line=""
            for i in "${!kindlist[@]}"; do
                kind=${kindlist[$i]}
                arg=$(echo "${cargs[$i]}" | sed -e 's/^ *//' -e 's/ *$//')
                ctype=$(echo "$arg" | sed -E 's/^(const )?([A-Za-z0-9_]+) *(\**) *[A-Za-z0-9_]+$/\2\3/')
                argname=$(echo "$arg" | sed -E 's/.*[ *]([A-Za-z0-9_]+)$/\1/')
                vbdecl=$(vb_type "$kind" "$ctype" "$wide")
                by=${vbdecl%%|*}
                type=${vbdecl#*|}
                if [ "$by" = "ByRef()" ]; then
                    line+="${line:+, }ByRef $argname() As $type"
                else
                    line+="${line:+, }$by $argname As $type"
                fi
            done
            local ptr=""
            [ "$wide" = 1 ] && ptr="PtrSafe "
            if [ "$result" = none ]; then
                echo "Public Declare ${ptr}Sub $name Lib \"Kestrun.dll\" ($line)"
            else
                echo "Public Declare ${ptr}Function $name Lib \"Kestrun.dll\" ($line) As $result"
            fi
        done
    } | sed 's/$/\r/' >"$file"
}

write_module vb/Kestrun.bas 0
write_module vb/Kestrun64.bas 1
echo "wrote vb/Kestrun.bas and vb/Kestrun64.bas"
