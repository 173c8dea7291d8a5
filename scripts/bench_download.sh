#!/usr/bin/env bash
# Download figures: the launcher's own HTTP path (the Linux backend and
# DownloadFile) against curl on the same 64 MiB file from the local stand-in
# server, the launcher program's peak memory, the cost of checking the
# file's signature against the time to download it, how long an unreachable
# download server holds the window during the self-update, the CPU time
# a body that stops coming costs while the launcher waits it out, what a
# 100 MB version record costs with and without the record's ceiling (bytes
# the server sent, bytes read, time, peak memory), and what
# signatures add to a start: process start to the login page's load, signed
# against unsigned, on loopback and through a relay that delays each
# connection and each answer by DELAY_MS (default 100 ms: a path with a
# 100 ms round trip).
#
#   scripts/bench_download.sh [BUILD_DIR] [--quick]
#
# BUILD_DIR holds bench/download_bench and a launcher built with an update key
# (default: build/linux, whose preset sets the demo key). The unsigned
# launcher is built beside it, in BUILD_DIR-unsigned (target Login only), when
# it is missing or out of date. The start-up figures need a display; without
# one they run under xvfb-run. --quick times one attempt against the silent
# server and multiplies it instead of waiting out all ten. Prints figures;
# checks nothing beyond the downloads being whole.
set -euo pipefail

SRC="$(cd "$(dirname "$0")/.." && pwd)"
BUILD="build/linux"
QUICK=0
STARTUP_ONLY=0
for arg in "$@"; do
  case "$arg" in
    --quick) QUICK=1 ;;
    --startup-only) STARTUP_ONLY=1 ;;
    *) BUILD="$arg" ;;
  esac
done
BUILD="$(cd "$BUILD" && pwd)"
UNSIGNED="$BUILD-unsigned"
DELAY_MS="${DELAY_MS:-100}"
STARTS="${STARTS:-5}"   # starts per launcher and path (median taken)

# Process start to the login page's load, as scripts/bench_login.sh times it
# (the page's load handler requests a marker carrying the page's own clock).
startup_figures() {
  source "$SRC/tests/linux/e2e/lib.bash"
  kvn_init "$BUILD" "$SRC"
  kvn_start_server
  touch "$state/requests.log"
  # Two relays: one without delay (loopback), one with. Each logs when the
  # requests pass, so the figures also say when the login page was asked for.
  local delay
  for delay in 0 "$DELAY_MS"; do
    python3 "$SRC/standins/server/delay_relay.py" --upstream "$port" --delay-ms "$delay" \
      --port-file "$state/relay-$delay.port" --log "$state/relay-$delay.log" & pids+=($!)
    wait_for 100 test -s "$state/relay-$delay.port" || fail "a relay did not start"
  done
  kvn_seed_install
  kvn_package_copy "$state/signed"
  kvn_package_copy "$state/unsigned"
  cp "$UNSIGNED/platform/linux/Login" "$state/unsigned/Login.exe"

  now_ms() { date +%s%3N; }
  markers() { sed -n 's/.*"target": "\/micro\/loaded?page=login&t=\([0-9]*\)".*/\1/p' "$state/requests.log"; }
  have_markers() { [ "$(markers | wc -l)" -ge "$1" ]; }
  # One start of the launcher in folder $1 through the relay with delay $2;
  # sets took (ms to the page's load) and asked (ms until the relay passed on
  # the login page's request: the downloads before it, and the process's
  # own start).
  one_start() {
    local before start pid win
    before=$(markers | wc -l)
    KORVANE_SITE="http://127.0.0.1:$(cat "$state/relay-$2.port")"
    export KORVANE_SITE KORVANE_DOWNLOAD=$KORVANE_SITE
    cd "$1"
    start=$(now_ms)
    ./Login.exe & pid=$!; pids+=($pid)
    wait_for 600 have_markers $((before + 1)) || fail "$1: the login page did not load within 60 s"
    took=$(( $(markers | sed -n "$((before + 1))p") - start ))
    asked=$(awk -v s="$start" '$1 >= s && $2 == "GET" && $3 == "/micro/" { print $1 - s; exit }' "$state/relay-$2.log")
    if win=$(window_of $pid "Korvane安装程序" | head -1) && [ -n "$win" ]; then click_in "$win" 993 93; fi
    wait_exit $pid 100 || { kill $pid 2>/dev/null || true; wait_exit $pid 50 || true; }
  }
  median_of() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

  local signatures_before
  signatures_before=$(requests_for /download/LoginExeVersionInfo.ini.sig)
  for delay in 0 "$DELAY_MS"; do
    local -a t_signed=() t_unsigned=() a_signed=() a_unsigned=()
    # Alternated, so that a slow moment of the machine falls on both.
    for _ in $(seq "$STARTS"); do
      one_start "$state/unsigned" "$delay"; t_unsigned+=("$took"); a_unsigned+=("$asked")
      one_start "$state/signed" "$delay"; t_signed+=("$took"); a_signed+=("$asked")
    done
    local label="loopback"
    [ "$delay" = 0 ] || label="+${delay} ms per connection and per answer"
    awk -v l="$label" -v u="$(median_of "${t_unsigned[@]}")" -v s="$(median_of "${t_signed[@]}")" \
        -v ur="${t_unsigned[*]}" -v sr="${t_signed[*]}" \
        -v au="$(median_of "${a_unsigned[@]}")" -v as="$(median_of "${a_signed[@]}")" 'BEGIN {
      printf "%s:\n  unsigned: page loaded, median %5d ms (runs: %s)\n", l, u, ur
      printf "  signed:   page loaded, median %5d ms (runs: %s)\n", s, sr
      printf "  signed / unsigned: %.3f (goal <= 1.10), signed - unsigned: %+d ms\n", s / u, s - u
      printf "  login page asked for, median: unsigned %d ms, signed %d ms (%+d ms)\n", au, as, as - au
    }'
  done
  local signatures=$(( $(requests_for /download/LoginExeVersionInfo.ini.sig) - signatures_before ))
  [ "$signatures" = $((2 * STARTS)) ] ||
    fail "the record's signature was fetched $signatures times in $((2 * STARTS)) signed starts"
}

if [ "$STARTUP_ONLY" = 1 ]; then
  startup_figures
  exit 0
fi
BENCH="$BUILD/bench/download_bench"
[ -x "$BENCH" ] || { echo "no $BENCH: build the target download_bench first" >&2; exit 2; }
command -v curl >/dev/null || { echo "curl is needed" >&2; exit 2; }

RUNS="${RUNS:-3}"   # timed downloads per program (median taken)
ATTEMPTS=10   # attempts per file in the self-update
FILES=3       # record, bitmap, launcher: the most files one start can try
SIZE_MIB=64

WORK="$(mktemp -d)"
SERVER_PID=""
cleanup() {
  if [ -n "$SERVER_PID" ]; then kill "$SERVER_PID" 2>/dev/null || true; wait "$SERVER_PID" 2>/dev/null || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT

mkdir -p "$WORK/root/download" "$WORK/out"
head -c $((SIZE_MIB * 1024 * 1024)) /dev/urandom > "$WORK/root/download/big.bin"
echo '{"/download/hang.bin": {"hang": true}, "/download/stall.bin": {"truncate": 5000, "stall": true},
       "/download/big.ini": {"body": "[VersionInfo]", "fill": 104857600}}' \
  > "$WORK/rules.json"
head -c 20000 /dev/urandom > "$WORK/root/download/stall.bin"

python3 "$SRC/standins/server/kvn_server.py" --root "$WORK/root" --port 0 \
  --port-file "$WORK/port" --rules "$WORK/rules.json" --sent-log "$WORK/sent.log" &
SERVER_PID=$!
for _ in $(seq 1 100); do [ -s "$WORK/port" ] && break; sleep 0.1; done
[ -s "$WORK/port" ] || { echo "the stand-in server did not start" >&2; exit 1; }
PORT="$(cat "$WORK/port")"
BASE="http://127.0.0.1:$PORT"

field() { awk -v k="$1" '$1 == k { print $2 }' "$2"; }
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "== throughput: $SIZE_MIB MiB from the local stand-in server, median of $RUNS"
"$BENCH" fetch "$BASE/download/big.bin" "$WORK/out/launcher.bin" "$RUNS" > "$WORK/fetch.txt"
cmp -s "$WORK/root/download/big.bin" "$WORK/out/launcher.bin" || { echo "launcher download differs" >&2; exit 1; }
[ "$(field failures "$WORK/fetch.txt")" = 0 ] || { echo "a launcher download failed" >&2; exit 1; }
LAUNCHER_S="$(field median_s "$WORK/fetch.txt")"
PEAK_KIB="$(field peak_kib "$WORK/fetch.txt")"
BASE_KIB="$(field peak_kib_before "$WORK/fetch.txt")"

: > "$WORK/curl.txt"
for _ in $(seq 1 "$RUNS"); do
  curl -s -o "$WORK/out/curl.bin" -w '%{time_total}\n' "$BASE/download/big.bin" >> "$WORK/curl.txt"
  cmp -s "$WORK/root/download/big.bin" "$WORK/out/curl.bin" || { echo "curl download differs" >&2; exit 1; }
done
CURL_S="$(median < "$WORK/curl.txt")"

awk -v l="$LAUNCHER_S" -v c="$CURL_S" -v m="$SIZE_MIB" -v runs="$(awk '$1=="run"{printf "%s ", $3}' "$WORK/fetch.txt")" \
    -v cruns="$(tr '\n' ' ' < "$WORK/curl.txt")" 'BEGIN {
  printf "launcher (DownloadFile): %8.1f MiB/s  (median %.3f s; runs: %s)\n", m / l, l, runs
  printf "curl -s -o:              %8.1f MiB/s  (median %.3f s; runs: %s)\n", m / c, c, cruns
  printf "ratio launcher/curl:     %8.2f        (goal >= 0.80)\n", (m / l) / (m / c)
}'
echo "launcher program peak memory (ru_maxrss): $PEAK_KIB KiB ($BASE_KIB KiB before the first download)"

echo
echo "== signature check of the downloaded $SIZE_MIB MiB (read, SHA-512, Ed25519), one run"
"$BENCH" verify "$WORK/out/launcher.bin" 1 > "$WORK/verify.txt"
[ "$(field failures "$WORK/verify.txt")" = 0 ] || { echo "the signature check failed" >&2; exit 1; }
awk -v v="$(field median_s "$WORK/verify.txt")" -v r="$(field read_median_s "$WORK/verify.txt")" \
    -v d="$(awk '$1=="run" && $2==1 {print $3}' "$WORK/fetch.txt")" 'BEGIN {
  printf "verify %.3f s (of which reading the file %.3f s) against download %.3f s (first run): %.1f%% of the download time\n", v, r, d, 100 * v / d
}'

echo
echo "== unreachable download server (session options 2000 ms connect, 5 retries, 7000 ms receive)"
# A port that accepts the connection and never answers.
if [ "$QUICK" = 1 ]; then HANG_N=1; else HANG_N=$ATTEMPTS; fi
"$BENCH" attempts "$BASE/download/hang.bin" "$WORK/out/hang.bin" "$HANG_N" > "$WORK/hang.txt"
HANG_TOTAL="$(field total_s "$WORK/hang.txt")"
HANG_ONE="$(awk '$1=="attempt"{print $3}' "$WORK/hang.txt" | median)"
# A closed port: take a free one and leave it unbound.
CLOSED_PORT="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()')"
"$BENCH" attempts "http://127.0.0.1:$CLOSED_PORT/download/Login.exe" "$WORK/out/closed.bin" "$ATTEMPTS" > "$WORK/closed.txt"
CLOSED_TOTAL="$(field total_s "$WORK/closed.txt")"
CLOSED_ONE="$(awk '$1=="attempt"{print $3}' "$WORK/closed.txt" | median)"

# A body that stops after 5000 of 20000 bytes: each attempt waits out the
# receive time-out; the figure is the CPU time spent waiting.
"$BENCH" attempts "$BASE/download/stall.bin" "$WORK/out/stall.bin" "$HANG_N" > "$WORK/stall.txt"
STALL_TOTAL="$(field total_s "$WORK/stall.txt")"
STALL_CPU="$(field cpu_s "$WORK/stall.txt")"

awk -v h1="$HANG_ONE" -v ht="$HANG_TOTAL" -v hn="$HANG_N" -v c1="$CLOSED_ONE" -v ct="$CLOSED_TOTAL" \
    -v a="$ATTEMPTS" -v f="$FILES" -v hf="$(field failures "$WORK/hang.txt")" \
    -v cf="$(field failures "$WORK/closed.txt")" 'BEGIN {
  if (hn == a)
    printf "silent server: one attempt %.2f s (median); %d attempts measured %.2f s (%d failed)\n", h1, a, ht, hf
  else
    printf "silent server: one attempt measured %.2f s; %d attempts computed %.2f s (not waited out)\n", h1, a, h1 * a
  per_file = (hn == a) ? ht : h1 * a
  printf "silent server: worst start, %d files x %d attempts: %.1f s (computed from the figure above)\n", f, a, per_file * f
  printf "closed port:   one attempt %.4f s (median); %d attempts measured %.4f s (%d failed)\n", c1, a, ct, cf
}'
awk -v t="$STALL_TOTAL" -v c="$STALL_CPU" -v n="$HANG_N" -v f="$(field failures "$WORK/stall.txt")" 'BEGIN {
  printf "stalled body:  %d attempts %.2f s (%d failed), CPU time %.3f s (%.1f%% of one core)\n", n, t, f, c, 100 * c / t
}'

echo
echo "== a 100 MB version record with an honest length: ten attempts, as the self-update makes them"
sent_to() { python3 -c 'import json,sys
print(sum(json.loads(l)["body_bytes"] for l in open(sys.argv[1]) if json.loads(l)["answered"] == sys.argv[2]))' "$WORK/sent.log" "$1"; }
for mode in record-unbounded record; do
  : > "$WORK/sent.log"
  "$BENCH" "$mode" "$BASE/download/big.ini" "$WORK/out/record.ini" "$ATTEMPTS" > "$WORK/$mode.txt"
  sleep 0.5  # the server logs an answer once it has ended
  awk -v m="$mode" -v t="$(field total_s "$WORK/$mode.txt")" -v p="$(field peak_kib "$WORK/$mode.txt")" \
      -v p0="$(field peak_kib_before "$WORK/$mode.txt")" -v s="$(sent_to /download/big.ini)" \
      -v r="$(awk '$1=="read_bytes"{n+=$2} END{print n+0}' "$WORK/$mode.txt")" \
      -v f="$(field failures "$WORK/$mode.txt")" 'BEGIN {
    printf "%-17s %5.2f s, %4d failed; body bytes sent by the server %11d, read into memory %11d; peak memory %d KiB (%d KiB before)\n",
           (m == "record" ? "with the ceiling:" : "without (before):"), t, f, s, r, p, p0
  }'
done

echo
echo "== start-up: process start to the login page loaded, signed against unsigned, median of $STARTS each"
grep -q '^KVN_UPDATE_PUBLIC_KEY:STRING=.' "$BUILD/CMakeCache.txt" ||
  { echo "$BUILD trusts no update key: no signed start to time" >&2; exit 2; }
if [ ! -f "$UNSIGNED/CMakeCache.txt" ]; then
  echo "(configuring the unsigned launcher in $UNSIGNED)"
  cmake -S "$SRC" -B "$UNSIGNED" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKVN_UPDATE_PUBLIC_KEY= \
    -DKVN_BUILD_TESTS=OFF >/dev/null
fi
cmake --build "$UNSIGNED" --target Login >/dev/null
if [ -n "${DISPLAY:-}" ]; then
  bash "$0" "$BUILD" --startup-only
else
  xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$BUILD" --startup-only
fi
