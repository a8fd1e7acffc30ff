// Wiggle: the time-varying noise that displaces stroke points and lowers
// their pressure.
#pragma once

#include "drawing/records.h"
#include "raster/raster_records.h"

namespace pennaro {

// Derives the wiggle settings from the parameters and host values and
// rebuilds the process-wide noise table for the current time.
void setupWiggle(const HostInData *in, HostParam *params[], WiggleSettings *out);

// Sets the per-stroke seed offsets from the stroke's table index.
void setWiggleSeedOffsets(WiggleSettings *settings, int32_t strokeIndex);

// Displaces x, y and lowers pressure of `count` points in place.
void perturbPoints(const WiggleSettings &settings, PaintPoint *points, int32_t count);

}  // namespace pennaro
