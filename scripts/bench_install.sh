#!/usr/bin/env bash
# First start with a large client archive: builds a KVNClient.7z of random,
# incompressible data (by default 3000 files, about 205 MiB) beside the real
# stand-in client, runs the launcher's first start with it, and compares the
# launcher's extraction with a plain "7zz x" of the same archive. The
# package's 7zr.exe is wrapped by a script that logs its start and end and
# runs the real extractor, which adds a few milliseconds. The login page's
# load handler reports the page's own clock. Prints figures; not a test.
# Runs are repeated (launcher, then plain, in turn) and medians reported,
# since a shared machine's disk and processors make single runs noisy.
# Usage: scripts/bench_install.sh [build dir (build/linux)] [files (3000)] [KiB per file (70)] [runs (5)]
# KVN_BENCH_MX sets the archive's 7-Zip compression level: default 0, stored, as
# random data does not compress and LZMA2 would store it in chunks anyway.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/linux}
files=${2:-3000}
kib=${3:-70}
runs=${4:-5}
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x800x24" bash "$0" "$build" "$files" "$kib" "$runs"
fi
source "$root/tests/linux/e2e/lib.bash"
kvn_init "$build" "$root"
kvn_start_server
work=$state/bench
mkdir -p "$work/stage"
now_ms() { date +%s%3N; }

# The archive: the stand-in client plus data/NN/NNNN.bin, 100 files a folder.
echo "building the archive: $files files of $kib KiB"
t0=$(now_ms)
cp -r "$build/standins/client/." "$work/stage/"
python3 - "$work/stage/data" "$files" "$kib" <<'EOF'
import os, sys
base, count, kib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    folder = os.path.join(base, "%02d" % (i // 100))
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "%04d.bin" % i), "wb") as f:
        f.write(os.urandom(kib * 1024))
EOF
(cd "$work/stage" && 7zz a -bso0 -bsp0 "-mx${KVN_BENCH_MX:-0}" "$work/KVNClient.7z" .) >/dev/null
rm -rf "$work/stage"
archive_mib=$(( $(stat -c %s "$work/KVNClient.7z") / 1048576 ))
echo "archive: ${archive_mib} MiB, built in $(( $(now_ms) - t0 )) ms"

# The package with that archive, and an extractor that logs its run.
pkg="$state/package"
kvn_package_copy "$pkg"
cp "$work/KVNClient.7z" "$pkg/KVNClient.7z"
mv "$pkg/7zr.exe" "$pkg/7zr.real"
cat > "$pkg/7zr.exe" <<EOF
#!/bin/sh
echo "start \$(date +%s%3N)" >> "$work/7zr.log"
"$pkg/7zr.real" "\$@"
rc=\$?
echo "end \$(date +%s%3N)" >> "$work/7zr.log"
exit \$rc
EOF
chmod 755 "$pkg/7zr.exe"
cd "$pkg"

marker() { sed -n "s/.*\"target\": \"\/micro\/loaded?page=$1&t=\([0-9]*\)\".*/\1/p" "$state/requests.log" | tail -1; }
stamp() { sed -n "s/^$1 //p" "$work/7zr.log" 2>/dev/null | tail -1; }
have_marker() { [ "$(grep -c "loaded?page=$1&" "$state/requests.log" || true)" -ge "$2" ]; }
have_stamp() { [ "$(grep -c "^$1 " "$work/7zr.log" 2>/dev/null || true)" -ge "$2" ]; }

# A machine on which the launcher never ran: no install, no registry value,
# no shortcuts.
reset_machine() {
  rm -rf "$state/C" "$HOME" "$XDG_RUNTIME_DIR"
  mkdir -p "$HOME/Desktop" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME/applications" "$XDG_RUNTIME_DIR" "$state/C"
  chmod 700 "$XDG_RUNTIME_DIR"
}

median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : int((v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
to_waiting=() to_extract=() extract=() to_login=() total=() plain=() after_copy=()
last="data/$(printf %02d $(((files - 1) / 100)))/$(printf %04d $((files - 1))).bin"
for i in $(seq "$runs"); do
  # (a) The launcher's first start.
  reset_machine
  sync
  start=$(now_ms)
  ./Login.exe >"$work/launcher.out" 2>&1 & pid=$!; pids+=($pid)
  wait_for 3000 have_stamp end "$i" || fail "run $i: the launcher's extraction did not end within 300 s"
  wait_for 600 have_marker login "$i" || fail "run $i: the login page did not load within 60 s of the extraction"
  [ -e "$inst/$last" ] || fail "run $i: the launcher's extraction is incomplete"
  x_start=$(stamp start) x_end=$(stamp end) login=$(marker login)
  have_marker waiting "$i" && to_waiting+=($(($(marker waiting) - start)))
  if win=$(window_of $pid "Korvane安装程序" | head -1) && [ -n "$win" ]; then click_in "$win" 993 93; fi
  wait_exit $pid 100 || { kill $pid 2>/dev/null || true; wait_exit $pid 50 || true; }
  to_extract+=($((x_start - start))) extract+=($((x_end - x_start)))
  to_login+=($((login - x_end))) total+=($((login - start)))
  rm -rf "$state/C"

  # (b) The same archive, extracted by hand with the launcher's switches.
  mkdir "$work/plain"
  sync
  p_start=$(now_ms)
  (cd "$work/plain" && "$pkg/7zr.real" x -r "$work/KVNClient.7z" -y >"$work/plain.out" 2>&1) \
    || fail "run $i: plain extraction failed"
  plain+=($(($(now_ms) - p_start)))
  [ -e "$work/plain/$last" ] || fail "run $i: the plain extraction is incomplete"
  rm -rf "$work/plain"

  # (c) The same, right after a copy of the archive into the target folder,
  #     as the launcher places it: the copy's writes are still in flight.
  mkdir "$work/plain"
  sync
  cp "$work/KVNClient.7z" "$work/plain/KVNClient.7z"
  p_start=$(now_ms)
  (cd "$work/plain" && "$pkg/7zr.real" x -r "$work/plain/KVNClient.7z" -y >"$work/plain.out" 2>&1) \
    || fail "run $i: plain extraction after a copy failed"
  after_copy+=($(($(now_ms) - p_start)))
  rm -rf "$work/plain"
  echo "run $i: launcher extraction ${extract[-1]} ms, plain ${plain[-1]} ms, plain after a copy ${after_copy[-1]} ms," \
    "start to login page ${total[-1]} ms"
done

row() { printf '  %-44s median %6d ms   (%s)\n' "$1" "$(median "${@:2}")" "$(echo "${@:2}" | sed 's/ /, /g')"; }
echo "launcher first start, $files files, ${archive_mib} MiB archive, $runs runs:"
[ ${#to_waiting[@]} -gt 0 ] && row "process start -> waiting page loaded" "${to_waiting[@]}"
row "process start -> extractor started" "${to_extract[@]}"
row "extraction by the install worker" "${extract[@]}"
row "extraction end -> login page loaded" "${to_login[@]}"
row "process start -> login page loaded" "${total[@]}"
echo "plain 7zz x of the same archive:"
row "extraction" "${plain[@]}"
row "extraction right after copying the archive" "${after_copy[@]}"
awk -v a="$(median "${extract[@]}")" -v b="$(median "${plain[@]}")" \
  -v c="$(median "${after_copy[@]}")" \
  'BEGIN { printf "ratio of the medians, launcher / plain extraction: %.2f (launcher / plain after a copy: %.2f)\n", a / b, a / c }'
