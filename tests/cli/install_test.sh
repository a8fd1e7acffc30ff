#!/usr/bin/env bash
# An installed copy works on its own: from any folder, without a drawing,
# finding its effect the documented way, with its manual page and bash
# completion. Usage: install_test.sh BUILD_DIR [sanitized|plain]
set -euo pipefail
build=$(cd "$1" && pwd)
build_kind=${2:-plain}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
tool=$prefix/bin/pennaro
fail() { echo "FAIL: $*" >&2; exit 1; }

mkdir "$scratch/work" && cd "$scratch/work"
# The built-in demo, and the installed effect found beside bin.
"$tool" render --frames 100 --playback-mode "All Strokes" -o installed.png -q
"$build/cli/pennaro" render --frames 100 --playback-mode "All Strokes" -o built.png -q
cmp installed.png built.png || fail "the installed copy renders another frame"
"$tool" --version | grep -q "^effect [0-9]*\.[0-9]* .*: $prefix/.*pennaro/libpennaro" || fail "--version: $("$tool" --version)"

# Movies through the module installed beside the effect.
if [ -f "$build/pennaro-movies.so" ]; then
    "$tool" --version | grep -q "^movies (FFmpeg): $prefix/.*pennaro/pennaro-movies.so$" || fail "--version: $("$tool" --version)"
    "$tool" render --frames 0-3 --size 64x36 -o installed.mkv -q || fail "the installed copy writes no movie"
fi

# The frei0r filter in lib/frei0r-1 finds the installed effect by itself.
filter=$(find "$prefix" -path '*/frei0r-1/pennaro.so' | head -n 1)
if [ -f "$build/frei0r-1/pennaro.so" ]; then
    [ -n "$filter" ] || fail "no frei0r filter in lib/frei0r-1"
    # A sanitized filter cannot be loaded into an unsanitized melt.
    if [ "$build_kind" = plain ] && command -v melt >/dev/null; then
        FREI0R_PATH=$(dirname "$filter") melt -silent color:'#336699' out=0 -filter frei0r.pennaro 4="All Strokes" \
            -consumer avformat:melt.png vcodec=png >melt.log 2>&1 || fail "$(cat melt.log)"
        grep -q "pennaro (frei0r)" melt.log && fail "the installed filter: $(cat melt.log)"
    fi
fi

# A bare --plugin name is a file in this folder, never a library search;
# PENNARO_PLUGIN comes before the installed copy.
effect=$(find "$prefix" -name 'libpennaro*.so' | head -n 1)
cp "$effect" mine.so
"$tool" render --version --plugin mine.so | grep -q ": $PWD/mine.so$" || fail "--plugin mine.so"
if LD_LIBRARY_PATH=$(dirname "$effect") "$tool" describe --plugin "$(basename "$effect")" >out.txt 2>&1; then
    fail "a bare name was searched for along the library path"
fi
grep -q "no such effect library: $PWD/$(basename "$effect")" out.txt || fail "$(cat out.txt)"
PENNARO_PLUGIN=mine.so "$tool" --version | grep -q ": $PWD/mine.so$" || fail "PENNARO_PLUGIN"

# The manual page holds every command's help; completion knows the options.
page=$prefix/share/man/man1/pennaro.1
grep -q '^\.TH PENNARO 1' "$page" || fail "no manual page"
grep -q -- '--exr-type' "$page" || fail "the manual page misses render's options"
# shellcheck disable=SC1091
source "$prefix/share/bash-completion/completions/pennaro"
COMP_WORDS=("$tool" render --exr); COMP_CWORD=2; _pennaro
[[ " ${COMPREPLY[*]} " == *" --exr-type "* ]] || fail "completion of --exr: ${COMPREPLY[*]}"
COMP_WORDS=("$tool" ren); COMP_CWORD=1; _pennaro
[[ ${COMPREPLY[*]} == render ]] || fail "completion of ren: ${COMPREPLY[*]}"
echo "install: ok"
