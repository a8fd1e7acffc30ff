// One table of every row and dab kernel per instruction set, and the one
// processor probe that picks the table the product runs. The public row and
// dab functions (row_kernels.h, dab_kernels.h) call through the table chosen
// once; tests and benchmarks can take the table of any instruction set this
// build and processor have and hold it to the scalar one.
#pragma once

#include <cstdint>

#include "pixels/image.h"

namespace pennaro {

// Scalar runs everywhere; SSE2 on every x86-64 build; AVX2 on x86-64
// processors that have it (see simd/vectors.h for the Windows build).
enum class Isa : uint8_t { Scalar, Sse2, Avx2 };

const char *isaName(Isa isa);
bool isaAvailable(Isa isa);

using OverRowFn = void (*)(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);
using AlphaRowFn = void (*)(uint8_t *paint, const uint8_t *layer, int32_t count);
using EraseRowFn = void (*)(const uint8_t *cover, uint8_t *dst, int32_t count);
using ScaleAlphaRowFn = void (*)(uint8_t *pixels, int32_t count, float opacity);
using SoftDab8Fn = void (*)(float A, float R, float cx, float cy, const uint8_t colour[4],
                            const ImageView *scratch, PaintedRows *rows);
using SoftDab16Fn = void (*)(float A, float R, float cx, float cy, const uint16_t colour[4],
                             const ImageView *scratch, PaintedRows *rows);
using ShapedDab8Fn = void (*)(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                              const ImageView *scratch, PaintedRows *rows);
using ShapedDab16Fn = void (*)(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                               const ImageView *scratch, PaintedRows *rows);

// Every entry gives exactly the results of the public function of the same
// name, for every input.
struct PixelKernels {
    Isa isa;
    OverRowFn over8, over16, overKeepBottomAlpha8, overKeepBottomAlpha16;
    AlphaRowFn minAlpha8, matte8, inverseMatte8, paintAlpha8, maxAlpha8;
    AlphaRowFn minAlpha16, matte16, inverseMatte16, paintAlpha16, maxAlpha16;
    EraseRowFn erase8, erase16;
    ScaleAlphaRowFn scaleAlpha8, scaleAlpha16;
    ShapedDab8Fn roundDab8;
    ShapedDab16Fn roundDab16;
    SoftDab8Fn softDab8;
    SoftDab16Fn softDab16;
    ShapedDab8Fn squareDab8;
    ShapedDab16Fn squareDab16;
};

// The table of one instruction set, or null where this build or processor
// lacks it.
const PixelKernels *pixelKernels(Isa isa);

// The widest table available, chosen on first use.
const PixelKernels &activeKernels();

// The tables as each source file builds them (null where not built); a
// wider one may leave kernels out, which pixelKernels fills in.
extern const PixelKernels *const kScalarKernels;
extern const PixelKernels *const kSse2Kernels;
extern const PixelKernels *const kAvx2Kernels;

}  // namespace pennaro
