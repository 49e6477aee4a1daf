#!/usr/bin/env bash
# The main job: builds Kelto2.exe and runs it under Wine against a local
# distribution server (and once against nginx): a whole install with its
# window, then the hand-over paths. Prints what the launcher fetched, decided
# and logged, and saves screenshots of the window under build/win64/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh
scripts/build-deps.sh
cmake --preset win64 >/dev/null
cmake --build --preset win64 -j2 --target Kelto2 kelto2_standins >/dev/null
KELTO2_BUILD_DIR="$PWD/build/win64" exec /usr/bin/python3 scripts/demo.py
