#!/usr/bin/env bash
# Installs what building, testing and the demo need on Debian 12 (as root).
# Does nothing when everything is already there.
set -euo pipefail

packages=(
    cmake make g++ libgtest-dev googletest           # host build and unit tests
    g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix # Windows build: product (win32 threads), test tools
    mingw-w64-tools                                   # widl
    wine wine32:i386 fonts-wine                       # running the Windows build
    xvfb xauth x11-utils x11-apps imagemagick         # display, screenshots
    python3                                           # test harness and demo
    clang libclang-rt-14-dev                          # fuzzing the list reader
    wixl                                              # wine_bench.py's MSI to time msiexec against (from msitools)
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -q
apt-get install -y -q --no-install-recommends "${missing[@]}"
