#!/bin/bash
# Renders one shot as a Slurm job array: task K of N renders chunk K/N of
# the frames, writing files named by their absolute frame numbers, so the
# finished array leaves exactly the files of one whole run.
#
#   sbatch --array=1-20 examples/farm/slurm_render.sh shot.json 1-480 out/shot_####.png
#
# Re-submitting the same array after failures re-renders only missing
# frames (--skip-existing). Extra arguments after the third are passed to
# `pennaro render` (such as --layer plate_####.png --fps 24).
#SBATCH --job-name=pennaro-render
#SBATCH --cpus-per-task=1
#SBATCH --output=pennaro-render-%A_%a.log
set -euo pipefail

if [ $# -lt 3 ]; then
    echo "usage: sbatch --array=1-N $0 DRAWING FRAMES OUTPUT_PATTERN [render options...]" >&2
    exit 2
fi
drawing=$1 frames=$2 output=$3
shift 3

: "${SLURM_ARRAY_TASK_ID:?submit with sbatch --array=1-N}"
: "${SLURM_ARRAY_TASK_COUNT:?submit with sbatch --array=1-N}"
# Chunks count from 1; an array such as --array=1-20 numbers its tasks 1..20.
chunk="${SLURM_ARRAY_TASK_ID}/${SLURM_ARRAY_TASK_COUNT}"

exec "${PENNARO:-pennaro}" render "$drawing" --frames "$frames" -o "$output" \
    --chunk "$chunk" --skip-existing -q "$@"
