// Row kernels for the per-pixel compositing rules: the straight-alpha "over"
// at both depths and the alpha-only layer modes. The frame compositor and the
// stroke finishing passes both run their rows through these, so the
// arithmetic has one definition; the kernels give exactly the results of
// the per-pixel rules in rules.h, bit for bit, for every input.
//
// Pointers address packed pixels (4 bytes at 8 bits, 8 bytes at 16 bits)
// with no alignment promised: hosts pad rows to any byte count. `dst` may be
// `top` or `bottom` itself (pixels are rewritten in place); otherwise the
// rows must not overlap.
#pragma once

#include <cstdint>

namespace pennaro {

// dst[i] = over(top[i], bottom[i]).
void overRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);
void overRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);

// dst[i] = over(top[i], bottom[i]) with the bottom's alpha kept.
void overKeepBottomAlphaRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);
void overKeepBottomAlphaRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);

// The modes that keep one image's colour and set only the alpha, in place
// on the paint row `paint` with the layer row `layer`:
//   min:      colour = paint, alpha = min(layer, paint)
//   matte:    colour = layer, alpha = layer scaled by paint
//   inverse:  colour = layer, alpha = layer scaled by the paint's inverse
//   replace:  colour = layer, alpha = paint
//   max:      colour = layer, alpha = max(layer, paint)
void minAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count);
void matteRow8(uint8_t *paint, const uint8_t *layer, int32_t count);
void inverseMatteRow8(uint8_t *paint, const uint8_t *layer, int32_t count);
void paintAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count);
void maxAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count);
void minAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count);
void matteRow16(uint8_t *paint, const uint8_t *layer, int32_t count);
void inverseMatteRow16(uint8_t *paint, const uint8_t *layer, int32_t count);
void paintAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count);
void maxAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count);

// A stroke's erase: each destination alpha cut by the coverage alpha in
// `cover` (colour untouched).
void eraseRow8(const uint8_t *cover, uint8_t *dst, int32_t count);
void eraseRow16(const uint8_t *cover, uint8_t *dst, int32_t count);

// A stroke's opacity applied to its coverage: each alpha becomes the
// truncated single-precision product alpha x opacity (colour untouched).
void scaleAlphaRow8(uint8_t *pixels, int32_t count, float opacity);
void scaleAlphaRow16(uint8_t *pixels, int32_t count, float opacity);

}  // namespace pennaro
