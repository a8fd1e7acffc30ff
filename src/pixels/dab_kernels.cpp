// The dab kernels' scalar form, and the public kernels, which run the
// active table's (dispatch.h). The scalar form is the plainest statement of
// each shape: the frame, the shape's row test, then per pixel the coverage
// and the merge, all from dab_shapes.h, which the vector loops share.
#include "pixels/dab_kernels.h"

#include "pixels/dab_shapes.h"
#include "pixels/dispatch.h"

namespace pennaro {
namespace dab {
namespace {

template <class Depth, bool Round>
void unionDab(const UnionShape &s, float A, float cx, float cy, const typename Depth::Channel colour[4],
              const ImageView *scratch, PaintedRows *rows) {
    using Pixel = typename Depth::Pixel;
    stampRows<Pixel>(A, s.extent, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        // A row whose vertical term alone reaches the radius has no pixel
        // inside (adding dx² can only grow the rounded sum).
        if (!(dy * dy < s.outer2)) return;
        for (int32_t x = x0; x <= x1; ++x) {
            if (saturated<Depth>(row[x].alpha)) continue;
            const float dx = cx - static_cast<float>(x);
            unionPixel<Depth, Round>(row[x], dx * dx + dy * dy, s, colour);
        }
    });
}

// Inside the inner half-width the coverage is the row's own, so the row's
// alpha is converted once; only the soft edge converts per pixel.
template <class Depth>
void squareDab(const SquareShape &k, float A, float cx, float cy, const typename Depth::Channel colour[4],
               const ImageView *scratch, PaintedRows *rows) {
    using Pixel = typename Depth::Pixel;
    stampRows<Pixel>(A, k.ro, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        const float base = squareRowBase(k, ady);
        const uint32_t rowAlpha = Depth::toChannel(k.alphaF * base);
        for (int32_t x = x0; x <= x1; ++x) {
            Pixel &px = row[x];
            const float adx = std::fabs(cx - static_cast<float>(x));
            if (adx > k.ro) continue;
            if (adx > k.ri)
                squareEdgePixel<Depth>(px, adx, base, k, colour);
            else if (!saturated<Depth>(px.alpha) && rowAlpha > px.alpha)
                writeColour(px, colour, rowAlpha);
        }
    });
}

}  // namespace

void scalarRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    UnionShape s;
    if (roundShape(A, R, h, colour, s)) unionDab<Depth8, true>(s, A, cx, cy, colour, scratch, rows);
}
void scalarRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
    UnionShape s;
    if (roundShape(A, R, h, colour, s)) unionDab<Depth16, true>(s, A, cx, cy, colour, scratch, rows);
}
void scalarSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                    PaintedRows *rows) {
    UnionShape s;
    if (softShape(A, R, colour, s)) unionDab<Depth8, false>(s, A, cx, cy, colour, scratch, rows);
}
void scalarSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                     PaintedRows *rows) {
    UnionShape s;
    if (softShape(A, R, colour, s)) unionDab<Depth16, false>(s, A, cx, cy, colour, scratch, rows);
}
void scalarSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
    SquareShape k;
    if (squareShape<Depth8>(A, R, h, colour, k)) squareDab<Depth8>(k, A, cx, cy, colour, scratch, rows);
}
void scalarSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                       const ImageView *scratch, PaintedRows *rows) {
    SquareShape k;
    if (squareShape<Depth16>(A, R, h, colour, k)) squareDab<Depth16>(k, A, cx, cy, colour, scratch, rows);
}

}  // namespace dab

void stampRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                    const ImageView *scratch, PaintedRows *rows) {
    activeKernels().roundDab8(A, R, h, cx, cy, colour, scratch, rows);
}
void stampRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    activeKernels().roundDab16(A, R, h, cx, cy, colour, scratch, rows);
}
void stampSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
    activeKernels().softDab8(A, R, cx, cy, colour, scratch, rows);
}
void stampSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                    PaintedRows *rows) {
    activeKernels().softDab16(A, R, cx, cy, colour, scratch, rows);
}
void stampSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    activeKernels().squareDab8(A, R, h, cx, cy, colour, scratch, rows);
}
void stampSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
    activeKernels().squareDab16(A, R, h, cx, cy, colour, scratch, rows);
}

}  // namespace pennaro
