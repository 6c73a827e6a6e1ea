#!/usr/bin/env bash
# Runs every benchmark program of the optimised build: bench/run.sh [build-dir]
# (make bench builds the release preset first).
set -eu
dir=${1:-build/release}
if [ ! -d "$dir/bench" ]; then
  cmake --preset release >/dev/null
  cmake --build --preset release
fi
status=0
for b in "$dir"/bench/vl_bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
