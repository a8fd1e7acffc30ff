// The wiggle of a stroke's resampled points: a smooth noise field displaces
// them and lowers their pressure. The render derives the settings and the
// noise table once per frame; the stroke's seeds vary it per stroke.
#pragma once

#include "format/records.h"
#include "raster/raster_records.h"

namespace pennaro {

// Sets the per-stroke seed offsets from the stroke's table index.
void setWiggleSeedOffsets(WiggleSettings *settings, int32_t strokeIndex);

// Displaces x, y and lowers the pressure of `count` points in place.
void perturbPoints(const WiggleSettings &settings, PaintPoint *points, int32_t count);

}  // namespace pennaro
