// Strokes, brushes, layers and images for the rasterizer's tests and the
// render's, on the shared test memory and images.
#pragma once

#include <algorithm>
#include <cstring>
#include <vector>

#include "format/records.h"
#include "raster/noise.h"
#include "raster/raster_records.h"
#include "render/wiggle.h"
#include "support/images.h"
#include "support/memory.h"

namespace raster_test {

using namespace pennaro;
using test_support::TestImage;
using test_support::TestMemory;

// Full resolution, square pixels, origin at the image's corner.
inline LayerGeometry layerOf(int32_t width, int32_t height) {
    return LayerGeometry{width, height, {1, 1}, {1, 1}, {1, 1}, 0, 0};
}

inline BrushSettings brush(uint32_t mode, float size, float opacity = 1.0f, float softness = 0.0f,
                           uint32_t pressureFlags = 0) {
    return BrushSettings{1.0f, 0.5f, 0.25f, opacity, size, mode, softness, pressureFlags};
}

// A stroke claiming `points`, copied into a new block of `memory` that
// holds the first `held` of them (or as many as there are).
inline PaintStroke newStroke(TestMemory &m, const std::vector<PaintPoint> &points, const BrushSettings &b,
                             size_t held) {
    PaintStroke s{};
    s.info.brush = b;
    s.info.pointCount = int32_t(points.size());
    s.points = m.newHandle(held * sizeof(PaintPoint));
    if (held && !points.empty())
        std::memcpy(Locked<PaintPoint>(m, s.points).get(), points.data(),
                    std::min(held, points.size()) * sizeof(PaintPoint));
    return s;
}

// The same, its block given back when it goes; all points held by default.
struct Stroke {
    TestMemory &memory;
    PaintStroke stroke;
    Stroke(TestMemory &m, const std::vector<PaintPoint> &points, const BrushSettings &b, int32_t held = -1)
        : memory(m), stroke(newStroke(m, points, b, held < 0 ? points.size() : size_t(held))) {}
    ~Stroke() { memory.dispose(stroke.points); }
};

// Alpha, red, green, blue of a pixel at either depth.
inline std::vector<int> argb(const TestImage &image, int32_t x, int32_t y) {
    if (image.deep()) {
        const Pixel16 p = image.p16(x, y);
        return {p.alpha, p.red, p.green, p.blue};
    }
    const Pixel8 p = image.p8(x, y);
    return {p.alpha, p.red, p.green, p.blue};
}

// What the render hands the rasterizer for `scratch`: an empty band over a
// span table of every row.
struct Template {
    std::vector<RowSpan> spans;
    RasterBrush brush{};
    explicit Template(const TestImage &scratch)
        : spans(size_t(scratch.height()), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT}) {
        brush.deep = scratch.deep() ? 1 : 0;
        brush.onionOpacity = 0.5f;
        brush.rows = PaintedRows{scratch.height(), scratch.height() - 1, 0, spans.data(), 0, 0};
    }
};

// Wiggle settings from the controls, over a noise table of their own.
struct Wiggle {
    NoiseTable noise;
    WiggleSettings settings;
    Wiggle(WiggleControls controls, int32_t width, int32_t height, Rational aspect = {1, 1}, int32_t K = 30 * 17) {
        buildNoiseTable(noise, WigglePhase{K, 30, 0.0f});
        settings = wiggleSettings(controls, width, height, aspect, &noise);
    }
    Wiggle(const Wiggle &) = delete;
};

}  // namespace raster_test
