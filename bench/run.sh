#!/usr/bin/env bash
# Builds the optimised run-time and runs the benchmarks: the executor benchmarks beside their
# Lua 5.4 counterparts (a table), then every other benchmark program (build/release/bench/
# vl_bench_*), each followed by its Lua counterpart bench/NAME.lua when there is one.
#   bench/run.sh [build-dir] [repetitions]   (the build dir is build/release)
set -eu
cd "$(dirname "$0")/.."
if [ $# -gt 0 ] && [ -d "$1" ]; then shift; fi
reps=${1:-3}
cmake --preset release >/dev/null
cmake --build --preset release >/dev/null
lua=$(command -v lua5.4 || true)
printf '%-8s %14s %14s %8s\n' benchmark vellum "lua 5.4" ratio
for b in loop fib concat; do
  v=$(build/release/bench/vl_bench "$b" "$reps")
  vms=$(echo "$v" | awk '{print $(NF-1)}')
  if [ -n "$lua" ]; then
    l=$("$lua" bench/timelua.lua "$b" "$reps")
    lms=$(echo "$l" | awk '{print $(NF-1)}')
    [ "$(echo "$v" | awk '{$NF=""; $(NF-1)=""; print}')" = "$(echo "$l" | awk '{$NF=""; $(NF-1)=""; print}')" ] ||
      echo "warning: results differ: '$v' / '$l'" >&2
    ratio=$(awk -v a="$vms" -v b="$lms" 'BEGIN { printf "%.2f", a / b }')
  else
    lms="(no lua5.4)"
    ratio="-"
  fi
  printf '%-8s %11s ms %11s ms %8s\n' "$b" "$vms" "$lms" "$ratio"
done
for p in build/release/bench/vl_bench_*; do
  [ -x "$p" ] || continue
  name=${p##*/vl_bench_}
  echo "== $name"
  "$p"
  if [ -f "bench/$name.lua" ]; then
    if [ -n "$lua" ]; then "$lua" "bench/$name.lua"; else echo "(no lua5.4 for bench/$name.lua)"; fi
  fi
done
