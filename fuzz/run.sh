#!/bin/sh
# Builds the fuzz preset, replays every kept regression, then fuzzes each
# target (every fuzz/*_fuzzer.cpp), two at a time, for SECONDS on its seed
# corpus (with its dictionary when it has one). A crashing, leaking, too slow
# or too greedy input is written to fuzz/regressions/ for the drawing targets
# and fuzz/regressions/<target>/ for the others (commit it: every build with
# tests replays those folders, one test per file). The memory limits sit well
# below the tools' budget, so a blow-up is a finding, not a swapping machine.
# Exit status is non-zero when anything was found.
#
# The mutations start from a fixed seed (PENNARO_FUZZ_SEED=0 lets libFuzzer
# pick a new one each time, for exploring beyond the gate). That narrows
# but does not remove the differences between two runs: libFuzzer also
# learns from the values the code compares, addresses among them, so two
# runs of the same tree can still take different ways and one may find
# what the other did not. A finding is written out and replays as a test.
#
# Usage: fuzz/run.sh [SECONDS]   (per target, default 60)
#        PENNARO_FUZZ_TARGETS="a_fuzzer b_fuzzer" fuzz/run.sh  (only those)
#        PENNARO_FUZZ_SEED=0 fuzz/run.sh 600  (a new seed every run)
#        PENNARO_FUZZ_FLAGS="-fork=1 -ignore_timeouts=1" fuzz/run.sh 600  (more libFuzzer flags)
set -eu
seconds=${1:-60}
# Memory limits for the fuzzing and for replaying the kept inputs alike, so
# a kept allocation fails its replay as it failed the run that found it.
limits="-rss_limit_mb=1024 -malloc_limit_mb=512"
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

targets=${PENNARO_FUZZ_TARGETS:-$(for f in fuzz/*_fuzzer.cpp; do basename "$f" .cpp; done)}
cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets
bin=build/fuzz/fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT

fuzz_one() {
    target=$1
    case $target in
        drawing_*) corpus=fuzz/corpus; kept_in=fuzz/regressions ;;
        *) corpus=fuzz/corpus/$target; kept_in=fuzz/regressions/$target; mkdir -p "$kept_in" ;;
    esac
    kept=$(find "$kept_in" -maxdepth 1 -type f ! -name '.*' | sort)
    if [ -n "$kept" ]; then
        echo "$target: replaying $(echo "$kept" | wc -l) kept regression(s)"
        # shellcheck disable=SC2086
        "$bin/$target" -runs=1 $limits $kept || return 1
    fi
    dict=
    [ -f "fuzz/$target.dict" ] && dict="-dict=fuzz/$target.dict"
    mkdir "$work/$target"
    # shellcheck disable=SC2086
    "$bin/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 $limits \
        -seed="${PENNARO_FUZZ_SEED:-1}" -artifact_prefix="$kept_in/" -print_final_stats=1 $dict ${PENNARO_FUZZ_FLAGS:-} "$work/$target" "$corpus"
}

# Two targets at a time, each with its own log, shown when the pair is done.
failed=0
failures=
set -- $targets
while [ $# -gt 0 ]; do
    first=$1
    shift
    fuzz_one "$first" >"$work/$first.log" 2>&1 &
    first_pid=$!
    second=
    if [ $# -gt 0 ]; then
        second=$1
        shift
        fuzz_one "$second" >"$work/$second.log" 2>&1 &
        second_pid=$!
    fi
    wait "$first_pid" || { failed=1; failures="$failures $first"; echo "$first: FAILED"; }
    cat "$work/$first.log"
    if [ -n "$second" ]; then
        wait "$second_pid" || { failed=1; failures="$failures $second"; echo "$second: FAILED"; }
        cat "$work/$second.log"
    fi
done
# The verdict last, where a log's tail shows it: which targets failed and
# the inputs they left, and what a target's own check said.
if [ "$failed" -ne 0 ]; then
    echo "fuzz run FAILED:$failures"
    for target in $failures; do
        grep -hE 'Test unit written to|ERROR: libFuzzer|SUMMARY|^[a-z ]+ fuzzer: ' "$work/$target.log" | sed "s/^/  $target: /"
    done
fi
exit "$failed"
