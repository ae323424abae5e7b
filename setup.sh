#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine and builds everything.
#   ./setup.sh demo   install packages, build, run the demo tour
#   ./setup.sh test   install packages, build, run all tests
set -euo pipefail
cd "$(dirname "$0")"

BUILD_DIR=${BUILD_DIR:-build}

install_packages() {
    local wanted missing=() pkg
    wanted=$(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' tools/debian-packages.txt)
    for pkg in $wanted; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    echo "Installing: ${missing[*]}"
    $sudo apt-get update -q
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
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
