#!/usr/bin/env bash
# Runs a Windows test program under Wine. scripts/test.sh makes one fresh
# prefix per test run and exports WINEPREFIX; without it a private one is made.
set -eu
export WINEDEBUG=${WINEDEBUG:--all}
if [ -z "${WINEPREFIX:-}" ]; then
  export WINEPREFIX="$(mktemp -d /tmp/kvn-wine.XXXXXX)"
  trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
fi
# Made or not, the prefix gets the Chinese font once.
bash "$(dirname "$0")/wine-prefix.sh"
# No exec: the trap must still remove a private prefix afterwards.
if [ -z "${DISPLAY:-}" ]; then
  xvfb-run -a wine "$@"
else
  wine "$@"
fi
