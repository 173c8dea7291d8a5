#!/usr/bin/env bash
# Builds the fuzz targets (preset "fuzz") and gives each a short, bounded
# run: its seed corpus, then a few seconds of new inputs. Any crash or
# broken property fails the run; the input is kept in build/fuzz/findings.
#   bash scripts/fuzz_smoke.sh [seconds per target, default 4]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-4}"

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2

findings="$PWD/build/fuzz/findings"
mkdir -p "$findings"
# The targets write files on every input: keep them in memory when possible.
shm=/dev/shm; [ -w "$shm" ] || shm=/tmp
scratch="$(mktemp -d "$shm/kvn-fuzz-smoke.XXXXXX")"
trap 'rm -rf "$scratch"' EXIT
export KVN_FUZZ_SCRATCH="$scratch"
failed=0
while read -r target; do
  name="fuzz_$target"
  exe="$PWD/build/fuzz/fuzz/$name"
  seeds="$PWD/fuzz/corpus/$target"
  work="$scratch/$name"
  mkdir -p "$work"
  # New inputs go to the scratch corpus; the seeds in the tree stay as they are.
  if "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/$name-" -print_final_stats=1 \
       "$work" "$seeds" >"$scratch/$name.log" 2>&1; then
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$name.log")"
    cov="$(grep -o 'cov: [0-9]* ft: [0-9]*' "$scratch/$name.log" | tail -1)"
    echo "$name: ok, $runs runs, $cov"
  else
    failed=1
    echo "$name: FAILED"
    grep -E 'PROPERTY FAILED|ERROR|SUMMARY|Test unit written' "$scratch/$name.log" | head -20 || true
  fi
done <build/fuzz/fuzz/targets.txt
exit $failed
