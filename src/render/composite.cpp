// The last step of a render: the painted output meets the layer.
//
// One traversal visits every row once, top to bottom; the composite mode
// picks the row operation once, outside the loop. The row operations
// (the pixel layer's row kernels) take whole rows so they can work several pixels at
// a time; each pixel is still rewritten once, from its own values only.
#include "render/composite.h"

#include <algorithm>

#include "catalog/params.h"
#include "pixels/row_kernels.h"

namespace pennaro {

namespace {

// A row operation rewriting `count` paint pixels in place from themselves
// and the layer pixels beside them.
using RowOperation = void (*)(uint8_t *paint, const uint8_t *layer, int32_t count);

void overPaintOnLayer8(uint8_t *p, const uint8_t *l, int32_t n) { overRow8(p, l, p, n); }
void overPaintOnLayer16(uint8_t *p, const uint8_t *l, int32_t n) { overRow16(p, l, p, n); }
void overLayerOnPaint8(uint8_t *p, const uint8_t *l, int32_t n) { overRow8(l, p, p, n); }
void overLayerOnPaint16(uint8_t *p, const uint8_t *l, int32_t n) { overRow16(l, p, p, n); }
void overVisible8(uint8_t *p, const uint8_t *l, int32_t n) { overKeepBottomAlphaRow8(p, l, p, n); }
void overVisible16(uint8_t *p, const uint8_t *l, int32_t n) { overKeepBottomAlphaRow16(p, l, p, n); }

// The row operation of a composite mode at one depth; null where the output
// already is the result ("Only", "In Original", the separators and unknown
// values).
RowOperation rowOperation(int32_t mode, bool deep) {
    switch (mode) {
        case COMPOSITE_OVER_ORIGINAL: return deep ? overPaintOnLayer16 : overPaintOnLayer8;
        case COMPOSITE_UNDER_ORIGINAL: return deep ? overLayerOnPaint16 : overLayerOnPaint8;
        case COMPOSITE_TRACK_MATTE: return deep ? minAlphaRow16 : minAlphaRow8;
        case COMPOSITE_TRACK_MATTE_VISIBLE: return deep ? overVisible16 : overVisible8;
        case COMPOSITE_AS_MATTE: return deep ? matteRow16 : matteRow8;
        case COMPOSITE_AS_INVERSE_MATTE: return deep ? inverseMatteRow16 : inverseMatteRow8;
        case COMPOSITE_IN_ORIGINAL_ALPHA_ONLY: return deep ? paintAlphaRow16 : paintAlphaRow8;
        case COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY: return deep ? maxAlphaRow16 : maxAlphaRow8;
        default: return nullptr;
    }
}

// The rows and columns both images have: a host that hands images of
// different sizes gets the overlap composited and nothing read or written
// past either image. Each pointer steps by its own image's row bytes. The
// mode was decided once, outside the loop.
void compositeRows(const ImageView &input, uint8_t *layer, const ImageView &output, uint8_t *paint,
                   int32_t mode, bool deep) {
    const RowOperation operation = rowOperation(mode, deep);
    if (!operation) return;
    const int32_t rows = std::min(input.height, output.height);
    const int32_t columns = std::min(input.width, output.width);
    if (columns <= 0) return;
    for (int32_t y = 0; y < rows; ++y) {
        operation(paint, layer, columns);
        layer += input.rowBytes;
        paint += output.rowBytes;
    }
}

}  // namespace

void compositeFrame(const ImageView &layer, const ImageView &output, int32_t compositeMode) {
    if (!layer.data || !output.data) return;
    compositeRows(layer, layer.data, output, output.data, compositeMode, output.deep);
}

}  // namespace pennaro
