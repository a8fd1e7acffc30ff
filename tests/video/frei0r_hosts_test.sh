#!/bin/bash
# The frei0r filter in the video hosts people use: FFmpeg's frei0r filter
# and MLT's melt paint the same frames as `pennaro render` over the same
# plates, 24 frames in two playback modes with wiggle on.
#   frei0r_hosts_test.sh TOOL FILTER_DIR WORK_DIR
set -euo pipefail
tool=$1 filter_dir=$2 work=$3
for program in ffmpeg melt; do
  command -v $program >/dev/null || { echo "SKIPPED: $program is not installed (scripts/install-deps.sh)"; exit 77; }
done
export FREI0R_PATH=$filter_dir
rm -rf "$work" && mkdir -p "$work" && cd "$work"

ffmpeg -v error -f lavfi -i testsrc=size=320x180:rate=24 -frames:v 24 -start_number 1 plate_%04d.png
# MLT at the plates' size and rate.
printf 'description=plates\nframe_rate_num=24\nframe_rate_den=1\nwidth=320\nheight=180\nprogressive=1
sample_aspect_num=1\nsample_aspect_den=1\ndisplay_aspect_num=16\ndisplay_aspect_den=9\ncolorspace=709\n' >profile

filters=$(melt -query filters 2>/dev/null)
grep -q 'frei0r\.pennaro' <<<"$filters" || { echo "melt -query filters does not list frei0r.pennaro"; exit 1; }

for mode in "Animate Strokes" "Hold Strokes"; do
  rm -rf tool ffmpeg mlt && mkdir ffmpeg mlt
  # The shot is numbered from 1; the drawing's frame 0 is its first frame.
  "$tool" render --layer plate_####.png --frames 1-24 --frame-offset 1 --fps 24 \
    --playback-mode "$mode" --wiggle on -q -o tool/f_####.png
  # FFmpeg hands the filter milliseconds from 0 at the first frame.
  ffmpeg -v error -framerate 24 -start_number 1 -i plate_%04d.png \
    -vf "frei0r=filter_name=pennaro:filter_params=|ms|24|0|$mode|1|y" -start_number 1 ffmpeg/f_%04d.png
  # MLT hands it seconds.
  melt -silent -profile "$PWD/profile" plate_%04d.png begin=1 out=23 \
    -filter frei0r.pennaro 1=s 2=24 4="$mode" 6=1 \
    -consumer avformat:mlt/f_%04d.png vcodec=png pix_fmt=rgba start_number=1 >melt.log 2>&1 || { cat melt.log; exit 1; }
  for host in ffmpeg mlt; do
    [ "$(ls $host | wc -l)" = 24 ] || { echo "$host wrote $(ls $host | wc -l) frames, not 24 ($mode)"; exit 1; }
    "$tool" compare tool/f_####.png $host/f_####.png || { echo "$host differs from pennaro render ($mode)"; exit 1; }
  done
  # The drawing shows: the frames are not the plates.
  if "$tool" compare -q tool/f_####.png plate_####.png; then echo "nothing painted ($mode)"; exit 1; fi
done
echo "ffmpeg and melt frames equal pennaro render's"
