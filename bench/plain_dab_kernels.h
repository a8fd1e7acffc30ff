// The dab kernels as first written: every pixel of the bounding box
// visited, every coverage converted per pixel. The kernels the effect uses
// skip work whose result is known and are held to these.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "pixels/dab_kernels.h"
#include "pixels/numeric.h"

namespace pennaro_plain {
using namespace pennaro;
namespace detail {

template <typename Pixel>
struct Depth;

template <>
struct Depth<Pixel8> {
    using Channel = uint8_t;
    static bool saturated(uint32_t alpha) { return alpha == 255; }
    static Channel toChannel(double v) { return truncToChannel8(v); }
};

template <>
struct Depth<Pixel16> {
    using Channel = uint16_t;
    static bool saturated(uint32_t alpha) { return alpha >= 32768; }
    static Channel toChannel(double v) { return truncToChannel16(v); }
};

// Truncated box edge clamped to the image: 0 or less becomes 0, anything past
// the last index becomes the last index.
int32_t clampToImage(double edge, int32_t last) {
    int32_t v = truncToInt32(edge);
    if (v <= 0) v = 0;
    if (v > last) v = last;
    return v;
}

template <typename Pixel, typename Channel>
void writeColour(Pixel &px, const Channel colour[4], uint32_t alpha) {
    px.alpha = static_cast<Channel>(alpha);
    px.red = colour[1];
    px.green = colour[2];
    px.blue = colour[3];
}

// The frame shared by the six kernels. E is the outer horizontal extent.
// rowTest(dy) returns false for rows that get no pixels (their span is still
// widened); pixelStep(pixel, dx, dy) computes coverage and merges it.
template <typename Pixel, typename RowTest, typename PixelStep>
void stampFrame(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows,
                RowTest rowTest, PixelStep pixelStep) {
    if (!scratch || !scratch->data || !rows || !rows->spans) return;
    if (scratch->width <= 0 || scratch->height <= 0) return;
    const int32_t lastCol = scratch->width - 1;
    const int32_t lastRow = scratch->height - 1;
    const float vertical = E / A;
    const int32_t x0 = clampToImage(cx - E, lastCol);
    const int32_t x1 = clampToImage(E + cx, lastCol);
    const int32_t y0 = clampToImage(cy - vertical, lastRow);
    const int32_t y1 = clampToImage(vertical + cy, lastRow);
    if (x0 == x1 || y0 == y1) return;

    rows->topRow = std::min(rows->topRow, y0);
    rows->bottomRow = std::max(rows->bottomRow, y1);
    uint8_t *base = scratch->data;
    for (int32_t y = y0; y <= y1; ++y) {
        RowSpan &span = rows->spans[y];
        span.left = std::min(span.left, x0);
        span.right = std::max(span.right, x1);
        const float dy = (cy - static_cast<float>(y)) * A;
        if (!rowTest(dy)) continue;
        auto *row = reinterpret_cast<Pixel *>(base + static_cast<ptrdiff_t>(y) * scratch->rowBytes);
        for (int32_t x = x0; x <= x1; ++x) {
            Pixel &px = row[x];
            if (Depth<Pixel>::saturated(px.alpha)) continue;
            const float dx = cx - static_cast<float>(x);
            pixelStep(px, dx, dy);
        }
    }
}

// Soft union merges.
void softMerge8(Pixel8 &px, const uint8_t colour[4], uint32_t a) {
    const uint32_t ad = px.alpha;
    if (ad == 0) {
        writeColour(px, colour, a);
    } else if (a == 0) {
    } else if (a == 255) {
        writeColour(px, colour, a);
    } else {
        px.alpha = static_cast<uint8_t>(ad - (((ad + 1) * a) >> 8) + a);
    }
}

void softMerge16(Pixel16 &px, const uint16_t colour[4], uint32_t a) {
    const uint32_t ad = px.alpha;
    if (ad == 0) {
        writeColour(px, colour, a);
    } else if (a == 0) {
    } else {
        px.alpha = static_cast<uint16_t>(ad - ((ad * a) >> 15) + a);
    }
}

// Soft shape: cubic falloff, half the paint alpha.
template <typename Pixel, typename Channel, typename Merge>
void stampSoft(float A, float R, float cx, float cy, const Channel colour[4], const ImageView *scratch,
               PaintedRows *rows, Merge merge) {
    if (static_cast<double>(R) < 0.01) return;
    const uint32_t alpha = static_cast<uint32_t>(colour[0]) >> 1;
    if (alpha == 0) return;
    const float alphaF = static_cast<float>(alpha);
    const float Rx = R * A;
    const float rx2 = Rx * Rx;
    float e = 0.0f;
    if (Rx < 2.0f) {
        const float g = 2.0f - Rx;
        e = -(g * g);
    }
    const float norm = static_cast<float>(1.0 / static_cast<double>(rx2 - e));
    // A row whose vertical term alone reaches the radius has no pixel inside
    // (adding dx² can only grow the rounded sum), so it is skipped whole.
    auto rowTest = [&](float dy) { return dy * dy < rx2; };
    stampFrame<Pixel>(A, Rx, cx, cy, scratch, rows, rowTest, [&](Pixel &px, float dx, float dy) {
        const float d2 = dx * dx + dy * dy;
        if (!(d2 < rx2)) return;
        const float u = (rx2 - d2) * norm;
        const uint32_t a = Depth<Pixel>::toChannel(u * u * u * alphaF);
        merge(px, colour, a);
    });
}

struct RoundConstants {
    float q;     // signed square of the inner radius
    float ro2;   // outer radius squared
    float ro;    // outer radius: the extent
    float norm;  // 1 / (ro² - q)
};

RoundConstants roundConstants(float Rx, float h) {
    float f = Rx * h;
    f = std::max(1.0f, f);
    const float ri = Rx - f;
    RoundConstants k;
    k.q = ri >= 0.0f ? ri * ri : -(ri * ri);
    k.ro = Rx + f;
    k.ro2 = k.ro * k.ro;
    k.norm = static_cast<float>(1.0 / static_cast<double>(k.ro2 - k.q));
    return k;
}

struct SquareConstants {
    float ro, ri, norm;
};

SquareConstants squareConstants(float Rx, float h) {
    SquareConstants k;
    k.ro = Rx + 0.7f;
    k.ri = static_cast<float>((1.0 - static_cast<double>(h)) * static_cast<double>(Rx) - 0.7);
    k.norm = static_cast<float>(1.0 / (static_cast<double>(k.ro) - static_cast<double>(k.ri)));
    return k;
}

// Square shape: softened square, merged by maximum. Same arithmetic at both
// depths.
template <typename Pixel, typename Channel>
void stampSquare(float A, float R, float h, float cx, float cy, const Channel colour[4],
                 const ImageView *scratch, PaintedRows *rows) {
    if (R <= 0.0f) return;
    const float Rx = R * A;
    Channel alpha = colour[0];
    if (static_cast<double>(Rx) < 0.1)
        alpha = Depth<Pixel>::toChannel(static_cast<double>(Rx) * 10.0 * static_cast<double>(alpha));
    if (alpha == 0) return;
    const float alphaF = static_cast<float>(alpha);
    const SquareConstants k = squareConstants(Rx, h);
    float base = 0.0f;
    auto rowTest = [&](float dy) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return false;
        float wy = 0.0f;
        if (ady > k.ri) {
            const float g = (ady - k.ri) * k.norm;
            wy = g * g;
        }
        base = static_cast<float>(1.0 - static_cast<double>(wy));
        return true;
    };
    stampFrame<Pixel>(A, k.ro, cx, cy, scratch, rows, rowTest, [&](Pixel &px, float dx, float) {
        const float adx = std::fabs(dx);
        if (adx > k.ro) return;
        float cov = base;
        if (adx > k.ri) {
            const float g = (adx - k.ri) * k.norm;
            cov = base - g * g;
            if (cov <= 0.0f) return;
        }
        const uint32_t a = Depth<Pixel>::toChannel(alphaF * cov);
        if (a > static_cast<uint32_t>(px.alpha)) writeColour(px, colour, a);
    });
}

}  // namespace detail
using namespace detail;

inline void stampSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
    stampSoft<Pixel8>(A, R, cx, cy, colour, scratch, rows, softMerge8);
}

inline void stampSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4],
                    const ImageView *scratch, PaintedRows *rows) {
    stampSoft<Pixel16>(A, R, cx, cy, colour, scratch, rows, softMerge16);
}

inline void stampRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                    const ImageView *scratch, PaintedRows *rows) {
    if (static_cast<double>(R) < 0.0001) return;
    const uint32_t alpha = colour[0];
    if (alpha == 0) return;
    const float alphaF = static_cast<float>(alpha);
    const RoundConstants k = roundConstants(R * A, h);
    stampFrame<Pixel8>(A, k.ro, cx, cy, scratch, rows, [&](float dy) { return dy * dy < k.ro2; },
                           [&](Pixel8 &px, float dx, float dy) {
                               const float d2 = dx * dx + dy * dy;
                               if (!(d2 < k.ro2)) return;
                               if (d2 > k.q) {
                                   const float u = (k.ro2 - d2) * k.norm;
                                   softMerge8(px, colour, truncToChannel8(u * alphaF * u * u));
                                   return;
                               }
                               const uint32_t ad = px.alpha;
                               if (ad != 0 && alpha != 255)
                                   px.alpha = static_cast<uint8_t>(ad - (((ad + 1) * alpha) >> 8) + alpha);
                               else
                                   writeColour(px, colour, alpha);
                           });
}

inline void stampRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    if (static_cast<double>(R) < 0.0001) return;
    const uint32_t alpha = colour[0];
    if (alpha == 0) return;
    const float alphaF = static_cast<float>(alpha);
    const RoundConstants k = roundConstants(R * A, h);
    stampFrame<Pixel16>(A, k.ro, cx, cy, scratch, rows, [&](float dy) { return dy * dy < k.ro2; },
                            [&](Pixel16 &px, float dx, float dy) {
                                const float d2 = dx * dx + dy * dy;
                                if (!(d2 < k.ro2)) return;
                                const uint32_t ad = px.alpha;
                                if (d2 > k.q) {
                                    const float u = (k.ro2 - d2) * k.norm;
                                    const uint32_t a = truncToChannel16(u * u * u * alphaF);
                                    if (ad == 0)
                                        writeColour(px, colour, a);
                                    else if (a != 0)
                                        px.alpha = static_cast<uint16_t>(a - ((a * ad) >> 15) + ad);
                                    return;
                                }
                                if (ad != 0)
                                    px.alpha = static_cast<uint16_t>(ad - ((ad * alpha) >> 15) + alpha);
                                else
                                    writeColour(px, colour, alpha);
                            });
}

inline void stampSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    stampSquare<Pixel8>(A, R, h, cx, cy, colour, scratch, rows);
}

inline void stampSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
    stampSquare<Pixel16>(A, R, h, cx, cy, colour, scratch, rows);
}

}  // namespace pennaro_plain
