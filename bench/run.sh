#!/usr/bin/env bash
# Runs every benchmark of bench/ on the optimised build: the programs built from bench/*.cpp
# (vl_bench_*) and, when Lua 5.4 is installed, the Lua counterparts bench/*.lua.
set -eu
build=${1:-build/release}
here=$(cd "$(dirname "$0")" && pwd)
found=0
for b in "$build"/bench/vl_bench_*; do
  [ -x "$b" ] || continue
  found=1
  echo "== $(basename "$b")"
  "$b"
done
[ "$found" = 1 ] || echo "bench: no benchmark programs under $build/bench (build with: make release)"
if command -v lua5.4 >/dev/null 2>&1; then
  for l in "$here"/*.lua; do
    [ -f "$l" ] || continue
    echo "== $(basename "$l")"
    lua5.4 "$l"
  done
else
  echo "bench: lua5.4 is not installed; the Lua counterparts are skipped"
fi
