#!/usr/bin/env bash
# Time from process start to the end of the login page's load, with the
# client installed, against the local stand-in server: the launcher, and a
# bare WebKitGTK view (bench/bare_view) loading the same page from the same
# server, their runs interleaved (in turn first) so that both meet the same
# machine. The page's load handler requests a marker address that carries
# the page's own clock (ms since the epoch), so the end point is the load
# event itself, not the moment a poll noticed it. The first run of each is
# a warm-up and not counted. Prints figures and the ratio of the medians
# (launcher / bare view); not a test.
# Usage: scripts/bench_login.sh [build dir (build/linux)] [runs of each (10)]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
runs=${2:-10}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$build" "$runs"
fi
source "$root/tests/linux/e2e/lib.bash"
kvn_init "$build" "$root"
bare="$build/bench/bare_view"
[ -x "$bare" ] || fail "no $bare (target bare_view)"
kvn_start_server
kvn_seed_install
pkg="$state/package"
kvn_package_copy "$pkg"
cd "$pkg"
url="$site/micro/"  # the launcher's login page without a login.ini

now_ms() { date +%s%3N; }
marker_times() { sed -n 's/.*"target": "\/micro\/loaded?page=login&t=\([0-9]*\)".*/\1/p' "$state/requests.log"; }
have_markers() { [ "$(marker_times | wc -l)" -ge "$1" ]; }

# One run of "launcher" or "bare"; sets ms.
markers=0
run_one() {
  local start pid loaded win
  start=$(now_ms)
  if [ "$1" = launcher ]; then ./Login.exe & pid=$!
  else "$bare" "$url" >/dev/null & pid=$!; fi
  pids+=($pid)
  markers=$((markers + 1))
  wait_for 600 have_markers "$markers" || fail "$1: the login page did not finish loading within 60 s"
  loaded=$(marker_times | sed -n "${markers}p")
  ms=$((loaded - start))
  # The launcher's close button (control 1002) ends it; a kill if it cannot.
  if [ "$1" = launcher ] && win=$(window_of $pid "Korvane安装程序" | head -1) && [ -n "$win" ]; then
    click_in "$win" 993 93
    wait_exit $pid 100 || { kill $pid 2>/dev/null || true; wait_exit $pid 50 || true; }
  else
    kill $pid 2>/dev/null || true; wait_exit $pid 50 || true
  fi
}

median() {
  local sorted n
  sorted=($(printf '%s\n' "$@" | sort -n)); n=${#sorted[@]}
  if [ $((n % 2)) -eq 1 ]; then echo "${sorted[$((n / 2))]}"
  else echo $(((sorted[n / 2 - 1] + sorted[n / 2]) / 2)); fi
}
minmax() { printf '%s\n' "$@" | sort -n | sed -n '1p;$p' | paste -sd' ' | awk '{print "min " $1 " ms, max " $2 " ms"}'; }

echo "load average before: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores"
run_one launcher; run_one bare  # warm-up
launcher=() bare_times=()
for i in $(seq "$runs"); do
  if [ $((i % 2)) -eq 1 ]; then order="launcher bare"; else order="bare launcher"; fi
  for kind in $order; do
    run_one "$kind"
    if [ "$kind" = launcher ]; then launcher+=($ms); else bare_times+=($ms); fi
    printf 'run %d %-8s %d ms\n' "$i" "$kind" "$ms"
  done
done
echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)"

ml=$(median "${launcher[@]}") mb=$(median "${bare_times[@]}")
echo "launcher, process start -> login page loaded, $runs runs: median $ml ms, $(minmax "${launcher[@]}")"
echo "bare view, process start -> login page loaded, $runs runs: median $mb ms, $(minmax "${bare_times[@]}")"
awk -v l="$ml" -v b="$mb" 'BEGIN { printf "ratio launcher / bare view (medians): %.2f\n", l / b }'
