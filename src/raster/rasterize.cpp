// The rasterizer driver: brush preparation, the dab walk into the scratch
// image, and the finishing passes that lay the stroke onto the output and
// leave the scratch image empty again.
//
// A stroke is painted whole into the scratch image first and composited once,
// so overlapping dabs of one stroke never pile up beyond its own opacity.
#include "raster/rasterize.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "pixels/numeric.h"
#include "pixels/row_kernels.h"
#include "raster/stroke_path.h"

namespace pennaro {
namespace {

// The row walk of the finishing passes: rows topRow..bottomRow, in each the
// recorded span, limited to the given width and height. visit(y, left, right)
// is called once per non-empty row.
template <typename Visit>
void walkRows(const PaintedRows &rows, int32_t width, int32_t height, Visit visit) {
    if (!rows.spans || width <= 0 || height <= 0) return;
    const int32_t top = std::max(rows.topRow, 0);
    const int32_t bottom = std::min(rows.bottomRow, height - 1);
    for (int32_t y = top; y <= bottom; ++y) {
        const RowSpan span = rows.spans[y];
        if (span.right < 0) continue;
        const int32_t left = std::max(span.left, 0);
        const int32_t right = std::min(span.right, width - 1);
        if (left > right) continue;
        visit(y, left, right);
    }
}

// Runs `blendRow(S, D, count)` over every visited run of pixels present in
// both images, then clears S. Scratch pixels beyond the output's edge are
// cleared as well: they can never reach the output, and clearing them keeps
// the scratch image empty between strokes. The blend rows are the
// compositor's, so a stroke meets the output by the same arithmetic as the
// frame meets the layer.
template <typename Pixel, typename BlendRow>
void finishPass(const ImageView &scratch, const ImageView &output, const PaintedRows &rows, BlendRow blendRow) {
    if (!scratch.data || !output.data) return;
    walkRows(rows, scratch.width, scratch.height, [&](int32_t y, int32_t left, int32_t right) {
        Pixel *srow = scratch.row<Pixel>(y) + left;
        if (y < output.height) {
            const int32_t outRight = std::min(right, output.width - 1);
            if (outRight >= left)
                blendRow(reinterpret_cast<const uint8_t *>(srow),
                         reinterpret_cast<uint8_t *>(output.row<Pixel>(y) + left), outRight - left + 1);
        }
        std::memset(static_cast<void *>(srow), 0, size_t(right - left + 1) * sizeof(Pixel));
    });
}

}  // namespace

void prepareRasterBrush(const Rational &downsampleX, const BrushSettings &b, RasterBrush *brush) {
    float colour[3] = {b.red, b.green, b.blue};
    brush->opacity = b.opacity;
    if (brush->onionDirection > 0) {
        std::copy(brush->backwardColor, brush->backwardColor + 3, colour);
        brush->opacity = brush->onionOpacity * b.opacity;
    } else if (brush->onionDirection < 0) {
        std::copy(brush->forwardColor, brush->forwardColor + 3, colour);
        brush->opacity = brush->onionOpacity * b.opacity;
    }
    if (brush->deep) {
        for (int c = 0; c < 3; ++c) brush->color16[c + 1] = truncToChannel16(32768.0f * colour[c]);
        brush->color16[0] = 32768;
    } else {
        for (int c = 0; c < 3; ++c)
            brush->color8[c + 1] = truncToChannel8(static_cast<double>(255.0f * colour[c]) + 0.5);
        brush->color8[0] = 255;
    }
    brush->pressureFlags = b.pressureFlags;
    brush->brushMode = b.brushMode;
    brush->softness = b.softness;
    brush->radius = static_cast<float>(toDouble(downsampleX) * static_cast<double>(b.size));
    const uint32_t kind = b.brushMode & BRUSH_KIND_MASK;
    if (kind != BRUSH_KIND_ROUND) {
        // The round kind keeps full alpha and gets its opacity after the walk.
        if (brush->deep)
            brush->color16[0] = truncToChannel16(32768.0f * brush->opacity);
        else
            brush->color8[0] = truncToChannel8(255.0f * brush->opacity);
    }
    if (kind == BRUSH_KIND_ROUND || kind == BRUSH_KIND_SOFT)
        brush->spacing = 0.3f;
    else if (kind == BRUSH_KIND_SQUARE)
        brush->spacing = 0.05f;
    else
        brush->spacing = 0.25f;
}

void applyStrokeOpacity(const ImageView &scratch, const RasterBrush &brush, const PaintedRows &rows) {
    if (!scratch.data) return;
    const float opacity = brush.opacity;
    if (brush.deep) {
        walkRows(rows, scratch.width, scratch.height, [&](int32_t y, int32_t left, int32_t right) {
            scaleAlphaRow16(reinterpret_cast<uint8_t *>(scratch.row<Pixel16>(y) + left), right - left + 1, opacity);
        });
        return;
    }
    walkRows(rows, scratch.width, scratch.height, [&](int32_t y, int32_t left, int32_t right) {
        scaleAlphaRow8(reinterpret_cast<uint8_t *>(scratch.row<Pixel8>(y) + left), right - left + 1, opacity);
    });
}

void compositeStroke(const ImageView &scratch, const ImageView &output, const PaintedRows &rows) {
    // "Over" of the scratch pixel onto the output pixel, written back to the
    // output; its shortcuts (a transparent output takes the scratch pixel
    // whole) are the compositor's.
    if (scratch.deep)
        finishPass<Pixel16>(scratch, output, rows,
                            [](const uint8_t *s, uint8_t *d, int32_t n) { overRow16(s, d, d, n); });
    else
        finishPass<Pixel8>(scratch, output, rows,
                           [](const uint8_t *s, uint8_t *d, int32_t n) { overRow8(s, d, d, n); });
}

void eraseStroke(const ImageView &scratch, const ImageView &output, const PaintedRows &rows) {
    if (scratch.deep)
        finishPass<Pixel16>(scratch, output, rows, eraseRow16);
    else
        finishPass<Pixel8>(scratch, output, rows, eraseRow8);
}

namespace {

// The stroke's points locked, the brush prepared and `walk(points, last,
// copy)` run on a copy of the brush (the walk changes the paint alpha of
// its own). The number of points the walk reached, 0 when it did not run.
template <typename Walk>
int32_t walkPoints(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke, RasterBrush *brush,
                   Walk walk) {
    if (stroke.info.pointCount <= 0 || !stroke.points) return 0;
    Locked<const PaintPoint> points(memory, stroke.points);
    if (!points) return 0;
    // Never read past the block, whatever the point count claims.
    const uint64_t available = memory.size(stroke.points) / sizeof(PaintPoint);
    const auto count =
        static_cast<int32_t>(std::min<uint64_t>(available, static_cast<uint64_t>(stroke.info.pointCount)));
    prepareRasterBrush(layer.downsampleX, stroke.info.brush, brush);
    if (count <= 0) return 0;
    RasterBrush copy = *brush;
    return walk(points.get(), count - 1, &copy);
}

}  // namespace

void finishStroke(const ImageView &scratch, const ImageView &output, const RasterBrush &finish,
                  const PaintedRows &rows) {
    const uint32_t kind = finish.brushMode & BRUSH_KIND_MASK;
    if (kind == BRUSH_KIND_ROUND && finish.opacity < 1.0f) applyStrokeOpacity(scratch, finish, rows);
    switch (finish.brushMode) {
        case 1:
        case 2:
        case 3:
        case 4:
            compositeStroke(scratch, output, rows);
            break;
        case 9:
        case 10:
        case 11:
        case 12:
            eraseStroke(scratch, output, rows);
            break;
        default:
            break;  // paints nothing
    }
}

void rasterizeStroke(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke,
                     const ImageView &output, const ImageView &scratch, RasterBrush *brush) {
    PaintedRows &rows = brush->rows;
    if (rows.spans && rows.bottomRow <= rows.topRow) {
        // Only rows that exist in the table are reset.
        const int32_t first = std::max(rows.bottomRow, 0);
        const int32_t last = std::min(rows.topRow, rows.rowCount - 1);
        for (int32_t y = first; y <= last; ++y) rows.spans[y] = RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT};
    }
    const int32_t reached =
        walkPoints(memory, layer, stroke, brush, [&](const PaintPoint *points, int32_t last, RasterBrush *walk) {
            return paintStrokePath(memory, layer, scratch, points, last, walk, &rows);
        });
    if (reached < 1) return;
    const RasterBrush finish = *brush;
    finishStroke(scratch, output, finish, finish.rows);
}

int32_t walkStroke(Allocator &memory, const LayerGeometry &layer, const PaintStroke &stroke, RasterBrush *brush,
                   const DabSink &sink) {
    return walkPoints(memory, layer, stroke, brush, [&](const PaintPoint *points, int32_t last, RasterBrush *walk) {
        return traceStrokePath(memory, layer, points, last, walk, sink);
    });
}

}  // namespace pennaro
