#!/usr/bin/env bash
# The manual pages of kestrun and safe-eval say what the programs print: every line of their
# --help output appears in the rendered page, and groff renders the pages without a warning.
#   man_pages_match_help.sh KESTRUN SAFE_EVAL MAN_DIR        (exit 77: man is not installed)
set -euo pipefail
kestrun=$1 safe_eval=$2 man_dir=$3
command -v man >/dev/null || {
    echo "man is not installed: skipped"
    exit 77
}
export LC_ALL=C.UTF-8 MANWIDTH=250 MAN_KEEP_FORMATTING= MANPAGER=cat PAGER=cat

# One line per line of text, blanks collapsed, typographic quotes and dashes made plain.
normalise() {
    sed -e 's/\x1b\[[0-9;]*m//g' -e 's/.\x08//g' -e 's/[‘’]/'"'"'/g' -e 's/[“”]/"/g' \
        -e 's/[−‐]/-/g' -e 's/[[:space:]]\+/ /g' -e 's/^ //' -e 's/ $//' | grep -v '^$' || true
}

failed=0
check() { # NAME PROGRAM-OUTPUT
    local page=$man_dir/$1.1 rendered warnings missing
    [ -f "$page" ] || {
        echo "$page missing"
        failed=1
        return
    }
    warnings=$(man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null || true)
    if [ -n "$warnings" ]; then
        echo "$1.1: groff warnings:"
        echo "$warnings"
        failed=1
    fi
    rendered=$(man -E UTF-8 -l "$page" 2>/dev/null | normalise)
    # The synopsis drops "usage: "; the exports' list is the page's EXPORTS section.
    missing=$(sed -e 's/^usage: //' -e '/^exports (kestrun help NAME for one):$/d' <<<"$2" |
        normalise | grep -vxF -f <(echo "$rendered") || true)
    if [ -n "$missing" ]; then
        echo "$1.1 lacks these lines of the program's help:"
        echo "$missing"
        failed=1
    fi
}

help=$("$kestrun" --help)
# Each export's own help page too, asked for in one session.
help+=$'\n'$(sed -n 's/^  \([A-Za-z0-9_]*\)(.*/help \1/p' <<<"$help" | "$kestrun")
check kestrun "$help"
check safe-eval "$("$safe_eval" --help)"
[ "$failed" = 0 ] && echo "manual pages match the programs' help"
exit "$failed"
