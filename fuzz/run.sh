#!/bin/sh
# Builds the fuzz preset, replays every kept regression, then fuzzes each
# target in turn for a bounded time on its seed corpus (with its dictionary
# when it has one). A crashing input is written to fuzz/regressions/ for the
# drawing targets and fuzz/regressions/<target>/ for the others (commit it:
# every build with tests replays those folders, one test per file). Exit
# status is non-zero when anything crashed.
#
# Usage: fuzz/run.sh [SECONDS]   (per target, default 60)
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

targets="drawing_reader_fuzzer drawing_file_fuzzer png_layer_fuzzer json_options_fuzzer"
cmake --preset fuzz >/dev/null
# shellcheck disable=SC2086
cmake --build --preset fuzz --target $targets
bin=build/fuzz/fuzz

work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
for target in $targets; do
    case $target in
        drawing_*) corpus=fuzz/corpus; kept_in=fuzz/regressions; depth=1 ;;
        *) corpus=fuzz/corpus/$target; kept_in=fuzz/regressions/$target; depth=1; mkdir -p "$kept_in" ;;
    esac
    kept=$(find "$kept_in" -maxdepth $depth -type f ! -name '.*' | sort)
    if [ -n "$kept" ]; then
        echo "$target: replaying $(echo "$kept" | wc -l) kept regression(s)"
        # shellcheck disable=SC2086
        "$bin/$target" -runs=1 $kept
    fi
    dict=
    [ -f "fuzz/$target.dict" ] && dict="-dict=fuzz/$target.dict"
    mkdir "$work/$target"
    # A memory limit far below the tools' budget: a blow-up is a finding.
    # shellcheck disable=SC2086
    "$bin/$target" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=512 \
        -artifact_prefix="$kept_in/" -print_final_stats=1 $dict "$work/$target" "$corpus"
done
