#!/usr/bin/env bash
# Builds the effect and the pennaro tool, then runs the main job: the bundled
# demo drawing rendered with its strokes drawing on over a few seconds, to a
# folder of PNG frames and a contact sheet.
set -euo pipefail
cd "$(dirname "$0")/.."

# Only what building and rendering need; scripts/test.sh installs the rest.
scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target pennaro_install_set

./build/default/cli/pennaro render --playback-mode "Animate Strokes" \
    -o demo-frames/frame_####.png --contact-sheet demo-frames/sheet.png --jobs 2
echo "Frames in demo-frames/, contact sheet demo-frames/sheet.png"
