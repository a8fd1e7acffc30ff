#!/usr/bin/env bash
# Runs the farm scripts as a farm would and checks that the chunks together
# write exactly the files of one whole run.
#
#   farm_scripts_test.sh parallel|slurm_env|slurm_cluster TOOL SOURCE_DIR SCRATCH_DIR
set -euo pipefail

lane=$1 tool=$2 source=$3 scratch=$4
farm=$source/examples/farm
drawing=$source/examples/demo.json
export PENNARO=$tool

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

rm -rf "$scratch"
mkdir -p "$scratch"
cd "$scratch"

# The shot: frames out of order and with a gap, a mode name holding a space,
# and an output folder whose name holds spaces, quotes and parallel's own
# replacement string, none of which may be split or substituted.
frames=3-9,20
options=(--size 96x54 --background checker --playback-mode "Animate Strokes")
out() { echo "$scratch/$1 o'k {} \$HOME/f_####.png"; }
"$tool" render "$drawing" --frames "$frames" -o "$(out whole)" -q "${options[@]}"
whole_files=$(cd "$(dirname "$(out whole)")" && ls)
[ "$(echo "$whole_files" | wc -l)" -eq 8 ] || fail "the whole run wrote $(echo "$whole_files" | wc -l) files, not 8"

# Same names, same bytes, nothing else.
same_as_whole() {
    local folder
    folder=$(dirname "$(out "$1")")
    [ "$(cd "$folder" && ls)" = "$whole_files" ] || fail "$1 wrote $(cd "$folder" && ls | tr '\n' ' ') instead of the whole run's files"
    for f in $whole_files; do
        cmp -s "$folder/$f" "$(dirname "$(out whole)")/$f" || fail "$1/$f differs from the whole run's"
    done
    echo "ok: $1 equals the whole run, file for file"
}

case $lane in
parallel)
    command -v parallel >/dev/null || { echo "SKIPPED: GNU parallel is not installed"; exit 77; }
    CHUNKS=3 "$farm/parallel_render.sh" "$drawing" "$frames" "$(out parallel)" "${options[@]}"
    same_as_whole parallel
    # A failing chunk fails the whole run.
    if CHUNKS=2 "$farm/parallel_render.sh" "$drawing" "$frames" "$(out bad)" --size 0x0 2>/dev/null; then
        fail "a failing chunk did not fail parallel_render.sh"
    fi
    ;;
slurm_env)
    # Each task as Slurm starts it for `sbatch --array=1-3`.
    for k in 1 2 3; do
        SLURM_ARRAY_TASK_ID=$k SLURM_ARRAY_TASK_COUNT=3 SLURM_ARRAY_TASK_MIN=1 SLURM_ARRAY_TASK_MAX=3 \
            "$farm/slurm_render.sh" 3 "$drawing" "$frames" "$(out slurm)" "${options[@]}"
    done
    same_as_whole slurm
    # `sbatch --array=2` alone: the array holds one task, yet it renders
    # chunk 2 of 3 and nothing else.
    folder=$(dirname "$(out slurm)")
    rm "$folder"/f_000[678].png
    SLURM_ARRAY_TASK_ID=2 SLURM_ARRAY_TASK_COUNT=1 SLURM_ARRAY_TASK_MIN=2 SLURM_ARRAY_TASK_MAX=2 \
        "$farm/slurm_render.sh" 3 "$drawing" "$frames" "$(out slurm)" "${options[@]}"
    same_as_whole slurm
    # Refused: no chunk count, a chunk count that is no number, a task
    # outside 1..N, no array at all.
    refused() {
        if env "$@" "$drawing" "$frames" "$(out refused)" 2>/dev/null; then fail "slurm_render.sh accepted: $*"; fi
    }
    refused SLURM_ARRAY_TASK_ID=1 "$farm/slurm_render.sh"
    refused SLURM_ARRAY_TASK_ID=1 "$farm/slurm_render.sh" 0
    refused SLURM_ARRAY_TASK_ID=1 "$farm/slurm_render.sh" 1-3
    refused SLURM_ARRAY_TASK_ID=4 "$farm/slurm_render.sh" 3
    refused SLURM_ARRAY_TASK_ID=0 "$farm/slurm_render.sh" 3
    refused -u SLURM_ARRAY_TASK_ID "$farm/slurm_render.sh" 3
    [ ! -e "$(dirname "$(out refused)")" ] || fail "a refused task wrote files"
    ;;
slurm_cluster)
    for t in munged slurmctld slurmd sbatch; do
        command -v "$t" >/dev/null || { echo "SKIPPED: $t is not installed (scripts/install-deps.sh --tests)"; exit 77; }
    done
    # This Debian's slurmd sets up its cgroup plugin even with process
    # tracking by /proc and no task plugin, and stops where no cgroup file
    # system is mounted (a bare chroot, some containers).
    if ! grep -qs ' /sys/fs/cgroup ' /proc/mounts; then
        echo "SKIPPED: no cgroup file system at /sys/fs/cgroup, which slurmd needs to start"
        exit 77
    fi
    # The cluster stops when this script ends, however it ends; each wait
    # for the array job is bounded.
    state=$(mktemp -d /tmp/pennaro-slurm.XXXXXX)
    trap '"$source/scripts/slurm-cluster.sh" stop "$state"; rm -rf "$state"' EXIT
    "$source/scripts/slurm-cluster.sh" start "$state"
    export SLURM_CONF=$state/slurm.conf
    submit() {
        # Submitted from here, the tasks' logs land here.
        timeout 120 sbatch --wait --quiet --array="$1" "$farm/slurm_render.sh" 3 "$drawing" "$frames" \
            "$(out cluster)" "${options[@]}" ||
            { tail -n 20 "$scratch"/pennaro-render-*.log "$state"/log/slurmd.log >&2 || true; fail "array job $1 failed"; }
    }
    submit 1-3
    same_as_whole cluster
    # A failed task submitted again alone renders its own chunk.
    rm "$(dirname "$(out cluster)")"/f_000[678].png
    submit 2
    same_as_whole cluster
    ;;
*)
    fail "unknown lane $lane"
    ;;
esac
