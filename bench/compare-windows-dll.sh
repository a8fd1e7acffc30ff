#!/usr/bin/env bash
# pennaro.dll under Wine against libpennaro.so, in the same run: the shot's
# drawing (bench_frame --write-shot, as a saved block), ten 1920x1080 frames
# in one process each, "All Strokes", timed in process by frame_timer (Wine's
# start-up is outside the timed part). The two run alternately, RUNS times;
# the median totals, their ratio, and whether every frame's pixels agree
# are printed.
#
#   bench/compare-windows-dll.sh [--depth 8|16] [--wiggle 0|1] [RUNS]
#
# Needs the bench build (build/bench) and the Windows build (build/windows,
# targets pennaro and frame_timer) and Wine, as scripts/windows-lane.sh
# installs it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
depth=8
wiggle=0
runs=3
while (($#)); do
  case "$1" in
    --depth) depth=$2; shift ;;
    --wiggle) wiggle=$2; shift ;;
    *) runs=$1 ;;
  esac
  shift
done

cmake --build build/bench -j2 --target frame_timer bench_frame pennaro pennaro_cli >/dev/null
cmake --build build/windows -j2 --target frame_timer pennaro >/dev/null

# shellcheck source=scripts/wine-prefix.sh
source scripts/wine-prefix.sh
work=$wine_tmp

build/bench/bench/bench_frame --write-shot "$work/shot.json"
build/bench/cli/pennaro convert "$work/shot.json" "$work/shot.bin"
frame_args=(1920 1080 "$depth" "$wiggle" 30 39)

linux=()
windows=()
for i in $(seq "$runs"); do
  build/bench/bench/frame_timer/frame_timer "$root/build/bench/libpennaro.so" "$work/shot.bin" "${frame_args[@]}" \
    >"$work/linux-$i.txt"
  "$wine64" "$root/build/windows/bench/frame_timer/frame_timer.exe" "Z:$root/build/windows/pennaro.dll" \
    "Z:$work/shot.bin" "${frame_args[@]}" </dev/null | tr -d '\r' >"$work/windows-$i.txt"
  linux+=("$(awk '/^total/ {print $2}' "$work/linux-$i.txt")")
  windows+=("$(awk '/^total/ {print $2}' "$work/windows-$i.txt")")
  if ! diff <(awk '/^frame/ {print $2, $5}' "$work/linux-$i.txt") \
            <(awk '/^frame/ {print $2, $5}' "$work/windows-$i.txt") >/dev/null; then
    echo "the DLL and the Linux library rendered different pixels (run $i)" >&2
    exit 1
  fi
done
median() { printf '%s\n' "$@" | sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }
l=$(median "${linux[@]}")
w=$(median "${windows[@]}")
echo "depth $depth, wiggle $wiggle, frames 30-39 of the shot"
echo "libpennaro.so ms: ${linux[*]}"
echo "pennaro.dll ms:   ${windows[*]}"
echo "median: Linux ${l} ms, DLL under Wine ${w} ms, DLL / Linux $(echo "scale=2; $w / $l" | bc); every frame identical"
