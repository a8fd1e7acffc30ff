// Wiggle set-up, once per frame: the settings block from the wiggle
// controls and the layer, and the noise table for the frame's phase.
#pragma once

#include "raster/noise.h"
#include "raster/raster_records.h"
#include "render/timing.h"

namespace pennaro {

// The wiggle controls at the current time, in real units.
struct WiggleControls {
    double displacementVariation;
    double displacementDetail;
    double pressureVariation;
    double pressureDetail;
    bool individualSeeds;
};

// The settings block (wiggling on) for a layer of width x height with the
// given pixel aspect, reading the noise from `noise`. The seed offsets are
// left for the rasterizer to set per stroke.
WiggleSettings wiggleSettings(const WiggleControls &controls, int32_t width, int32_t height,
                              const Rational &pixelAspect, const NoiseTable *noise);

// The noise table of a wiggle phase.
void buildNoiseTable(NoiseTable &table, const WigglePhase &phase);

}  // namespace pennaro
