// The rasterizer entry: paints one stroke into the output image through the
// scratch image, leaving the scratch image cleared.
#pragma once

#include "format/records.h"
#include "raster/raster_records.h"

namespace pennaro {

// An image without pixels (null data) is left alone.
void rasterizeStroke(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke,
                     const ImageView &output, const ImageView &scratch, RasterBrush *brush);

// The same stroke in two halves, for a frame painted by several threads:
// the walk, run once on the command's thread (it locks and allocates
// through the host), prepares the brush as rasterizeStroke does and hands
// every dab that reaches the scratch image to `sink` (whose clip is the
// scratch image's size); it returns the points reached, 0 when the walk
// did not run. After stamping those dabs into its rows, each band finishes
// the stroke there with the prepared brush and its own PaintedRows.
struct DabSink;
int32_t walkStroke(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke, RasterBrush *brush,
                   const DabSink &sink);
void finishStroke(const ImageView &scratch, const ImageView &output, const RasterBrush &finish,
                  const PaintedRows &rows);

// The steps of one stroke, exposed for tests and benchmarks.

// Fills the brush fields (colour by depth and onion direction, opacity,
// radius for the horizontal downsampling, mode, softness, spacing, pressure
// flags, paint alpha).
void prepareRasterBrush(const Rational &downsampleX, const BrushSettings &settings, RasterBrush *brush);

// Scales the accumulated coverage by the stroke opacity (scratch image only).
void applyStrokeOpacity(const ImageView &scratch, const RasterBrush &brush, const PaintedRows &rows);

// Lays the scratch image over the output ("over", straight alpha) and clears
// every visited scratch pixel.
void compositeStroke(const ImageView &scratch, const ImageView &output, const PaintedRows &rows);

// Cuts the output's alpha by the scratch coverage and clears every visited
// scratch pixel.
void eraseStroke(const ImageView &scratch, const ImageView &output, const PaintedRows &rows);

}  // namespace pennaro
