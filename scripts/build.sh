#!/usr/bin/env bash
# Builds the three trees: build/host (native, unit tests), build/win (the
# installer and the Windows-side tools, cross-built with mingw-w64's
# win32-thread compiler) and build/win-gtest (the Windows-side GoogleTest
# programs, with the posix-thread compiler). The Wine tests of both Windows
# trees share one prepared prefix under build/win/e2e.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
e2e_work="$PWD/build/win/e2e"
cmake -S . -B build/host -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build build/host -j"$jobs"
for threads in win32 posix; do
    tree=build/win; [ "$threads" = posix ] && tree=build/win-gtest
    cmake -S . -B "$tree" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
        -DLU_MINGW_THREADS="$threads" -DLU_E2E_WORK="$e2e_work" >/dev/null
    cmake --build "$tree" -j"$jobs"
done
