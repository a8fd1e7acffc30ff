#!/bin/bash
# Renders one shot as a Slurm job array: task K renders chunk K of N of the
# frames, writing files named by their absolute frame numbers, so the
# finished array leaves exactly the files of one whole run.
#
#   sbatch --array=1-20 examples/farm/slurm_render.sh 20 shot.json 1-480 out/shot_####.png
#
# N (here 20) is the number of chunks the shot is cut into. It is given
# explicitly, not taken from the array, so a failed task can be run again
# alone and still renders its own chunk:
#
#   sbatch --array=7 examples/farm/slurm_render.sh 20 shot.json 1-480 out/shot_####.png
#
# Re-submitting after failures re-renders only missing frames
# (--skip-existing). Arguments after the fourth go to `pennaro render` as
# given (such as --layer plate_####.png --fps 24 --playback-mode "All Strokes").
# PENNARO names the tool if it is not `pennaro` on PATH (sbatch passes the
# submitting shell's environment on).
#SBATCH --job-name=pennaro-render
#SBATCH --cpus-per-task=1
#SBATCH --output=pennaro-render-%A_%a.log
set -euo pipefail

if [ $# -lt 4 ]; then
    echo "usage: sbatch --array=1-N $0 N DRAWING FRAMES OUTPUT_PATTERN [render options...]" >&2
    exit 2
fi
chunks=$1 drawing=$2 frames=$3 output=$4
shift 4

if ! [[ $chunks =~ ^[1-9][0-9]*$ ]]; then
    echo "$0: the chunk count N must be a positive whole number, not '$chunks'" >&2
    exit 2
fi
: "${SLURM_ARRAY_TASK_ID:?submit with sbatch --array=1-$chunks}"
# Chunks count from 1, as an array such as --array=1-20 numbers its tasks.
if ! [[ $SLURM_ARRAY_TASK_ID =~ ^[0-9]+$ ]] || ((SLURM_ARRAY_TASK_ID < 1 || SLURM_ARRAY_TASK_ID > chunks)); then
    echo "$0: array task $SLURM_ARRAY_TASK_ID is not a chunk of 1-$chunks (submit with --array=1-$chunks)" >&2
    exit 2
fi

exec "${PENNARO:-pennaro}" render "$drawing" --frames "$frames" -o "$output" \
    --chunk "$SLURM_ARRAY_TASK_ID/$chunks" --skip-existing -q "$@"
