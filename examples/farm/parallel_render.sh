#!/bin/bash
# Renders one shot on one machine with GNU parallel: the frames are cut into
# as many chunks as there are cores, and each chunk runs as its own
# `pennaro render` process. The result is file for file that of one run.
#
#   examples/farm/parallel_render.sh shot.json 1-480 out/shot_####.png [render options...]
#
# CHUNKS overrides the chunk count (default: the number of cores).
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 DRAWING FRAMES OUTPUT_PATTERN [render options...]" >&2
    exit 2
fi
drawing=$1 frames=$2 output=$3
shift 3
chunks=${CHUNKS:-$(nproc)}

seq 1 "$chunks" | parallel --halt now,fail=1 --line-buffer \
    "${PENNARO:-pennaro}" render "$drawing" --frames "$frames" -o "$output" \
    --chunk "{}/$chunks" --skip-existing -q "$@"
