#!/usr/bin/env bash
# 32-bit Wine for the tests of the 32-bit Kestrun.dll, on a machine that runs 32-bit code
# (tools/probe-32bit.sh): Debian's wine32 through multiarch (dpkg's i386 architecture), the same
# Wine release as wine64, plus the `wine` launcher that starts either. Nothing is installed where
# the probe fails. Safe to run again: it does only what is missing.
#
# Multiarch rather than an i386 chroot: the tests then run straight from the build folder with
# the host's locale (zh_CN.UTF-8) and Wine 8.0 in both sizes from one package source, with no
# chroot to create, bind-mount into and enter as root on every run.
set -euo pipefail
cd "$(dirname "$0")/.."

if ! tools/probe-32bit.sh; then
    echo "32-bit Wine not installed: this machine does not run 32-bit code." >&2
    exit 0
fi
if [ -x /usr/bin/wine ] && [ -x /usr/lib/wine/wine ]; then
    exit 0
fi
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    echo "Adding the i386 architecture to dpkg (multiarch) for wine32"
    $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -q --no-install-recommends wine wine32:i386
