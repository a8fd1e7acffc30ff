// Placeholders until the rasterizer lands.
#include "raster/rasterize.h"
#include "render/wiggle.h"

namespace pennaro {

void rasterizeStroke(HostInData *, HostOutData *, const PaintStroke *, HostWorld *, HostWorld *,
                     HostWorld *, RasterBrush *) {}
void setupWiggle(const HostInData *, HostParam *[], WiggleSettings *out) { out->wiggleEnabled = 0; }

}  // namespace pennaro
