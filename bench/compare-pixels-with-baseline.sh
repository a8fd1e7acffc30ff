#!/usr/bin/env bash
# The pixel kernels against an older commit, built side by side: bench_pixels
# (which reaches the kernels through their public functions only, so the same
# source builds against either tree) runs alternately for the two builds,
# RUNS times each; per benchmark the median CPU times and their ratio are
# printed (CPU time, not wall time: the machine is shared, and a process
# waiting for a core is not what is measured).
#
#   bench/compare-pixels-with-baseline.sh [BASELINE_COMMIT] [RUNS]
#
# BASELINE_COMMIT defaults to 859dfb9, the kernels before the single table
# of kernels per instruction set.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
baseline=${1:-859dfb9}
runs=${2:-9}
work=$root/build/baseline-pixels
mkdir -p "$work"

echo "== this tree (bench preset)"
cmake --preset bench >/dev/null
cmake --build build/bench -j2 --target bench_pixels >/dev/null

echo "== baseline $baseline"
if [ ! -d "$work/src" ]; then
  git worktree add --detach "$work/src" "$baseline" >/dev/null
else
  git -C "$work/src" checkout --detach -q "$baseline"
fi
cp bench/bench_pixels.cpp "$work/src/bench/"
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DPENNARO_BUILD_TESTS=OFF \
  -DPENNARO_BUILD_BENCH=ON >/dev/null
cmake --build "$work/build" -j2 --target bench_pixels >/dev/null

for i in $(seq "$runs"); do
  for side in before now; do
    bin=$work/build/bench/bench_pixels
    [ "$side" = now ] && bin=build/bench/bench/bench_pixels
    "$bin" --benchmark_min_time=0.1 --benchmark_format=csv 2>/dev/null | grep '^"BM_' |
      awk -F, -v side="$side" '{ gsub(/"/, "", $1); print side, $1, $4 }'
  done
done >"$work/times.txt"

# Per benchmark and side the median, then the ratio now / before.
sort -k2,2 -k1,1 -k3,3g "$work/times.txt" | awk '
  { key = $2 " " $1; v[key, ++n[key]] = $3; names[$2] = 1 }
  function median(key) { return v[key, int((n[key] + 1) / 2)] }
  END {
    printf "%-32s %12s %12s %8s\n", "benchmark (CPU time)", "before", "now", "ratio"
    for (name in names) {
      b = median(name " before"); w = median(name " now")
      printf "%-32s %12.1f %12.1f %8.3f\n", name, b, w, w / b
    }
  }' | sort
