#!/usr/bin/env bash
# Runs every benchmark of the optimised build (bench/run.sh [build dir]); each prints its own
# figures and fails when it misses its goal.
set -u
build=${1:-build/release}
status=0
for b in "$build"/bench/vl_bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b" || status=1
done
exit $status
