#!/usr/bin/env bash
# The main job: builds Kelto2.exe and runs it under Wine against a local
# distribution server that serves the reference configuration, printing what
# the launcher fetched, found and decided.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target Kelto2 kelto2_standins >/dev/null
KELTO2_BUILD_DIR="$PWD/build/win64" exec /usr/bin/python3 scripts/demo.py
