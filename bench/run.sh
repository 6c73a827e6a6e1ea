#!/usr/bin/env bash
# Runs every benchmark of the optimised build: bench/run.sh build/release
set -eu
build=${1:-build/release}
for b in "$build"/bench/vl_bench_*; do
  [ -x "$b" ] || continue
  echo "== $(basename "$b")"
  "$b"
done
