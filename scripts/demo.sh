#!/usr/bin/env bash
# Installs what is needed, builds the installer and runs it on a demo
# Vantrel in a Wine prefix: on $DISPLAY when there is one, else under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/win -j"$(nproc)" --target LiveUpdateSetup lucheck uia payload_com payload_client payload_tlb
export LU_EXE=$PWD/build/win/LiveUpdateSetup.exe
export LUCHECK_EXE=$PWD/build/win/lucheck.exe
export UIA_EXE=$PWD/build/win/tests/e2e/uia.exe
export LU_PAYLOAD=$PWD/build/win/tests/payload
export E2E_WORK=$PWD/build/demo
mkdir -p "$E2E_WORK"
if [ -n "${DISPLAY:-}" ]; then export E2E_USE_DISPLAY=1; fi
python3 scripts/demo.py
