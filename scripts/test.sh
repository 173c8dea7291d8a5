#!/usr/bin/env bash
# Sets up, builds and runs every test: the Linux build natively (unit,
# backend and end-to-end tests under Xvfb), the unit and backend tests with
# the sanitizers, a short run of every fuzz target, then the Windows build
# under Wine with one fresh Wine prefix for the run (made with the Chinese
# font by scripts/wine-prefix.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --preset linux >/dev/null
cmake --build build/linux -j2
( cd build/linux && xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 300 )

# The core's unit tests and the Linux backend tests again with
# AddressSanitizer and UndefinedBehaviorSanitizer, the unit tests with
# ThreadSanitizer: any report fails the run. Leaks are reported for our own
# code; tests/sanitizers/lsan.supp lists those of the system libraries.
cmake --preset asan >/dev/null
cmake --build --preset asan -j2
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j2
(
  export ASAN_OPTIONS=detect_leaks=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
  build/asan/tests/kvn_unit_tests --gtest_brief=1
  cd build/asan && xvfb-run -a -s "-screen 0 1280x800x24" ctest --output-on-failure --timeout 300 -R '^kvn_linux\.'
  cd ../tsan && tests/kvn_unit_tests --gtest_brief=1
)

# Every fuzz target: a short run over its seed corpus and a few seconds of
# new inputs, with AddressSanitizer and UndefinedBehaviorSanitizer.
bash scripts/fuzz_smoke.sh

cmake --preset win32 >/dev/null
cmake --build build/win32 -j2
export WINEPREFIX="$(mktemp -d /tmp/kvn-wine.XXXXXX)"
export WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
xvfb-run -a -s "-screen 0 1280x800x24" bash -c 'bash scripts/wine-prefix.sh && cd build/win32 && ctest --output-on-failure --timeout 300'
