#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds everything.
#   ./setup.sh demo   install packages, build, run the demo tour
#   ./setup.sh test   install packages, build, run all tests
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi

install_packages() {
    local wanted missing=() pkg
    wanted=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tools/debian-packages.txt)
    for pkg in $wanted; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -gt 0 ]; then
        echo "Installing: ${missing[*]}"
        $SUDO apt-get update -q
        DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends \
            "${missing[@]}"
    fi
    # The Windows build's tests run under Wine with the ANSI code page 936, taken from this locale.
    if ! locale -a 2>/dev/null | grep -qi '^zh_CN\.utf-\?8$'; then
        echo "Generating the zh_CN.UTF-8 locale"
        grep -qx 'zh_CN.UTF-8 UTF-8' /etc/locale.gen ||
            echo 'zh_CN.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
        $SUDO locale-gen --keep-existing
    fi
    # 32-bit Wine for the 32-bit DLL's tests, where this machine runs 32-bit code.
    tools/setup-wine32.sh
}

build() {
    cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=Release
    cmake --build "$BUILD_DIR" -j"$(nproc)"
}

case "${1:-}" in
demo)
    install_packages
    build
    BUILD_DIR="$BUILD_DIR" tools/demo.sh
    ;;
test)
    install_packages
    build
    ctest --test-dir "$BUILD_DIR" --output-on-failure -j"$(nproc)"
    ;;
*)
    echo "usage: $0 demo|test" >&2
    exit 2
    ;;
esac
