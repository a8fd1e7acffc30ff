// A stroke's samples to dabs: B-spline smoothing and resampling, the wiggle
// of the resampled points, and the walk that spaces dabs along the result.
#pragma once

#include <cstdint>

#include "format/records.h"
#include "raster/raster_records.h"

namespace pennaro {

// A resampled copy of a stroke's points in a new block, locked; the caller
// unlocks and disposes it.
struct ResampledPoints {
    MemoryHandle handle;
    PaintPoint *points;
    int32_t count;
};

// Uniform cubic B-spline blend in single precision.
float bsplineBlend(float p0, float p1, float p2, float p3, float t);

// Smooths and resamples points[0..n]: five samples per span when `adaptive`
// is false, about one per 3 full-resolution pixels of span length when it is
// true. False when the block cannot be made or would hold fewer than two
// points.
bool resampleStroke(Allocator &memory, const LayerGeometry &layer, const PaintPoint *points, int32_t n,
                    bool adaptive, ResampledPoints *out);

struct DabCounts;

// Seed offsets, resampling, wiggle and walk for one stroke of n + 1 points.
// Changes the paint alpha of `brush` (its own copy) for the animate
// cut-off. Returns the number of points the walk reached (at least 1).
// Dabs that miss the scratch image are not stamped (see DabSink).
int32_t paintStrokePath(Allocator &memory, const LayerGeometry &layer, const ImageView &scratch,
                        const PaintPoint *points, int32_t n, RasterBrush *brush, PaintedRows *rows,
                        DabCounts *counts = nullptr);

// One dab as the walk hands it to a kernel.
struct Dab {
    int32_t selector;  // brush kind, + 1000 in 16 bits
    float aspect;      // A
    float radius;      // R, vertical radius in scratch pixels
    float softness;
    float cx, cy;
    uint32_t alpha;  // the dab's paint alpha
    float time;      // stroke time at the dab
};

// How many dabs a walk placed, and how many of them it handed on.
struct DabCounts {
    uint64_t walked = 0;
    uint64_t handed = 0;
};

// Receives the dabs of a walk instead of a kernel: every dab, or with
// `clip` only those whose box reaches into a clip.width x clip.height image.
// The others would change nothing there, so the walk only places them (the
// next dab's position depends on them) and drops them before any per-dab
// set-up: a stroke mostly outside the image costs little more than its walk.
struct DabClip {
    int32_t width, height;
};
struct DabSink {
    void (*take)(void *context, const Dab &dab);
    void *context;
    const DabClip *clip = nullptr;
    DabCounts *counts = nullptr;  // added to when set
};

// The same walk and path as above, with the dabs handed to `sink` and
// nothing painted. Used to check and measure dab placement.
int32_t traceDabs(const LayerGeometry &layer, const PaintPoint *points, int32_t last, RasterBrush *brush,
                  const DabSink &sink);
int32_t traceStrokePath(Allocator &memory, const LayerGeometry &layer, const PaintPoint *points, int32_t n,
                        RasterBrush *brush, const DabSink &sink);

// The kernels as a sink: each dab stamped with its kind's kernel into
// `scratch`, the colour the brush's with the dab's alpha.
struct KernelTarget {
    const RasterBrush *brush;
    const ImageView *scratch;
    PaintedRows *rows;
};
void stampWithKernel(void *context, const Dab &dab);

// The rows of a width x height image that `dab`'s kernel box covers, as
// the kernel clamps it (a box empty in either direction: false). Lets a
// band of rows skip the dabs that cannot reach it.
bool dabRows(const Dab &dab, int32_t width, int32_t height, int32_t *top, int32_t *bottom);

// Most dabs one walk may stamp. Real strokes stay far below (dabs are at
// least a pixel apart, so this is a path of 67 million pixels); only
// corrupt or absurd data reaches it, and the walk then simply stops.
inline constexpr uint64_t MAX_DABS_PER_WALK = uint64_t{1} << 26;

// Most points one adaptive resampling may produce (a 256 MiB block). Beyond
// it the block is treated as one that cannot be made, and the walk runs on
// the stroke's own points.
inline constexpr int64_t MAX_RESAMPLED_POINTS = int64_t{1} << 24;

}  // namespace pennaro
