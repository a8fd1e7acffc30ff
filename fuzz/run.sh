#!/bin/sh
# Builds the fuzz preset, replays every kept regression, then fuzzes each
# target (every fuzz/*_fuzzer.cpp) for SECONDS, two targets at a time. A
# target's seeds are the files directly in fuzz/corpus and those in
# fuzz/corpus/<target>. A crashing, leaking, too slow or too greedy input is
# written to fuzz/regressions/<target>/ (commit it: every build with tests
# replays that folder, one test per file). The memory limits sit well below
# what a render may take, so a blow-up is a finding, not a swapping machine.
# Exit status is non-zero when any target found something.
#
# Usage: fuzz/run.sh [SECONDS]   (per target; default 60)
#        PENNARO_FUZZ_TARGETS="a_fuzzer b_fuzzer" fuzz/run.sh  (only those)
#        PENNARO_FUZZ_FLAGS="-fork=1 -ignore_timeouts=1" fuzz/run.sh 600  (more libFuzzer flags)
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ "${2:-}" = "--one" ]; then
    # One target, run by the loop below: $3 the target, $4 the work folder.
    target=$3
    work=$4
    bin=build/fuzz/fuzz/$target
    mkdir -p "fuzz/regressions/$target" "$work/$target"
    kept=$(find fuzz/regressions -maxdepth 1 -type f ! -name '.*'; find "fuzz/regressions/$target" -type f ! -name '.*')
    if [ -n "$kept" ]; then
        # shellcheck disable=SC2086
        "$bin" -runs=1 $kept >"$work/$target.replay.log" 2>&1 || {
            cat "$work/$target.replay.log"
            echo "$target: a kept regression fails"
            exit 1
        }
    fi
    find fuzz/corpus -maxdepth 1 -type f ! -name '.*' -exec cp {} "$work/$target/" \;
    [ -d "fuzz/corpus/$target" ] && find "fuzz/corpus/$target" -type f ! -name '.*' -exec cp {} "$work/$target/" \;
    status=0
    # shellcheck disable=SC2086
    "$bin" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=1024 -malloc_limit_mb=512 \
        -artifact_prefix="fuzz/regressions/$target/" -print_final_stats=1 ${PENNARO_FUZZ_FLAGS:-} "$work/$target" \
        >"$work/$target.log" 2>&1 || status=$?
    grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb|==[0-9]+== ERROR|SUMMARY|artifact_prefix|Test unit written)' \
        "$work/$target.log" | sed "s|^|$target: |" || true
    [ "$status" -eq 0 ] || tail -n 40 "$work/$target.log"
    exit "$status"
fi

targets=${PENNARO_FUZZ_TARGETS:-$(for f in fuzz/*_fuzzer.cpp; do basename "$f" .cpp; done)}
cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets

work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
echo "fuzzing $(echo $targets | wc -w) target(s), $seconds s each, two at a time"
# shellcheck disable=SC2086
printf '%s\n' $targets | xargs -P 2 -I{} "$root/fuzz/run.sh" "$seconds" --one {} "$work"
