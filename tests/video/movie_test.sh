#!/bin/bash
# Movies from `pennaro render -o NAME.mkv|.mp4|.mov|.webm|.gif`, checked
# with FFmpeg's own tools against the PNG frames of the same shot.
#   movie_test.sh TOOL WORK_DIR
set -euo pipefail
tool=$1 work=$2
command -v ffmpeg >/dev/null || { echo "SKIPPED: ffmpeg is not installed (scripts/install-deps.sh)"; exit 77; }
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAIL: $*" >&2; exit 1; }
rate=24000/1001
shot=(--layer plate_####.png --frames 1-6 --frame-offset 1 --fps $rate --playback-mode "Animate Strokes" -q)

# The demo at 1920x1080 over a plate sequence, at 8 and 16 bits.
ffmpeg -v error -f lavfi -i testsrc2=size=1920x1080:rate=24 -frames:v 6 -start_number 1 plate_%04d.png
for depth in 8 16; do
  "$tool" render "${shot[@]}" --depth $depth -o png$depth/f_####.png
  "$tool" render "${shot[@]}" --depth $depth -o ffv1_$depth.mkv -j 2
  pix=$([ $depth = 8 ] && echo rgba || echo rgba64le)
  ffmpeg -v error -i ffv1_$depth.mkv -pix_fmt $pix -f framemd5 - | grep -v '^#' | awk -F, '{print $6}' >movie.md5
  ffmpeg -v error -framerate $rate -i png$depth/f_%04d.png -pix_fmt $pix -f framemd5 - | grep -v '^#' | awk -F, '{print $6}' >png.md5
  [ "$(wc -l <png.md5)" = 6 ] || fail "6 PNG frames expected"
  cmp -s movie.md5 png.md5 || fail "FFV1 frames at depth $depth differ from the PNG frames"
done
# The frames are opaque (the plate shows through), so over black they are
# the PNG frames themselves.
"$tool" render "${shot[@]}" --crf 18 -o h264.mp4
psnr=$(ffmpeg -nostats -i h264.mp4 -framerate $rate -i png8/f_%04d.png -lavfi \
  "[0:v]scale=in_color_matrix=bt709:in_range=tv,format=rgb24[a];[1:v]format=rgb24[b];[a][b]psnr" -f null - 2>&1 |
  sed -n 's/.*PSNR.* average:\([0-9.]*\).*/\1/p')
awk -v p="$psnr" 'BEGIN { exit !(p >= 40) }' || fail "mp4 at --crf 18: PSNR $psnr dB, below 40"
for movie in h264.mp4 ffv1_8.mkv; do
  probe=$(ffprobe -v error -count_frames -show_entries stream=nb_read_frames,r_frame_rate:format_tags -of flat "$movie")
  grep -q 'nb_read_frames="6"' <<<"$probe" || fail "$movie: $probe"
  grep -q 'r_frame_rate="24000/1001"' <<<"$probe" || fail "$movie: $probe"
  grep -qi 'timecode="00:00:00:01"' <<<"$probe" || fail "$movie: no start time code: $probe"
  grep -qi 'software="Pennaro ' <<<"$probe" || fail "$movie: no software name: $probe"
done
echo "mp4 PSNR $psnr dB"

# The other kinds, small: codec, pixels with or without alpha, frame count.
small=(--size 64x36 --frames 0-3 --fps 24 --playback-mode "All Strokes" -q)
expect() {
  local movie=$1 want=$2
  got=$(ffprobe -v error -select_streams v:0 -count_frames -show_entries stream=codec_name,pix_fmt,nb_read_frames -of csv=p=0 "$movie")
  [ "$got" = "$want" ] || fail "$movie: $got, expected $want"
}
"$tool" render "${small[@]}" -o p4444.mov
expect p4444.mov "prores,yuva444p12le,4"
"$tool" render "${small[@]}" --prores 422hq --background white -o p422.mov
expect p422.mov "prores,yuv422p10le,4"
"$tool" render "${small[@]}" -o vp9.webm
ffprobe -v error -show_entries stream_tags=alpha_mode -of csv=p=0 vp9.webm | grep -q 1 || fail "vp9.webm has no alpha"
"$tool" render "${small[@]}" -o anim.gif
expect anim.gif "gif,bgra,4"

# Refused before anything renders, and nothing left behind.
for refused in "--skip-existing" "--chunk 1/2" ; do
  # shellcheck disable=SC2086
  if "$tool" render "${small[@]}" $refused -o refused.mp4 2>err.txt; then fail "$refused accepted for a movie"; fi
  grep -q "movie" err.txt || fail "$refused: $(cat err.txt)"
done
if "$tool" render "${small[@]}" -o 'f_####.mp4' 2>err.txt; then fail "a movie name with a placeholder was accepted"; fi
if "$tool" render --size 63x36 --frames 0-1 -q -o odd.mp4 2>err.txt; then fail "an odd width was accepted for mp4"; fi
grep -q "even width and height" err.txt || fail "odd size: $(cat err.txt)"
# Stopped (a background job ignores SIGINT, so SIGTERM): no movie under
# its name, no temporary file.
timeout -s TERM 1 "$tool" render --size 1920x1080 --frames 0-2000 --playback-mode "All Strokes" -q -o stopped.mp4 &&
  fail "the stopped render succeeded"
ls -a | grep -q stopped && fail "an interrupted movie left $(ls -a | grep stopped)"
echo "movies as expected"
