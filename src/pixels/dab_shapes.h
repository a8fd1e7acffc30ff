// What the scalar and the vector dab loops share: the depth traits, each
// shape's parameters (computed once per dab, early exits included), the
// union merge, the per-pixel steps and the frame that clamps the dab's box
// and widens the painted band. The vector loops run the same single-
// precision steps in lanes and fall back to the steps here for the pixels
// a register does not fill.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "pixels/image.h"
#include "pixels/numeric.h"

namespace pennaro::dab {

// The union merge of coverage a into a pixel of alpha ad: where ad = 0 (and
// at 8 bits where a is full) the colour is written with alpha a; elsewhere
// a non-zero a makes ad - (((ad + bias) * a) >> shift) + a. A pixel at or
// above kSaturated is never touched by any shape.
struct Depth8 {
    using Pixel = Pixel8;
    using Channel = uint8_t;
    static constexpr bool kDeep = false;
    static constexpr uint32_t kSaturated = 255;
    static constexpr uint32_t kChannelMask = 0xFF;
    static constexpr bool kFullCoverageWrites = true;  // a = 255 writes the colour
    static constexpr uint32_t kBias = 1, kShift = 8;
    static Channel toChannel(double v) { return truncToChannel8(v); }
};

struct Depth16 {
    using Pixel = Pixel16;
    using Channel = uint16_t;
    static constexpr bool kDeep = true;
    static constexpr uint32_t kSaturated = 32768;
    static constexpr uint32_t kChannelMask = 0xFFFF;
    static constexpr bool kFullCoverageWrites = false;
    static constexpr uint32_t kBias = 0, kShift = 15;
    static Channel toChannel(double v) { return truncToChannel16(v); }
};

template <class Depth>
inline bool saturated(uint32_t alpha) {
    return alpha >= Depth::kSaturated;
}

template <class Pixel, class Channel>
inline void writeColour(Pixel &px, const Channel colour[4], uint32_t alpha) {
    px.alpha = static_cast<Channel>(alpha);
    px.red = colour[1];
    px.green = colour[2];
    px.blue = colour[3];
}

template <class Depth>
inline void unionMerge(typename Depth::Pixel &px, const typename Depth::Channel colour[4], uint32_t a) {
    const uint32_t ad = px.alpha;
    if (ad == 0 || (Depth::kFullCoverageWrites && a == Depth::kSaturated))
        writeColour(px, colour, a);
    else if (a != 0)
        px.alpha = static_cast<typename Depth::Channel>(ad - (((ad + Depth::kBias) * a) >> Depth::kShift) + a);
}

// Each shape's horizontal extent, the half-width of the box its frame
// clamps (stampRows below). Also what the dab walk tests against the image
// before handing a dab over, so the two can never disagree.
inline float softExtent(float A, float R) { return R * A; }
inline float roundRim(float Rx, float h) { return std::max(1.0f, Rx * h); }
inline float roundExtent(float A, float R, float h) {
    const float Rx = R * A;
    return Rx + roundRim(Rx, h);
}
inline float squareExtent(float A, float R) { return R * A + 0.7f; }

// Soft and round dabs: coverage is the cube of u = (outer² - d²) * norm
// times the alpha, inside the outer radius; a round dab paints its core
// (d² <= q) with the alpha itself. Soft dabs paint half the colour's alpha.
struct UnionShape {
    float extent;  // half-width of the box: Rx (soft), the outer radius (round)
    float outer2;
    float q;
    float norm;
    float alphaF;
    uint32_t alpha;
};

// False when the dab paints nothing.
template <class Channel>
inline bool softShape(float A, float R, const Channel colour[4], UnionShape &s) {
    if (static_cast<double>(R) < 0.01) return false;
    s.alpha = static_cast<uint32_t>(colour[0]) >> 1;
    if (s.alpha == 0) return false;
    s.alphaF = static_cast<float>(s.alpha);
    const float Rx = R * A;
    s.extent = softExtent(A, R);
    s.outer2 = Rx * Rx;
    // Below a radius of 2 the normalisation widens, which lowers the peak.
    float e = 0.0f;
    if (Rx < 2.0f) {
        const float g = 2.0f - Rx;
        e = -(g * g);
    }
    s.norm = static_cast<float>(1.0 / static_cast<double>(s.outer2 - e));
    s.q = 0.0f;
    return true;
}

// Round: the rim is at least one pixel wide whatever the softness h; the
// inner radius may be negative, whose signed square keeps every pixel rim.
template <class Channel>
inline bool roundShape(float A, float R, float h, const Channel colour[4], UnionShape &s) {
    if (static_cast<double>(R) < 0.0001) return false;
    s.alpha = colour[0];
    if (s.alpha == 0) return false;
    s.alphaF = static_cast<float>(s.alpha);
    const float Rx = R * A;
    const float f = roundRim(Rx, h);
    const float ri = Rx - f;
    s.q = ri >= 0.0f ? ri * ri : -(ri * ri);
    s.extent = roundExtent(A, R, h);
    s.outer2 = s.extent * s.extent;
    s.norm = static_cast<float>(1.0 / static_cast<double>(s.outer2 - s.q));
    return true;
}

// The rim's coverage before truncation. The 8-bit round rim multiplies the
// alpha in second; every other union shape multiplies it in last. Products
// of floats do not commute once rounded, so the order is kept per shape.
template <bool alphaSecond>
inline float rimCoverage(float u, float alphaF) {
    return alphaSecond ? u * alphaF * u * u : u * u * u * alphaF;
}

template <class Depth, bool Round>
constexpr bool kAlphaSecond = Round && !Depth::kDeep;

// One pixel of a soft or round dab at squared distance d2.
template <class Depth, bool Round>
inline void unionPixel(typename Depth::Pixel &px, float d2, const UnionShape &s,
                       const typename Depth::Channel colour[4]) {
    if (!(d2 < s.outer2)) return;
    uint32_t a = s.alpha;
    if (!Round || d2 > s.q) {
        const float u = (s.outer2 - d2) * s.norm;
        a = Depth::toChannel(rimCoverage<kAlphaSecond<Depth, Round>>(u, s.alphaF));
    }
    unionMerge<Depth>(px, colour, a);
}

// Square dabs: a softened square merged by maximum. Rows and columns beyond
// the inner half-width ri fade by the square of their distance past it.
struct SquareShape {
    float ro, ri, norm, alphaF;
};

template <class Depth>
inline bool squareShape(float A, float R, float h, const typename Depth::Channel colour[4], SquareShape &k) {
    if (R <= 0.0f) return false;
    const float Rx = R * A;
    typename Depth::Channel alpha = colour[0];
    // Dabs thinner than a tenth of a pixel fade with their width.
    if (static_cast<double>(Rx) < 0.1)
        alpha = Depth::toChannel(static_cast<double>(Rx) * 10.0 * static_cast<double>(alpha));
    if (alpha == 0) return false;
    k.alphaF = static_cast<float>(alpha);
    k.ro = squareExtent(A, R);
    k.ri = static_cast<float>((1.0 - static_cast<double>(h)) * static_cast<double>(Rx) - 0.7);
    k.norm = static_cast<float>(1.0 / (static_cast<double>(k.ro) - static_cast<double>(k.ri)));
    return true;
}

// A row's own coverage at |dy| = ady (< ro): 1 inside the inner half-width.
inline float squareRowBase(const SquareShape &k, float ady) {
    float wy = 0.0f;
    if (ady > k.ri) {
        const float g = (ady - k.ri) * k.norm;
        wy = g * g;
    }
    return static_cast<float>(1.0 - static_cast<double>(wy));
}

// One edge pixel of a row with the given base, from its column's squared
// edge term g2 (tabled once per dab by the vector rows).
template <class Depth>
inline void squareEdgePixelFromTerm(typename Depth::Pixel &px, float g2, float base, const SquareShape &k,
                                    const typename Depth::Channel colour[4]) {
    if (saturated<Depth>(px.alpha)) return;
    const float cov = base - g2;
    if (cov <= 0.0f) return;
    const uint32_t a = Depth::toChannel(k.alphaF * cov);
    if (a > static_cast<uint32_t>(px.alpha)) writeColour(px, colour, a);
}

// One edge pixel (|dx| = adx beyond ri) of a row with the given base.
template <class Depth>
inline void squareEdgePixel(typename Depth::Pixel &px, float adx, float base, const SquareShape &k,
                            const typename Depth::Channel colour[4]) {
    const float g = (adx - k.ri) * k.norm;
    squareEdgePixelFromTerm<Depth>(px, g * g, base, k, colour);
}

// Truncated box edge clamped to the image: 0 or less becomes 0, anything past
// the last index becomes the last index.
inline int32_t clampToImage(double edge, int32_t last) {
    int32_t v = truncToInt32(edge);
    if (v <= 0) v = 0;
    if (v > last) v = last;
    return v;
}

// A dab's box: E is the horizontal extent, E / A the vertical one, each
// edge truncated and clamped to the image. A box whose edges meet in either
// direction (every box wholly beyond one side of the image does) is left
// alone entirely: no pixel, no row span.
struct DabBox {
    int32_t x0, x1, y0, y1;
    bool empty() const { return x0 == x1 || y0 == y1; }
};

inline DabBox dabBox(float A, float E, float cx, float cy, int32_t width, int32_t height) {
    const float vertical = E / A;
    return {clampToImage(cx - E, width - 1), clampToImage(E + cx, width - 1), clampToImage(cy - vertical, height - 1),
            clampToImage(vertical + cy, height - 1)};
}

// The frame every dab runs in, whatever loop runs the pixels. rowFn(row, dy,
// x0, x1) gets every row of the clamped box after the row's span has been
// widened, and applies the shape's row test itself.
template <class Pixel, class RowFn>
inline void stampRows(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows,
                      RowFn &&rowFn) {
    if (!scratch || !scratch->data || !rows || !rows->spans) return;
    if (scratch->width <= 0 || scratch->height <= 0) return;
    const DabBox box = dabBox(A, E, cx, cy, scratch->width, scratch->height);
    if (box.empty()) return;
    const int32_t x0 = box.x0, x1 = box.x1;
    int32_t y0 = box.y0, y1 = box.y1;
    if (rows->bandRowCount > 0) {
        // Another thread paints the rows outside this band; rows and spans
        // beyond it change no pixel here.
        y0 = std::max(y0, rows->firstBandRow);
        y1 = std::min(y1, rows->firstBandRow + rows->bandRowCount - 1);
        if (y0 > y1) return;
    }

    rows->topRow = std::min(rows->topRow, y0);
    rows->bottomRow = std::max(rows->bottomRow, y1);
    for (int32_t y = y0; y <= y1; ++y) {
        RowSpan &span = rows->spans[y];
        span.left = std::min(span.left, x0);
        span.right = std::max(span.right, x1);
        if (x0 > x1) continue;
        const float dy = (cy - static_cast<float>(y)) * A;
        rowFn(scratch->row<Pixel>(y), dy, x0, x1);
    }
}

// The vector loops need a finite centre and columns whose float value is
// exact; the box is clamped as stampRows clamps it.
inline bool vectorFits(float E, float cx, const ImageView *scratch) {
    if (!scratch || scratch->width <= 0) return false;
    if (!std::isfinite(cx)) return false;
    return clampToImage(E + cx, scratch->width - 1) < (1 << 24);
}

// The columns of x0..x1 within `limit` of cx form one run: the rounded
// distance falls to its minimum next to cx and never shrinks away from it.
// The run is found by bisection on the very float test a pixel would make,
// so it holds exactly the columns the per-pixel test passes. Empty when
// first > last.
struct Run {
    int32_t first, last;
};

inline bool within(float cx, int32_t x, float limit) {
    return !(std::fabs(cx - static_cast<float>(x)) > limit);
}

inline Run runWithin(float cx, float limit, int32_t x0, int32_t x1) {
    const double fl = std::floor(static_cast<double>(cx));
    const int32_t below = fl < x0 ? x0 : fl > x1 ? x1 : static_cast<int32_t>(fl);
    const int32_t above = fl + 1.0 < x0 ? x0 : fl + 1.0 > x1 ? x1 : static_cast<int32_t>(fl + 1.0);
    int32_t seed;
    if (within(cx, below, limit))
        seed = below;
    else if (within(cx, above, limit))
        seed = above;
    else
        return {1, 0};
    int32_t lo = x0, hi = seed;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (within(cx, mid, limit)) hi = mid;
        else lo = mid + 1;
    }
    const int32_t first = lo;
    lo = seed, hi = x1;
    while (lo < hi) {
        const int32_t mid = lo + (hi - lo + 1) / 2;
        if (within(cx, mid, limit)) lo = mid;
        else hi = mid - 1;
    }
    return {first, lo};
}

// The scalar kernels (dab_kernels.cpp): the scalar table's, and where the
// vector loops decline a dab, theirs too.
void scalarRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows);
void scalarRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows);
void scalarSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                    PaintedRows *rows);
void scalarSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                     PaintedRows *rows);
void scalarSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                      const ImageView *scratch, PaintedRows *rows);
void scalarSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                       const ImageView *scratch, PaintedRows *rows);

}  // namespace pennaro::dab
