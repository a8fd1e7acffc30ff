#!/usr/bin/env bash
# Whole-process speed of `pennaro render` against an older commit, built side
# by side: one 1920x1080 frame of the generated 200-stroke drawing
# (bench_frame's), "All Strokes" over a checker layer, PNG write included;
# with --shot, ten frames of the shot's drawing (200 long strokes of 40 to
# 120 samples, mixed brushes) in one process. The two builds run
# alternately, RUNS times each; the medians and their ratio are printed,
# and every frame must be identical pixel for pixel.
#
#   bench/compare-with-baseline.sh [--shot] [--depth 8|16] [--wiggle on|off] [--threads N] [BASELINE_COMMIT] [RUNS]
#
# --threads N: this tree's band threads (the baseline has none); by default
# it uses what `pennaro render` picks, every core.
#
# BASELINE_COMMIT defaults to 82ad23a, the last commit before the speed work.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
shot=0
depth=8
wiggle=off
threads=()
args=()
while (($#)); do
  case "$1" in
    --shot) shot=1 ;;
    --depth) depth=$2; shift ;;
    --wiggle) wiggle=$2; shift ;;
    --threads) threads=(--threads "$2"); shift ;;
    *) args+=("$1") ;;
  esac
  shift
done
baseline=${args[0]:-82ad23a}
runs=${args[1]:-7}
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

if ((shot)); then
  drawing=$work/shot-200.json
  build/bench/bench/bench_frame --write-shot "$drawing"
  frames=30-39
else
  drawing=$work/generated-200.json
  build/bench/bench/bench_frame --write-drawing "$drawing"
  frames=60
fi

render() {  # render BINARY OUTPUT_DIR [OPTION ...] -> seconds on stdout
  local start end tool=$1 out=$2
  shift 2
  rm -rf "$out" && mkdir -p "$out"
  start=$(date +%s%N)
  "$tool" render "$drawing" --frames "$frames" --playback-mode "All Strokes" --background checker \
    --depth "$depth" --wiggle "$wiggle" -q -o "$out/frame_####.png" "$@"
  end=$(date +%s%N)
  echo "scale=3; ($end - $start) / 1000000000" | bc
}

now=()
before=()
for _ in $(seq "$runs"); do
  before+=("$(render "$work/build/cli/pennaro" "$work/before")")
  now+=("$(render build/bench/cli/pennaro "$work/now" "${threads[@]}")")
done
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
b=$(median "${before[@]}")
n=$(median "${now[@]}")
echo "frames $frames, depth $depth, wiggle $wiggle"
echo "baseline runs: ${before[*]}"
echo "this tree:     ${now[*]}"
echo "median: baseline ${b} s, this tree ${n} s, $(echo "scale=2; $b / $n" | bc)x faster"
count=0
for f in "$work/before"/*.png; do
  if ! build/bench/cli/pennaro compare "$f" "$work/now/$(basename "$f")"; then
    echo "$(basename "$f") differs from the baseline's" >&2
    exit 1
  fi
  count=$((count + 1))
done
echo "all $count frames identical"
