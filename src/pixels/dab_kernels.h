// The six dab kernels: one brush dab stamped into the scratch image, its
// coverage merged into the stroke's accumulated alpha, and the touched rows
// and columns recorded so the finishing passes visit every changed pixel.
//
// A is the aspect factor (vertical distances are multiplied by it), R the
// dab's vertical radius in scratch pixels, h the softness, (cx, cy) the dab
// centre in scratch pixel coordinates. Colours are alpha, red, green, blue
// with the dab's alpha already in the alpha channel.
#pragma once

#include <cstdint>

#include "pixels/image.h"

namespace pennaro {

void stampRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                    const ImageView *scratch, PaintedRows *rows);
void stampRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                     const ImageView *scratch, PaintedRows *rows);
void stampSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows);
void stampSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4],
                    const ImageView *scratch, PaintedRows *rows);
void stampSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows);
void stampSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows);

// Which pixel loops the kernels run: plain scalar code, SSE2 (any x86-64),
// or AVX2 where the processor has it. All give the same pixels and spans;
// the choice exists so tests and benchmarks can hold each to the others.
// The default is the widest the build and the processor support. Selecting
// a path that is not available selects the widest that is.
enum class DabKernelPath : uint8_t { Scalar = 0, Sse2 = 1, Avx2 = 2 };
void selectDabKernelPath(DabKernelPath path);
DabKernelPath dabKernelPath();
bool dabKernelPathAvailable(DabKernelPath path);

}  // namespace pennaro
