#!/bin/sh
# Builds the fuzz preset and runs the saved-drawing reader fuzzer for a
# bounded time on the seed corpus, after replaying every kept regression.
# A crashing input is written to fuzz/regressions/ (commit it: the ordinary
# tests replay that folder). Exit status is non-zero when anything crashed.
#
# Usage: fuzz/run.sh [SECONDS]   (default 60)
set -eu
seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target drawing_reader_fuzzer
fuzzer=build/fuzz/fuzz/drawing_reader_fuzzer

kept=$(find fuzz/regressions -type f ! -name '.*' | sort)
if [ -n "$kept" ]; then
    echo "replaying $(echo "$kept" | wc -l) kept regression(s)"
    # shellcheck disable=SC2086
    "$fuzzer" -runs=1 $kept
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$fuzzer" -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix=fuzz/regressions/ -print_final_stats=1 "$work" fuzz/corpus
