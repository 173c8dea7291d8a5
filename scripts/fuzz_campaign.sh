#!/usr/bin/env bash
# The long fuzzing campaign: each target until it has run a number of
# inputs or for a time, whichever comes first, at the lowest priority, one
# or more targets at a time. The corpus grows in build/fuzz/corpus/<target>
# (seeded from fuzz/corpus/<target>); crashing inputs land in
# build/fuzz/findings. Prints per target: inputs run, time, coverage,
# crashes and broken properties.
#   bash scripts/fuzz_campaign.sh [-n runs] [-t seconds] [-j parallel] [target ...]
# Defaults: 10000000 runs, 1800 seconds, 1 at a time, every target.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=10000000 seconds=1800 jobs=1
while getopts "n:t:j:" opt; do
  case "$opt" in
    n) runs="$OPTARG" ;;
    t) seconds="$OPTARG" ;;
    j) jobs="$OPTARG" ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2 >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  mapfile -t targets <build/fuzz/fuzz/targets.txt
fi
findings="$PWD/build/fuzz/findings"
logs="$PWD/build/fuzz/logs"
mkdir -p "$findings" "$logs"
# The targets write files on every input: keep them in memory when possible.
shm=/dev/shm; [ -w "$shm" ] || shm=/tmp
scratch="$(mktemp -d "$shm/kvn-fuzz-campaign.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export KVN_FUZZ_SCRATCH="$scratch"

run_one() {
  local name="$1" corpus="$PWD/build/fuzz/corpus/$1"
  mkdir -p "$corpus"
  local start end
  start=$(date +%s)
  nice -n 19 "$PWD/build/fuzz/fuzz/fuzz_$name" -runs="$runs" -max_total_time="$seconds" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/fuzz_$name-" "$corpus" "$PWD/fuzz/corpus/$name" \
    >"$logs/$name.log" 2>&1 || true
  end=$(date +%s)
  echo "$((end - start))" >"$logs/$name.seconds"
}

running=0
for name in "${targets[@]}"; do
  run_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then wait -n || true; running=$((running - 1)); fi
done
wait

printf '%-16s %12s %8s %8s %8s %8s %10s\n' target executions seconds cov ft crashes properties
for name in "${targets[@]}"; do
  log="$logs/$name.log"
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  last="$(grep -E '^#[0-9]+' "$log" | grep -o 'cov: [0-9]* ft: [0-9]*' | tail -1)"
  cov="$(echo "$last" | awk '{print $2}')"
  ft="$(echo "$last" | awk '{print $4}')"
  # libFuzzer stops at the first finding and writes its input.
  props="$(grep -c 'PROPERTY FAILED' "$log" || true)"
  found="$(grep -c 'Test unit written to' "$log" || true)"
  crashes=$((found > props ? found - props : 0))
  printf '%-16s %12s %8s %8s %8s %8s %10s\n' "$name" "${execs:-?}" "$(cat "$logs/$name.seconds")" \
    "${cov:-?}" "${ft:-?}" "$crashes" "$props"
done
