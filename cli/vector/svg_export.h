// Traced dabs as SVG: each stroke a group of its dabs in draw order.
#pragma once

#include <string>

#include "cli/vector/stroke_geometry.h"

namespace pennaro_cli::vector {

struct SvgOptions {
    // Every stroke of the drawing with each dab revealed at the time the
    // effect's "Animate Strokes" stamps it (CSS animations, one per dab);
    // `timeScale` turns drawing seconds into seconds of the animation (one
    // over the playback speed).
    bool animate = false;
    double timeScale = 1.0;
};

// The drawing as one SVG document whose view box is the layer.
std::string writeSvg(const VectorDrawing &drawing, const SvgOptions &options = {});

}  // namespace pennaro_cli::vector
