#!/usr/bin/env bash
# Builds the launcher twice from the same commit, in two different folders
# and at two different times, and compares the programs byte by byte:
# Login.exe (Windows, preset win32) and Login (Linux, preset linux). Only the
# programs are built, from a clean tree, without ccache, with
# SOURCE_DATE_EPOCH set to the commit's time.
#
#   bash scripts/check_reproducible.sh [commit]     (default: HEAD)
#
# Prints the SHA-256 of each program from each build and whether they are
# identical; the exit code is 1 when any differs. Not part of scripts/test.sh.
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$repo" rev-parse --verify "${1:-HEAD}^{commit}")
export SOURCE_DATE_EPOCH=$(git -C "$repo" log -1 --format=%ct "$commit")
export CCACHE_DISABLE=1
unset CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER
work=$(mktemp -d /tmp/kvn-repro.XXXXXX)
trap 'rm -rf "$work"' EXIT
echo "commit $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH), builds in $work"

# build <folder>: the commit's files in <folder>, both programs built there.
build() {
  local src=$1
  mkdir -p "$src"
  git -C "$repo" archive "$commit" | tar -x -C "$src"
  (
    cd "$src"
    cmake --preset win32 -DKVN_BUILD_TESTS=OFF >/dev/null
    nice cmake --build build/win32 -j2 --target Login >/dev/null
    cmake --preset linux -DKVN_BUILD_TESTS=OFF >/dev/null
    nice cmake --build build/linux -j2 --target Login >/dev/null
  )
  echo "built in $src at $(date -u +%H:%M:%S)"
}

# Two folders of different names and depths.
first=$work/one/Korvane
second=$work/two/another-checkout/launcher-src
build "$first"
sleep 2  # different times, whatever the speed of the machine
build "$second"

status=0
for program in platform/win32/Login.exe platform/linux/Login; do
  case $program in
    */win32/*) a=$first/build/win32/$program b=$second/build/win32/$program ;;
    *) a=$first/build/linux/$program b=$second/build/linux/$program ;;
  esac
  echo "$(sha256sum "$a" | cut -c1-64)  first  $program ($(stat -c %s "$a") bytes)"
  echo "$(sha256sum "$b" | cut -c1-64)  second $program"
  if cmp "$a" "$b"; then
    echo "IDENTICAL: $program"
  else
    echo "DIFFERENT: $program"
    status=1
  fi
done
exit $status
