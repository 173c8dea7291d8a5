#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build natively (unit,
# backend and end-to-end tests under Xvfb), a short run of every fuzz
# target, then the Windows build under Wine with one fresh Wine prefix for
# the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset linux >/dev/null
cmake --build build/linux -j2
( cd build/linux && xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 300 )

# Every fuzz target: a short run over its seed corpus and a few seconds of
# new inputs, with AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/fuzz_smoke.sh

cmake --preset win32 >/dev/null
cmake --build build/win32 -j2
export WINEPREFIX="$(mktemp -d /tmp/kvn-wine.XXXXXX)"
export WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
xvfb-run -a -s "-screen 0 1280x800x24" bash -c 'wineboot -i >/dev/null 2>&1; cd build/win32 && ctest --output-on-failure --timeout 300'
