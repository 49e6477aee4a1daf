#!/usr/bin/env bash
# Runs every test of Kelto2 on a fresh Debian machine: installs what is
# missing, builds the three targets, runs the core's unit tests (sanitizers),
# the fuzzers for a bounded time, checks that Kelto2.exe builds reproducibly,
# runs the Windows layer's tests and the end-to-end tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds=${KELTO2_FUZZ_SECONDS:-20}

step() { printf '\n== %s\n' "$*"; }

step "Installing build and test packages"
scripts/install-deps.sh
step "Cross-building libpng and libjpeg-turbo (cached)"
scripts/build-deps.sh

step "Host: portable core with ASan and UBSan"
cmake --preset host >/dev/null
cmake --build --preset host -j2
ctest --preset host

step "Fuzzing (${fuzz_seconds}s per target)"
scripts/fuzz.sh build/host "$fuzz_seconds"

step "Windows x86_64"
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2
step "Windows i686 (build only)"
cmake --preset win32 >/dev/null
cmake --build --preset win32 -j2

step "Reproducible Kelto2.exe (each Windows build again in another folder, compared)"
scripts/reproducible.sh --against-build win64 win32

step "Windows layer and end-to-end tests under Wine"
KELTO2_BUILD_DIR="$PWD/build/win64" /usr/bin/python3 -m pytest tests/e2e -q -p no:cacheprovider
