#!/usr/bin/env bash
# Renders the small pictures of docs/modes.md and docs/open-formats.md, with
# the tool of a build folder. Usage: scripts/make-doc-pictures.sh [BUILD_DIR]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
tool=${1:-$root/build/default}/cli/pennaro
out=$root/docs/pictures
mkdir -p "$out"
# Full-size layer, previewed at a tenth: brush sizes are in layer pixels.
common=(--size 1920x1080 --downsample 1/10 -q)

# Onion skin reaching twelve frames each way, so that neighbours show.
prefs=$(mktemp)
trap 'rm -f "$prefs"' EXIT
echo '{"Onion skin - Frames backward": 12, "Onion skin - Frames forward": 12}' >"$prefs"

frame=102  # 3.4 s into the demo: a stroke starts here, others are done or under way
for mode in "All Strokes" "Past Strokes" "Hold Strokes" "Animate Strokes" "Current Frame" "Onion Skin"; do
    name=$(tr 'A-Z ' 'a-z-' <<<"$mode")
    "$tool" render "${common[@]}" --frames "$frame" --playback-mode "$mode" --background white \
        --prefs "$prefs" -o "$out/playback-$name.png"
done
for mode in "Only" "In Original" "Over Original" "Under Original" "Track Original Matte" \
    "Track Original Matte Visible" "As Matte" "As Inverse Matte" "In Original Alpha Only" \
    "Under Original Alpha Only"; do
    name=$(tr 'A-Z ' 'a-z-' <<<"$mode")
    "$tool" render "${common[@]}" --frames 168 --playback-mode "All Strokes" --composite "$mode" \
        --background gradient -o "$out/composite-$name.png"
done

# docs/open-formats.md: the demo exported as SVG and drawn by librsvg, and
# the tests' logo imported and caught half drawn by the effect.
work=$(mktemp -d)
trap 'rm -f "$prefs"; rm -rf "$work"' EXIT
"$tool" export "$root/examples/demo.json" -o "$work/demo.svg" --playback-mode "All Strokes" --size 320x180 -q
rsvg-convert -b white "$work/demo.svg" -o "$out/open-formats-export.png"
"$tool" import "$root/tests/vector/data/logo.svg" -o "$work/logo.json" --speed 300 -q
"$tool" render "$work/logo.json" --playback-mode "Animate Strokes" --frames 150 --size 400x300 \
    --background white -q -o "$out/open-formats-import.png"
