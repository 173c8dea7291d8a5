#!/usr/bin/env bash
# Time from the launcher's process start to the end of the login page's load,
# with the client installed, over several runs against the local stand-in
# server. The page's load handler requests a marker address that carries the
# page's own clock (ms since the epoch), so the end point is the load event
# itself, not the moment a poll noticed it. Prints figures; not a test.
# Usage: scripts/bench_login.sh [build dir (build/linux)] [runs (5)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
runs=${2:-5}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$build" "$runs"
fi
source "$root/tests/linux/e2e/lib.bash"
kvn_init "$build" "$root"
kvn_start_server
kvn_seed_install
pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"

now_ms() { date +%s%3N; }
marker_times() { sed -n 's/.*"target": "\/micro\/loaded?page=login&t=\([0-9]*\)".*/\1/p' "$state/requests.log"; }
have_markers() { [ "$(marker_times | wc -l)" -ge "$1" ]; }

times=()
for i in $(seq "$runs"); do
  start=$(now_ms)
  ./Login.exe & pid=$!; pids+=($pid)
  wait_for 600 have_markers "$i" || fail "run $i: the login page did not finish loading within 60 s"
  loaded=$(marker_times | sed -n "${i}p")
  times+=($((loaded - start)))
  # The close button (control 1002) ends the launcher; a kill if it cannot.
  if win=$(window_of $pid "Korvane安装程序" | head -1) && [ -n "$win" ]; then click_in "$win" 993 93; fi
  wait_exit $pid 100 || { kill $pid 2>/dev/null || true; wait_exit $pid 50 || true; }
  printf 'run %d: %d ms\n' "$i" "${times[-1]}"
done

sorted=($(printf '%s\n' "${times[@]}" | sort -n))
n=${#sorted[@]}
if [ $((n % 2)) -eq 1 ]; then median=${sorted[$((n / 2))]}
else median=$(((sorted[n / 2 - 1] + sorted[n / 2]) / 2)); fi
echo "process start -> login page loaded, $n runs: median ${median} ms, min ${sorted[0]} ms, max ${sorted[-1]} ms"
