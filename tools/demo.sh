#!/usr/bin/env bash
# A short tour of the libraries through their command-line hosts. Run after a build
# (./setup.sh demo does both). Each line shows the call and what it printed.
set -uo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
KESTRUN="$BUILD_DIR/tools/kestrun/kestrun"
SAFE_EVAL="$BUILD_DIR/tools/safe-eval/safe-eval"
DEMO_DIR=$(mktemp -d /tmp/kestrun-demo.XXXXXX)
trap 'rm -rf "$DEMO_DIR"' EXIT

show() {
    echo "\$ $*"
    "$@"
    echo
}

echo "== Text codecs =="
show "$KESTRUN" Base64Encode_UTF8 你好
show "$KESTRUN" Base64Decode_UTF8 5L2g5aW9
show "$KESTRUN" Base64Encode_GB 你好
show "$KESTRUN" -x Base64Decode_GB QQBC

echo "== Safe evaluator =="
show "$SAFE_EVAL" --asm 'PUSH_STR "caf\xc3\xa9\n"; PUSH_STR "au lait"; ADD'
show "$SAFE_EVAL" --hex '01 00 00 00 00 00 00 00 80 01 ff ff ff ff ff ff ff ff 13'
