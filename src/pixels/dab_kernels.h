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

}  // namespace pennaro
