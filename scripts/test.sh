#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: host unit tests,
# Windows-side tests under Wine, and end-to-end runs of the installer.
set -uo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh || exit 1
bash scripts/build.sh || exit 1

status=0
echo "== host tests"
ctest --test-dir build/host --output-on-failure -j2 || status=1
echo "== the installer against the Windows versions it supports: size, imports, manifest"
ctest --test-dir build/win -L compat --output-on-failure -V | sed -n '/^[0-9]*: \(Test command\|Working Dir\|Environment\)/d; s/^[0-9]*: //p' || status=1
echo "== Windows-side and end-to-end tests under Wine"
ctest --test-dir build/win -LE compat --output-on-failure -j2 || status=1
ctest --test-dir build/win-gtest --output-on-failure || status=1
exit $status
