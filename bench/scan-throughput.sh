#!/bin/sh
# How fast `pennaro scan` searches files of each kind, timed as whole
# commands side by side in one run, every input read from the page cache
# (each is read once before it is timed):
#   raw     SIZE of random bytes with drawings at both ends and a few in between
#   hex     random bytes as hex text in lines of 64 digits, drawings among them
#   base64  the same as base64 in lines of 76 characters
#   gzip    binary bytes of four values (they deflate about 3:1), drawings
#           among them, gzip -1
#   gzip4   the same with three values, one of them in nearly three bytes of
#           four (they deflate about 3.9:1)
# Prints the input size, wall and CPU (user + system) seconds and MB/s of
# input for each; on a shared machine CPU time is the steadier figure.
#
# Usage: bench/scan-throughput.sh [BUILD_DIR] [RAW_SIZE_MB] [OTHER_TOOL] [RUNS]
#   (default build/default, 4096, none, 1). With OTHER_TOOL (another build's
#   pennaro, say the one before a change), each input is scanned by both,
#   one right after the other, and each row is marked with its tool; RUNS
#   repeats those pairs, for medians of interleaved runs.
# Needs room for the files in ${TMPDIR:-/tmp} (RAW_SIZE_MB + about 1.9 GB).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/default}
raw_mb=${2:-4096}
other=${3:-}
runs=${4:-1}
tool=$build/cli/pennaro
[ -x "$tool" ] || { echo "build the tool first: cmake --build $build --target pennaro_cli" >&2; exit 2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/pennaro-scan-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$tool" convert "$root/examples/demo.json" "$work/demo.bin"
"$tool" convert --big-endian "$root/examples/demo.json" "$work/demo-big.bin"

# Writes $2 at byte $3 of file $1 without changing its size.
plant() { dd if="$2" of="$1" bs=1M seek="$3" oflag=seek_bytes conv=notrunc status=none; }

echo "making the inputs in $work ..." >&2
head -c "${raw_mb}M" /dev/urandom >"$work/raw.bin"
size=$((raw_mb * 1024 * 1024))
demo_size=$(stat -c %s "$work/demo.bin")
plant "$work/raw.bin" "$work/demo.bin" 0
plant "$work/raw.bin" "$work/demo-big.bin" $((size / 3 + 1))
plant "$work/raw.bin" "$work/demo.bin" $((size / 2 + 3))
plant "$work/raw.bin" "$work/demo.bin" $((size - demo_size))

# 192 MB of random bytes with drawings in it, as hex and base64; 512 MB of
# random bytes of four values (so they deflate about 3:1) as gzip.
head -c 192M /dev/urandom >"$work/payload.bin"
plant "$work/payload.bin" "$work/demo.bin" 1000001
plant "$work/payload.bin" "$work/demo-big.bin" 150000003
{ echo "<project><data>"; od -An -v -tx1 -w32 "$work/payload.bin" | tr -d ' '; echo "</data></project>"; } >"$work/hex.xml"
{ echo "<project><data>"; base64 -w 76 "$work/payload.bin"; echo "</data></project>"; } >"$work/base64.xml"
head -c 512M /dev/urandom | tr '\000-\377' "$(printf '\200\201\202\203%.0s' $(seq 64))" >"$work/quarter.bin"
plant "$work/quarter.bin" "$work/demo.bin" 7
plant "$work/quarter.bin" "$work/demo.bin" 400000001
gzip -1 -c "$work/quarter.bin" >"$work/quarter.gz"
# tr's second set: 186 bytes 0x80, 35 0x81, 35 0x82.
skewed=$({ printf '\200%.0s' $(seq 186); printf '\201%.0s' $(seq 35); printf '\202%.0s' $(seq 35); })
head -c 512M /dev/urandom | tr '\000-\377' "$skewed" >"$work/skewed.bin"
plant "$work/skewed.bin" "$work/demo.bin" 7
plant "$work/skewed.bin" "$work/demo.bin" 400000001
gzip -1 -c "$work/skewed.bin" >"$work/skewed.gz"
rm "$work/payload.bin" "$work/quarter.bin" "$work/skewed.bin"

printf '%-8s %10s %8s %8s %10s %10s %-8s %s\n' input MB wall_s cpu_s MB/s_wall MB/s_cpu drawings tool
for kind in raw hex base64 gzip gzip4; do
    case $kind in
        raw) file=$work/raw.bin ;;
        hex) file=$work/hex.xml ;;
        base64) file=$work/base64.xml ;;
        gzip) file=$work/quarter.gz ;;
        gzip4) file=$work/skewed.gz ;;
    esac
    cat "$file" >/dev/null
    bytes=$(stat -c %s "$file")
    for which in $(for _ in $(seq "$runs"); do echo this ${other:+other}; done); do
        run=$tool
        [ "$which" = other ] && run=$other
        /usr/bin/time -f '%e %U %S' -o "$work/time" "$run" scan "$file" >"$work/out" || true
        found=$(head -1 "$work/out" | sed 's/.*: \([0-9]*\) drawing.*/\1/')
        read -r wall user sys <"$work/time"
        awk -v k="$kind" -v b="$bytes" -v w="$wall" -v u="$user" -v s="$sys" -v f="$found" -v t="$which" 'BEGIN {
            mb = b / 1e6; c = u + s
            printf "%-8s %10.0f %8.2f %8.2f %10.0f %10.0f %-8s %s\n", k, mb, w, c, mb / w, mb / c, f, t }'
    done
done
