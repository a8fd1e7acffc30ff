#!/usr/bin/env bash
# Whole-process speed of `pennaro render` against an older commit, built side
# by side: one 1920x1080 8-bit frame of the generated 200-stroke drawing
# (bench_frame's), "All Strokes" over a checker layer, wiggle off, PNG write
# included. The two builds run alternately, RUNS times each; the medians and
# their ratio are printed, and the two frames must be identical pixel for
# pixel.
#
#   bench/compare-with-baseline.sh [BASELINE_COMMIT] [RUNS]
#
# BASELINE_COMMIT defaults to 82ad23a, the last commit before the speed work.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
baseline=${1:-82ad23a}
runs=${2:-7}
work=$root/build/baseline
mkdir -p "$work"

echo "== this tree (bench preset)"
cmake --preset bench >/dev/null
cmake --build build/bench -j2 --target pennaro_cli pennaro bench_frame >/dev/null

echo "== baseline $baseline"
if [ ! -d "$work/src" ]; then
  git worktree add --detach "$work/src" "$baseline" >/dev/null
else
  git -C "$work/src" checkout --detach -q "$baseline"
fi
cmake -S "$work/src" -B "$work/build" -DCMAKE_BUILD_TYPE=Release -DPENNARO_BUILD_TESTS=OFF >/dev/null
cmake --build "$work/build" -j2 --target pennaro_cli pennaro >/dev/null

drawing=$work/generated-200.json
build/bench/bench/bench_frame --write-drawing "$drawing"

render() {  # render BINARY OUTPUT -> seconds on stdout
  local start end
  start=$(date +%s%N)
  "$1" render "$drawing" --frames 60 --playback-mode "All Strokes" --background checker -q -o "$2"
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}

now=()
before=()
for _ in $(seq "$runs"); do
  before+=("$(render "$work/build/cli/pennaro" "$work/before.png")")
  now+=("$(render build/bench/cli/pennaro "$work/now.png")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
b=$(median "${before[@]}")
n=$(median "${now[@]}")
echo "baseline runs: ${before[*]}"
echo "this tree:     ${now[*]}"
echo "median: baseline ${b} s, this tree ${n} s, $(echo "scale=2; $b / $n" | bc)x faster"
build/bench/cli/pennaro compare "$work/before.png" "$work/now.png"
