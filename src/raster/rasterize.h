// The rasterizer entry: paints one stroke into the output image through the
// scratch image, leaving the scratch image cleared.
#pragma once

#include "drawing/records.h"
#include "raster/raster_records.h"

namespace pennaro {

void rasterizeStroke(HostInData *in, HostOutData *out, const PaintStroke *stroke, HostWorld *input,
                     HostWorld *output, HostWorld *scratch, RasterBrush *brush);

}  // namespace pennaro
