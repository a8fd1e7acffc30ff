// The public row kernels run the active table's (dispatch.h).
#include "pixels/row_kernels.h"

#include <cstring>

#include "pixels/dispatch.h"
#include "pixels/numeric.h"
#include "pixels/rules.h"

namespace pennaro {

void overRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    activeKernels().over8(top, bottom, dst, count);
}
void overRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    activeKernels().over16(top, bottom, dst, count);
}
void overKeepBottomAlphaRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    activeKernels().overKeepBottomAlpha8(top, bottom, dst, count);
}
void overKeepBottomAlphaRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    activeKernels().overKeepBottomAlpha16(top, bottom, dst, count);
}
void minAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().minAlpha8(paint, layer, count);
}
void matteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) { activeKernels().matte8(paint, layer, count); }
void inverseMatteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().inverseMatte8(paint, layer, count);
}
void paintAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().paintAlpha8(paint, layer, count);
}
void maxAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().maxAlpha8(paint, layer, count);
}
void minAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().minAlpha16(paint, layer, count);
}
void matteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().matte16(paint, layer, count);
}
void inverseMatteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().inverseMatte16(paint, layer, count);
}
void paintAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().paintAlpha16(paint, layer, count);
}
void maxAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    activeKernels().maxAlpha16(paint, layer, count);
}
void eraseRow8(const uint8_t *cover, uint8_t *dst, int32_t count) { activeKernels().erase8(cover, dst, count); }
void eraseRow16(const uint8_t *cover, uint8_t *dst, int32_t count) { activeKernels().erase16(cover, dst, count); }

void scaleAlphaRow8(uint8_t *pixels, int32_t count, float opacity) {
    activeKernels().scaleAlpha8(pixels, count, opacity);
}
void scaleAlphaRow16(uint8_t *pixels, int32_t count, float opacity) {
    activeKernels().scaleAlpha16(pixels, count, opacity);
}

}  // namespace pennaro
