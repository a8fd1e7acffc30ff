// The rasterizer entry: paints one stroke into the output image through the
// scratch image, leaving the scratch image cleared.
#pragma once

#include "drawing/records.h"
#include "raster/raster_records.h"

namespace pennaro {

void rasterizeStroke(HostInData *in, HostOutData *out, const PaintStroke *stroke, HostWorld *input,
                     HostWorld *output, HostWorld *scratch, RasterBrush *brush);

// The steps of one stroke, exposed for tests and benchmarks.

// Fills the brush fields (colour by depth and onion direction, opacity,
// radius, mode, softness, spacing, pressure flags, paint alpha).
void prepareRasterBrush(const HostInData *in, const PaintStroke *stroke, RasterBrush *brush);

// Scales the accumulated coverage by the stroke opacity (scratch image only).
void applyStrokeOpacity(const HostInData *in, HostWorld *scratch, HostWorld *output,
                        const RasterBrush *brush, const PaintedRows *rows);

// Lays the scratch image over the output ("over", straight alpha) and clears
// every visited scratch pixel.
void compositeStroke(const HostInData *in, HostWorld *scratch, HostWorld *output,
                     const RasterBrush *brush, const PaintedRows *rows);

// Cuts the output's alpha by the scratch coverage and clears every visited
// scratch pixel.
void eraseStroke(const HostInData *in, HostWorld *scratch, HostWorld *output,
                 const RasterBrush *brush, const PaintedRows *rows);

}  // namespace pennaro
