#!/bin/sh
# Builds the fuzz preset, replays every kept regression, then fuzzes for a
# bounded time on the seed corpus: the drawing reader for two thirds of the
# time, the tools' drawing-file reader for the rest. A crashing input is
# written to fuzz/regressions/ (commit it: every build with tests replays that
# folder, one test per file). Exit status is non-zero when anything crashed.
#
# Usage: fuzz/run.sh [SECONDS]   (default 60)
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target drawing_reader_fuzzer drawing_file_fuzzer
bin=build/fuzz/fuzz

kept=$(find fuzz/regressions -type f ! -name '.*' | sort)
if [ -n "$kept" ]; then
    echo "replaying $(echo "$kept" | wc -l) kept regression(s)"
    # shellcheck disable=SC2086
    "$bin/drawing_reader_fuzzer" -runs=1 $kept
    # shellcheck disable=SC2086
    "$bin/drawing_file_fuzzer" -runs=1 $kept
fi

reader_seconds=$((seconds * 2 / 3))
file_seconds=$((seconds - reader_seconds))
[ "$reader_seconds" -ge 1 ] || reader_seconds=1
[ "$file_seconds" -ge 1 ] || file_seconds=1

work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir "$work/reader" "$work/file"
common="-max_len=65536 -timeout=10 -rss_limit_mb=2048 -artifact_prefix=fuzz/regressions/ -print_final_stats=1"
# shellcheck disable=SC2086
"$bin/drawing_reader_fuzzer" -max_total_time="$reader_seconds" $common "$work/reader" fuzz/corpus
# shellcheck disable=SC2086
"$bin/drawing_file_fuzzer" -max_total_time="$file_seconds" $common "$work/file" fuzz/corpus
