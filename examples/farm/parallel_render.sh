#!/bin/bash
# Renders one shot on one machine with GNU parallel: the frames are cut into
# as many chunks as there are cores, and each chunk runs as its own
# `pennaro render` process. The result is file for file that of one run.
#
#   examples/farm/parallel_render.sh shot.json 1-480 out/shot_####.png [render options...]
#
# Render options reach every chunk exactly as given, spaces and all:
#   examples/farm/parallel_render.sh shot.json 1-480 out/shot_####.png --playback-mode "Animate Strokes"
#
# CHUNKS overrides the chunk count (default: the number of cores); PENNARO
# names the tool if it is not `pennaro` on PATH.
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: $0 DRAWING FRAMES OUTPUT_PATTERN [render options...]" >&2
    exit 2
fi
chunks=${CHUNKS:-$(nproc)}
if ! [[ $chunks =~ ^[1-9][0-9]*$ ]]; then
    echo "$0: CHUNKS must be a positive whole number, not '$chunks'" >&2
    exit 2
fi

# parallel builds each job's command line from a template, in which it
# replaces {} and friends and which a shell may split again. The user's
# arguments therefore never enter the template: they go NUL-separated into
# a file that each job reads back into an array, so no value is re-split,
# globbed or substituted, whatever it holds.
args=$(mktemp "${TMPDIR:-/tmp}/pennaro-farm.XXXXXX")
trap 'rm -f "$args"' EXIT
printf '%s\0' "${PENNARO:-pennaro}" "$@" >"$args"
export PENNARO_FARM_ARGS=$args PENNARO_FARM_CHUNKS=$chunks

# shellcheck disable=SC2016  # expanded by the job's shell, not this one
seq 1 "$chunks" | parallel -q --halt now,fail=1 --line-buffer bash -c '
    mapfile -d "" -t a <"$PENNARO_FARM_ARGS"
    exec "${a[0]}" render "${a[1]}" --frames "${a[2]}" -o "${a[3]}" \
        --chunk "$1/$PENNARO_FARM_CHUNKS" --skip-existing -q "${a[@]:4}"' pennaro-chunk {}
