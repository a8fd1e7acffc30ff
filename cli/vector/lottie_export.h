// Traced dabs as a Lottie animation: one shape layer per stroke, top layer
// last drawn, holding the union of its dabs (each dab's half-coverage
// outline, filled as one shape with the stroke's colour and opacity). Each
// dab is keyframed to appear at the first frame at which "Animate Strokes"
// stamps it, so the reveal follows the drawing's own timing at the chosen
// frame rate.
//
// A reveal through an alpha track matte (a wide stroke along the dab
// centres with a keyframed trim path) would be lighter, but rlottie, the
// player Debian ships, draws nothing at all for a layer with a track matte
// (version 0.1; two overlapping rectangles show it), so the reveal is
// carried by the dabs themselves.
#pragma once

#include <string>

#include "cli/vector/stroke_geometry.h"

namespace pennaro_cli::vector {

struct LottieTiming {
    uint32_t timeScale = 30;  // the frame rate as time scale / time step
    int32_t timeStep = 1;
    double playbackSpeed = 1.0;
};

struct LottieResult {
    std::string json;
    int32_t frames = 0;         // the animation's length: its last frame shows every stroke complete
    size_t erasingLeftOut = 0;  // erasing strokes are not carried
};

// `drawing` traced whole ("All Strokes"), with every dab's time.
LottieResult writeLottie(const VectorDrawing &drawing, const LottieTiming &timing);

}  // namespace pennaro_cli::vector
