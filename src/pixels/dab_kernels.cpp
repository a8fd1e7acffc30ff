// Dab kernels. The frame (early exits aside) is shared by all six: bounding
// box, band and span widening, the saturated-pixel skip. Each shape supplies
// a row test and a per-pixel coverage-and-merge step. Where the arithmetic is
// the same at both depths the shape is a template on the pixel type; where
// the order of operations differs per depth (the round rim, the union merge)
// the two depths are written out separately, because reordering float
// products changes the truncated coverage.
//
// Those forms are the scalar path. The vector paths below run the very same
// single-precision steps in SSE2 (and, for the 8-bit soft and round rows,
// AVX2) lanes, with work that does not depend on the row hoisted out of it:
// the columns' squared distances, the square's column runs and its full-row
// coverage. A dab whose centre is not finite, or a soft or round dab wider
// than the column table, goes to the scalar path.
#include "pixels/dab_kernels.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "pixels/numeric.h"

// The AVX2 loops are built only where GCC-compatible compilers can target
// them per function and the stack keeps 32-byte spills aligned (not
// MinGW-w64, whose 16-byte Windows stack they would fault on).
#if defined(__SSE2__) && defined(__GNUC__) && !defined(_WIN32) && (defined(__x86_64__) || defined(__i386__))
#define PENNARO_DAB_AVX2 1
#include <immintrin.h>
#define PENNARO_TARGET_AVX2 __attribute__((target("avx2")))
#else
#define PENNARO_DAB_AVX2 0
#endif

namespace pennaro {
namespace {

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

// The frame shared by the six kernels, whatever loop runs the pixels. E is
// the outer horizontal extent. rowFn(row, dy, x0, x1) gets every row of the
// clamped box after the row's span has been widened, and applies the shape's
// row test itself.
template <typename Pixel, typename RowFn>
void stampRows(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows, RowFn rowFn) {
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
        if (x0 > x1) continue;
        const float dy = (cy - static_cast<float>(y)) * A;
        auto *row = reinterpret_cast<Pixel *>(base + static_cast<ptrdiff_t>(y) * scratch->rowBytes);
        rowFn(row, dy, x0, x1);
    }
}

// The per-pixel form of the frame: rowTest(dy) returns false for rows that
// get no pixels (their span is still widened); pixelStep(pixel, dx, dy)
// computes coverage and merges it.
template <typename Pixel, typename RowTest, typename PixelStep>
void stampFrame(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows,
                RowTest rowTest, PixelStep pixelStep) {
    stampRows<Pixel>(A, E, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        if (!rowTest(dy)) return;
        for (int32_t x = x0; x <= x1; ++x) {
            Pixel &px = row[x];
            if (Depth<Pixel>::saturated(px.alpha)) continue;
            const float dx = cx - static_cast<float>(x);
            pixelStep(px, dx, dy);
        }
    });
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
    // Inside the inner edge the coverage is the row's own, so the row's
    // alpha is converted once; only the soft edge converts per pixel.
    uint32_t rowAlpha = 0;
    auto rowTest = [&](float dy) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return false;
        float wy = 0.0f;
        if (ady > k.ri) {
            const float g = (ady - k.ri) * k.norm;
            wy = g * g;
        }
        base = static_cast<float>(1.0 - static_cast<double>(wy));
        rowAlpha = Depth<Pixel>::toChannel(alphaF * base);
        return true;
    };
    stampFrame<Pixel>(A, k.ro, cx, cy, scratch, rows, rowTest, [&](Pixel &px, float dx, float) {
        const float adx = std::fabs(dx);
        if (adx > k.ro) return;
        uint32_t a = rowAlpha;
        if (adx > k.ri) {
            const float g = (adx - k.ri) * k.norm;
            const float cov = base - g * g;
            if (cov <= 0.0f) return;
            a = Depth<Pixel>::toChannel(alphaF * cov);
        }
        if (a > static_cast<uint32_t>(px.alpha)) writeColour(px, colour, a);
    });
}

void scalarStampSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
    stampSoft<Pixel8>(A, R, cx, cy, colour, scratch, rows, softMerge8);
}

void scalarStampSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4],
                    const ImageView *scratch, PaintedRows *rows) {
    stampSoft<Pixel16>(A, R, cx, cy, colour, scratch, rows, softMerge16);
}

void scalarStampRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
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

void scalarStampRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
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

void scalarStampSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
    stampSquare<Pixel8>(A, R, h, cx, cy, colour, scratch, rows);
}

void scalarStampSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
    stampSquare<Pixel16>(A, R, h, cx, cy, colour, scratch, rows);
}

DabKernelPath widestPath() {
#if PENNARO_DAB_AVX2
    // This runs while the library's globals are set up, possibly before
    // the compiler's own processor probe has.
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return DabKernelPath::Avx2;
#endif
#if defined(__SSE2__)
    return DabKernelPath::Sse2;
#else
    return DabKernelPath::Scalar;
#endif
}

std::atomic<DabKernelPath> g_path{widestPath()};

DabKernelPath currentPath() { return g_path.load(std::memory_order_relaxed); }

#if defined(__SSE2__)

// The dab box as stampRows will clamp it, to decide before any bookkeeping
// whether the vector loops may take the dab: they need a finite centre and
// columns whose float value is exact.
bool vectorFits(float E, float cx, const ImageView *scratch) {
    if (!scratch || scratch->width <= 0) return false;
    if (!std::isfinite(cx)) return false;
    const int32_t lastCol = scratch->width - 1;
    const int32_t x1 = clampToImage(E + cx, lastCol);
    return x1 < (1 << 24);
}

inline __m128i loadPixels(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
inline void storePixels(void *p, __m128i v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
inline __m128 columnsAt(int32_t x) {
    return _mm_cvtepi32_ps(_mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3)));
}
inline __m128 absPs(__m128 v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff))); }
inline __m128i select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// The low byte of truncToInt32 of four floats, as an 8-bit channel keeps
// it. cvttps gives 0x80000000 for NaN and out-of-range lanes, whose low
// byte is already that of the guarded 0 and INT32_MIN; only lanes at or
// above 2^31 need turning into INT32_MAX's 0xff.
inline __m128i truncLow8(__m128 v) {
    const __m128i t = _mm_cvttps_epi32(v);
    const __m128 big = _mm_cmpge_ps(v, _mm_set1_ps(2147483648.0f));
    return _mm_and_si128(_mm_xor_si128(t, _mm_castps_si128(big)), _mm_set1_epi32(0xff));
}

// Whether column x lies within `limit` of cx, by the test the scalar pixel
// loops make (true for every column when the limit is NaN).
inline bool within(float cx, int32_t x, float limit) {
    return !(std::fabs(cx - static_cast<float>(x)) > limit);
}

// The columns of x0..x1 within `limit` of cx form one run: the rounded
// distance falls to its minimum next to cx and never shrinks away from it.
// The run is found by bisection on the same float test, so it holds exactly
// the columns the per-pixel test would pass. Empty when first > last.
struct Run {
    int32_t first, last;
};

Run runWithin(float cx, float limit, int32_t x0, int32_t x1) {
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

// Square, 8 bits: the interior run gets the row alpha wherever it is larger
// than the pixel's (a saturated pixel never is).
void squareInterior8(Pixel8 *row, int32_t first, int32_t last, uint32_t rowAlpha, const uint8_t colour[4]) {
    if (rowAlpha == 0) return;
    const uint32_t packed = rowAlpha | (uint32_t(colour[1]) << 8) | (uint32_t(colour[2]) << 16) |
                            (uint32_t(colour[3]) << 24);
    const __m128i full = _mm_set1_epi32(static_cast<int32_t>(packed));
    const __m128i ra = _mm_set1_epi32(static_cast<int32_t>(rowAlpha));
    const __m128i low = _mm_set1_epi32(0xff);
    int32_t x = first;
    for (; x + 3 <= last; x += 4) {
        const __m128i p = loadPixels(row + x);
        const __m128i m = _mm_cmpgt_epi32(ra, _mm_and_si128(p, low));
        storePixels(row + x, select(m, full, p));
    }
    for (; x <= last; ++x)
        if (rowAlpha > row[x].alpha) writeColour(row[x], colour, rowAlpha);
}

void squareInterior16(Pixel16 *row, int32_t first, int32_t last, uint32_t rowAlpha, const uint16_t colour[4]) {
    if (rowAlpha == 0) return;
    const __m128i full = _mm_setr_epi32(static_cast<int32_t>(rowAlpha | (uint32_t(colour[1]) << 16)),
                                        static_cast<int32_t>(colour[2] | (uint32_t(colour[3]) << 16)),
                                        static_cast<int32_t>(rowAlpha | (uint32_t(colour[1]) << 16)),
                                        static_cast<int32_t>(colour[2] | (uint32_t(colour[3]) << 16)));
    const __m128i ra = _mm_setr_epi32(static_cast<int32_t>(rowAlpha), 0, static_cast<int32_t>(rowAlpha), 0);
    const __m128i top = _mm_setr_epi32(32768, 0, 32768, 0);
    const __m128i low = _mm_setr_epi32(0xffff, 0, 0xffff, 0);
    int32_t x = first;
    for (; x + 1 <= last; x += 2) {
        const __m128i p = loadPixels(row + x);
        const __m128i ad = _mm_and_si128(p, low);
        __m128i m = _mm_and_si128(_mm_cmpgt_epi32(ra, ad), _mm_cmpgt_epi32(top, ad));
        m = _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 2, 0, 0));
        storePixels(row + x, select(m, full, p));
    }
    for (; x <= last; ++x)
        if (row[x].alpha < 32768 && rowAlpha > row[x].alpha) writeColour(row[x], colour, rowAlpha);
}

// Square edge columns (outside the inner half-width, inside the outer):
// coverage from the row's base and the column's own distance.
struct SquareEdge {
    float cx, ri, norm, base, alphaF;
};

template <typename Pixel, typename Channel>
void squareEdgeScalar(Pixel &px, int32_t x, const SquareEdge &e, const Channel colour[4]) {
    if (Depth<Pixel>::saturated(px.alpha)) return;
    const float adx = std::fabs(e.cx - static_cast<float>(x));
    const float g = (adx - e.ri) * e.norm;
    const float cov = e.base - g * g;
    if (cov <= 0.0f) return;
    const uint32_t a = Depth<Pixel>::toChannel(e.alphaF * cov);
    if (a > static_cast<uint32_t>(px.alpha)) writeColour(px, colour, a);
}

void squareEdge8(Pixel8 *row, int32_t first, int32_t last, const SquareEdge &e, const uint8_t colour[4]) {
    const __m128 cx = _mm_set1_ps(e.cx), ri = _mm_set1_ps(e.ri), norm = _mm_set1_ps(e.norm);
    const __m128 base = _mm_set1_ps(e.base), alphaF = _mm_set1_ps(e.alphaF);
    const __m128i rgb = _mm_set1_epi32(static_cast<int32_t>((uint32_t(colour[1]) << 8) |
                                                            (uint32_t(colour[2]) << 16) |
                                                            (uint32_t(colour[3]) << 24)));
    const __m128i low = _mm_set1_epi32(0xff);
    int32_t x = first;
    for (; x + 3 <= last; x += 4) {
        const __m128 adx = absPs(_mm_sub_ps(cx, columnsAt(x)));
        const __m128 g = _mm_mul_ps(_mm_sub_ps(adx, ri), norm);
        const __m128 cov = _mm_sub_ps(base, _mm_mul_ps(g, g));
        const __m128i a = _mm_and_si128(truncToInt32x4(_mm_mul_ps(alphaF, cov)), low);
        const __m128i p = loadPixels(row + x);
        const __m128i m = _mm_and_si128(_mm_castps_si128(_mm_cmpgt_ps(cov, _mm_setzero_ps())),
                                        _mm_cmpgt_epi32(a, _mm_and_si128(p, low)));
        storePixels(row + x, select(m, _mm_or_si128(rgb, a), p));
    }
    for (; x <= last; ++x) squareEdgeScalar(row[x], x, e, colour);
}

void squareEdge16(Pixel16 *row, int32_t first, int32_t last, const SquareEdge &e, const uint16_t colour[4]) {
    for (int32_t x = first; x <= last; ++x) squareEdgeScalar(row[x], x, e, colour);
}

inline void squareInterior(Pixel8 *row, int32_t f, int32_t l, uint32_t ra, const uint8_t c[4]) {
    squareInterior8(row, f, l, ra, c);
}
inline void squareInterior(Pixel16 *row, int32_t f, int32_t l, uint32_t ra, const uint16_t c[4]) {
    squareInterior16(row, f, l, ra, c);
}
inline void squareEdge(Pixel8 *row, int32_t f, int32_t l, const SquareEdge &e, const uint8_t c[4]) {
    squareEdge8(row, f, l, e, c);
}
inline void squareEdge(Pixel16 *row, int32_t f, int32_t l, const SquareEdge &e, const uint16_t c[4]) {
    squareEdge16(row, f, l, e, c);
}

// Square rows whose base is exactly 1 (all rows within the inner
// half-width) have the same coverage in every column, so it is converted
// once per dab into a table of whole pixels, alpha 0 where nothing is
// written (0 never exceeds a pixel's alpha). Other rows take the column's
// squared edge term from a second table.
constexpr int32_t kSquareTableColumns = 1024;

struct SquareTables8 {
    // Room for the last group of four the table fill writes.
    alignas(16) uint32_t pixel[kSquareTableColumns + 4];
    alignas(16) float g2[kSquareTableColumns + 4];
};

void squareTableRow8(Pixel8 *row, int32_t first, int32_t last, const uint32_t *table) {
    const __m128i low = _mm_set1_epi32(0xff);
    int32_t x = first;
    for (; x + 3 <= last; x += 4, table += 4) {
        const __m128i p = loadPixels(row + x);
        const __m128i t = _mm_load_si128(reinterpret_cast<const __m128i *>(table));
        const __m128i m = _mm_cmpgt_epi32(_mm_and_si128(t, low), _mm_and_si128(p, low));
        storePixels(row + x, select(m, t, p));
    }
    for (; x <= last; ++x, ++table) {
        const uint32_t a = *table & 0xffu;
        if (a > row[x].alpha) std::memcpy(&row[x], table, sizeof(Pixel8));
    }
}

// Edge columns first..last of a row with the given base; g2 holds the
// columns' squared edge terms from `first` on.
void squareTableEdge8(Pixel8 *row, int32_t first, int32_t last, const float *g2, float base, float alphaF,
                      const uint8_t colour[4]) {
    const __m128 basev = _mm_set1_ps(base), alphaFv = _mm_set1_ps(alphaF);
    const __m128i rgb = _mm_set1_epi32(static_cast<int32_t>((uint32_t(colour[1]) << 8) |
                                                            (uint32_t(colour[2]) << 16) |
                                                            (uint32_t(colour[3]) << 24)));
    const __m128i low = _mm_set1_epi32(0xff);
    int32_t x = first;
    for (; x + 3 <= last; x += 4, g2 += 4) {
        const __m128 cov = _mm_sub_ps(basev, _mm_loadu_ps(g2));
        const __m128i a = _mm_and_si128(truncToInt32x4(_mm_mul_ps(alphaFv, cov)), low);
        const __m128i p = loadPixels(row + x);
        const __m128i m = _mm_and_si128(_mm_castps_si128(_mm_cmpgt_ps(cov, _mm_setzero_ps())),
                                        _mm_cmpgt_epi32(a, _mm_and_si128(p, low)));
        storePixels(row + x, select(m, _mm_or_si128(rgb, a), p));
    }
    for (; x <= last; ++x, ++g2) {
        Pixel8 &px = row[x];
        if (px.alpha == 255) continue;
        const float cov = base - *g2;
        if (cov <= 0.0f) continue;
        const uint32_t a = truncToChannel8(alphaF * cov);
        if (a > px.alpha) writeColour(px, colour, a);
    }
}

// Square by runs: the columns within the outer and the inner half-width
// do not depend on the row, so they are found once per dab; each row then
// fills its interior run with the row alpha and computes only the edges.
template <typename Pixel, typename Channel>
bool vectorSquare(float A, float R, float h, float cx, float cy, const Channel colour[4], const ImageView *scratch,
                  PaintedRows *rows) {
    if (R <= 0.0f) return true;
    const float Rx = R * A;
    Channel alpha = colour[0];
    if (static_cast<double>(Rx) < 0.1)
        alpha = Depth<Pixel>::toChannel(static_cast<double>(Rx) * 10.0 * static_cast<double>(alpha));
    if (alpha == 0) return true;
    const SquareConstants k = squareConstants(Rx, h);
    if (!vectorFits(k.ro, cx, scratch)) return false;
    const float alphaF = static_cast<float>(alpha);
    bool found = false;
    Run outer{1, 0}, inner{1, 0};
    stampRows<Pixel>(A, k.ro, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        if (!found) {
            found = true;
            outer = runWithin(cx, k.ro, x0, x1);
            if (outer.first <= outer.last) {
                inner = runWithin(cx, k.ri, x0, x1);
                inner.first = std::max(inner.first, outer.first);
                inner.last = std::min(inner.last, outer.last);
            }
        }
        if (outer.first > outer.last) return;
        float wy = 0.0f;
        if (ady > k.ri) {
            const float g = (ady - k.ri) * k.norm;
            wy = g * g;
        }
        const float base = static_cast<float>(1.0 - static_cast<double>(wy));
        const SquareEdge e{cx, k.ri, k.norm, base, alphaF};
        if (inner.first > inner.last) {
            squareEdge(row, outer.first, outer.last, e, colour);
            return;
        }
        const uint32_t rowAlpha = Depth<Pixel>::toChannel(alphaF * base);
        squareInterior(row, inner.first, inner.last, rowAlpha, colour);
        squareEdge(row, outer.first, inner.first - 1, e, colour);
        squareEdge(row, inner.last + 1, outer.last, e, colour);
    });
    return true;
}

// The 8-bit square with its tables; wider dabs than the tables hold take
// the run form above.
bool vectorSquare8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
    if (R <= 0.0f) return true;
    const float Rx = R * A;
    uint8_t alpha = colour[0];
    if (static_cast<double>(Rx) < 0.1)
        alpha = truncToChannel8(static_cast<double>(Rx) * 10.0 * static_cast<double>(alpha));
    if (alpha == 0) return true;
    const SquareConstants k = squareConstants(Rx, h);
    if (!vectorFits(k.ro, cx, scratch)) return false;
    {
        const int32_t x0 = clampToImage(cx - k.ro, scratch->width - 1);
        const int32_t x1 = clampToImage(k.ro + cx, scratch->width - 1);
        if (x1 - x0 >= kSquareTableColumns) return vectorSquare<Pixel8>(A, R, h, cx, cy, colour, scratch, rows);
    }
    const float alphaF = static_cast<float>(alpha);
    const uint32_t rgb = (uint32_t(colour[1]) << 8) | (uint32_t(colour[2]) << 16) | (uint32_t(colour[3]) << 24);
    bool found = false;
    Run outer{1, 0}, inner{1, 0};
    SquareTables8 t;
    stampRows<Pixel8>(A, k.ro, cx, cy, scratch, rows, [&](Pixel8 *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        if (!found) {
            found = true;
            outer = runWithin(cx, k.ro, x0, x1);
            if (outer.first <= outer.last) {
                inner = runWithin(cx, k.ri, x0, x1);
                inner.first = std::max(inner.first, outer.first);
                inner.last = std::min(inner.last, outer.last);
            }
            // Four columns at a time, the same float steps as the scalar
            // form; inner columns get edge term 0, so cov = 1 and the row
            // alpha of a full row.
            const __m128 cxv = _mm_set1_ps(cx), riv = _mm_set1_ps(k.ri), normv = _mm_set1_ps(k.norm);
            const __m128 one = _mm_set1_ps(1.0f), alphaFv = _mm_set1_ps(alphaF);
            const __m128i rgbv = _mm_set1_epi32(static_cast<int32_t>(rgb));
            const __m128i innerFirst = _mm_set1_epi32(inner.first - 1), innerLast = _mm_set1_epi32(inner.last + 1);
            for (int32_t x = outer.first; x <= outer.last; x += 4) {
                const int32_t i = x - outer.first;
                const __m128i xi = _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3));
                const __m128i isInner = _mm_and_si128(_mm_cmpgt_epi32(xi, innerFirst), _mm_cmplt_epi32(xi, innerLast));
                const __m128 adx = absPs(_mm_sub_ps(cxv, _mm_cvtepi32_ps(xi)));
                const __m128 g = _mm_mul_ps(_mm_sub_ps(adx, riv), normv);
                const __m128 g2 = _mm_andnot_ps(_mm_castsi128_ps(isInner), _mm_mul_ps(g, g));
                const __m128 cov = _mm_sub_ps(one, g2);
                const __m128i a = _mm_and_si128(truncLow8(_mm_mul_ps(alphaFv, cov)),
                                                _mm_castps_si128(_mm_cmpgt_ps(cov, _mm_setzero_ps())));
                _mm_store_ps(t.g2 + i, g2);
                _mm_store_si128(reinterpret_cast<__m128i *>(t.pixel + i), _mm_or_si128(rgbv, a));
            }
        }
        if (outer.first > outer.last) return;
        float wy = 0.0f;
        if (ady > k.ri) {
            const float g = (ady - k.ri) * k.norm;
            wy = g * g;
        }
        const float base = static_cast<float>(1.0 - static_cast<double>(wy));
        if (base == 1.0f) {
            squareTableRow8(row, outer.first, outer.last, t.pixel);
            return;
        }
        if (inner.first > inner.last) {
            squareTableEdge8(row, outer.first, outer.last, t.g2, base, alphaF, colour);
            return;
        }
        squareInterior8(row, inner.first, inner.last, truncToChannel8(alphaF * base), colour);
        squareTableEdge8(row, outer.first, inner.first - 1, t.g2, base, alphaF, colour);
        squareTableEdge8(row, inner.last + 1, outer.last, t.g2 + (inner.last + 1 - outer.first), base, alphaF,
                         colour);
    });
    return true;
}

// Soft and round, 8 bits: the union merge of coverage a into four pixels.
// Where ad = 0 or a = 255 the colour is written with alpha a; otherwise,
// for a != 0, ad becomes ad - (((ad + 1) * a) >> 8) + a. That formula also
// gives a when ad = 0 or a = 255, and leaves ad when a = 0, so every active
// lane takes it as its alpha and only the colour channels depend on the
// case. `active` holds the lanes that get coverage at all (inside the dab,
// not saturated).
inline __m128i unionMerge8(__m128i p, __m128i a, __m128i active, __m128i rgb) {
    const __m128i low = _mm_set1_epi32(0xff);
    const __m128i ad = _mm_and_si128(p, low);
    const __m128i write = _mm_and_si128(active, _mm_or_si128(_mm_cmpeq_epi32(ad, _mm_setzero_si128()),
                                                             _mm_cmpeq_epi32(a, low)));
    // (ad + 1) * a < 65536: the 16-bit product of the low halves is exact.
    const __m128i prod = _mm_mullo_epi16(_mm_add_epi32(ad, _mm_set1_epi32(1)), a);
    const __m128i merged = _mm_and_si128(_mm_add_epi32(_mm_sub_epi32(ad, _mm_srli_epi32(prod, 8)), a), low);
    const __m128i colourPart = select(write, rgb, _mm_andnot_si128(low, p));
    return select(active, _mm_or_si128(colourPart, merged), p);
}

// One 8-bit soft or round dab as the row loops need it. The squared
// horizontal distance of each column does not depend on the row, so it is
// tabled once per dab (dx2[x - x0]); each row adds its own dy².
constexpr int32_t kDabTableColumns = 1024;

struct UnionDab8 {
    alignas(16) float dx2[kDabTableColumns];
    int32_t x0;
    float outer2;  // soft: Rx²; round: ro²
    float q;       // round: the core's limit
    float norm, alphaF;
    uint32_t alpha;  // round: the core's alpha
    uint32_t rgb;    // colour channels in place, alpha byte 0
    const uint8_t *colour;
};

// The coverage a pixel at squared distance d2 gets, in float; the soft
// and round rims multiply in different orders.
template <bool Round>
inline void unionScalar8(Pixel8 &px, float d2, const UnionDab8 &d) {
    if (!(d2 < d.outer2)) return;
    if (!Round) {
        const float u = (d.outer2 - d2) * d.norm;
        softMerge8(px, d.colour, truncToChannel8(u * u * u * d.alphaF));
    } else if (d2 > d.q) {
        const float u = (d.outer2 - d2) * d.norm;
        softMerge8(px, d.colour, truncToChannel8(u * d.alphaF * u * u));
    } else {
        // The core merges as the union with a = alpha (never 0 here).
        softMerge8(px, d.colour, d.alpha);
    }
}

template <bool Round>
void unionRow8Sse2(Pixel8 *row, int32_t x, int32_t x1, float dy2, const UnionDab8 &d) {
    const __m128 outer2 = _mm_set1_ps(d.outer2), norm = _mm_set1_ps(d.norm), alphaF = _mm_set1_ps(d.alphaF);
    const __m128 dy2v = _mm_set1_ps(dy2);
    const __m128i rgb = _mm_set1_epi32(static_cast<int32_t>(d.rgb));
    const __m128i low = _mm_set1_epi32(0xff);
    const float *dx2 = d.dx2 + (x - d.x0);
    for (; x + 3 <= x1; x += 4, dx2 += 4) {
        const __m128i p = loadPixels(row + x);
        const __m128 d2 = _mm_add_ps(_mm_loadu_ps(dx2), dy2v);
        const __m128i in = _mm_castps_si128(_mm_cmplt_ps(d2, outer2));
        const __m128i active = _mm_andnot_si128(_mm_cmpeq_epi32(_mm_and_si128(p, low), low), in);
        if (_mm_movemask_epi8(active) == 0) continue;
        const __m128 u = _mm_mul_ps(_mm_sub_ps(outer2, d2), norm);
        __m128i a;
        if (!Round) {
            a = truncLow8(_mm_mul_ps(_mm_mul_ps(_mm_mul_ps(u, u), u), alphaF));
        } else {
            const __m128i rim = _mm_castps_si128(_mm_cmpgt_ps(d2, _mm_set1_ps(d.q)));
            const __m128i rimA = truncLow8(_mm_mul_ps(_mm_mul_ps(_mm_mul_ps(u, alphaF), u), u));
            a = select(rim, rimA, _mm_set1_epi32(static_cast<int32_t>(d.alpha)));
        }
        storePixels(row + x, unionMerge8(p, a, active, rgb));
    }
    for (; x <= x1; ++x, ++dx2) {
        if (row[x].alpha == 255) continue;
        unionScalar8<Round>(row[x], *dx2 + dy2, d);
    }
}

#if PENNARO_DAB_AVX2
// The same loop eight pixels at a time.
template <bool Round>
PENNARO_TARGET_AVX2 void unionRow8Avx2(Pixel8 *row, int32_t x, int32_t x1, float dy2, const UnionDab8 &d) {
    const __m256 outer2 = _mm256_set1_ps(d.outer2), norm = _mm256_set1_ps(d.norm);
    const __m256 alphaF = _mm256_set1_ps(d.alphaF), dy2v = _mm256_set1_ps(dy2);
    const __m256 q = _mm256_set1_ps(d.q), big = _mm256_set1_ps(2147483648.0f);
    const __m256i rgb = _mm256_set1_epi32(static_cast<int32_t>(d.rgb));
    const __m256i low = _mm256_set1_epi32(0xff), one = _mm256_set1_epi32(1);
    const __m256i alphaV = _mm256_set1_epi32(static_cast<int32_t>(d.alpha));
    const float *dx2 = d.dx2 + (x - d.x0);
    for (; x + 7 <= x1; x += 8, dx2 += 8) {
        const __m256i p = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(row + x));
        const __m256 d2 = _mm256_add_ps(_mm256_loadu_ps(dx2), dy2v);
        const __m256i in = _mm256_castps_si256(_mm256_cmp_ps(d2, outer2, _CMP_LT_OQ));
        const __m256i ad = _mm256_and_si256(p, low);
        const __m256i active = _mm256_andnot_si256(_mm256_cmpeq_epi32(ad, low), in);
        if (_mm256_testz_si256(active, active)) continue;
        const __m256 u = _mm256_mul_ps(_mm256_sub_ps(outer2, d2), norm);
        __m256 t;
        if (!Round)
            t = _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(u, u), u), alphaF);
        else
            t = _mm256_mul_ps(_mm256_mul_ps(_mm256_mul_ps(u, alphaF), u), u);
        __m256i a = _mm256_xor_si256(_mm256_cvttps_epi32(t),
                                     _mm256_castps_si256(_mm256_cmp_ps(t, big, _CMP_GE_OQ)));
        a = _mm256_and_si256(a, low);
        if (Round) {
            const __m256i rim = _mm256_castps_si256(_mm256_cmp_ps(d2, q, _CMP_GT_OQ));
            a = _mm256_blendv_epi8(alphaV, a, rim);
        }
        const __m256i write = _mm256_and_si256(
            active, _mm256_or_si256(_mm256_cmpeq_epi32(ad, _mm256_setzero_si256()), _mm256_cmpeq_epi32(a, low)));
        const __m256i prod = _mm256_mullo_epi16(_mm256_add_epi32(ad, one), a);
        const __m256i merged =
            _mm256_and_si256(_mm256_add_epi32(_mm256_sub_epi32(ad, _mm256_srli_epi32(prod, 8)), a), low);
        const __m256i colourPart = _mm256_blendv_epi8(_mm256_andnot_si256(low, p), rgb, write);
        const __m256i out = _mm256_blendv_epi8(p, _mm256_or_si256(colourPart, merged), active);
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(row + x), out);
    }
    if (x <= x1) unionRow8Sse2<Round>(row, x, x1, dy2, d);
}
#endif

// The soft and round kernels by rows. False when the dab is wider than the
// column table or its centre is not finite; the scalar form takes it then.
template <bool Round>
bool unionDab8(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows, UnionDab8 &d,
               bool wide) {
    if (!vectorFits(E, cx, scratch)) return false;
    {
        const int32_t x0 = clampToImage(cx - E, scratch->width - 1);
        const int32_t x1 = clampToImage(E + cx, scratch->width - 1);
        if (x1 - x0 >= kDabTableColumns) return false;
    }
    bool tabled = false;
    stampRows<Pixel8>(A, E, cx, cy, scratch, rows, [&](Pixel8 *row, float dy, int32_t x0, int32_t x1) {
        const float dy2 = dy * dy;
        if (!(dy2 < d.outer2)) return;
        if (!tabled) {
            tabled = true;
            d.x0 = x0;
            for (int32_t x = x0; x <= x1; ++x) {
                const float dx = cx - static_cast<float>(x);
                d.dx2[x - x0] = dx * dx;
            }
        }
#if PENNARO_DAB_AVX2
        if (wide) return unionRow8Avx2<Round>(row, x0, x1, dy2, d);
#else
        (void)wide;
#endif
        unionRow8Sse2<Round>(row, x0, x1, dy2, d);
    });
    return true;
}

bool vectorSoft8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                 PaintedRows *rows, bool wide) {
    if (static_cast<double>(R) < 0.01) return true;
    const uint32_t alpha = static_cast<uint32_t>(colour[0]) >> 1;
    if (alpha == 0) return true;
    const float Rx = R * A;
    const float rx2 = Rx * Rx;
    float e = 0.0f;
    if (Rx < 2.0f) {
        const float g = 2.0f - Rx;
        e = -(g * g);
    }
    UnionDab8 d;
    d.outer2 = rx2;
    d.q = 0.0f;
    d.norm = static_cast<float>(1.0 / static_cast<double>(rx2 - e));
    d.alphaF = static_cast<float>(alpha);
    d.alpha = alpha;
    d.rgb = (uint32_t(colour[1]) << 8) | (uint32_t(colour[2]) << 16) | (uint32_t(colour[3]) << 24);
    d.colour = colour;
    return unionDab8<false>(A, Rx, cx, cy, scratch, rows, d, wide);
}

bool vectorRound8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                  PaintedRows *rows, bool wide) {
    if (static_cast<double>(R) < 0.0001) return true;
    const uint32_t alpha = colour[0];
    if (alpha == 0) return true;
    const RoundConstants k = roundConstants(R * A, h);
    UnionDab8 d;
    d.outer2 = k.ro2;
    d.q = k.q;
    d.norm = k.norm;
    d.alphaF = static_cast<float>(alpha);
    d.alpha = alpha;
    d.rgb = (uint32_t(colour[1]) << 8) | (uint32_t(colour[2]) << 16) | (uint32_t(colour[3]) << 24);
    d.colour = colour;
    return unionDab8<true>(A, k.ro, cx, cy, scratch, rows, d, wide);
}

// The 16-bit soft and round dabs by rows, four pixels (two registers) a
// step. Their merges are one rule: the colour is written with alpha a where
// ad = 0; elsewhere ad becomes ad - ((ad * a) >> 15) + a, which also leaves
// ad when a = 0 and gives a when ad = 0 (the round rim's a - ((a * ad) >>
// 15) + ad is the same sum). ad < 32768 and a < 65536 on every merged lane,
// so the product fits 32 bits.
struct UnionDab16 {
    alignas(16) float dx2[kDabTableColumns];
    int32_t x0;
    float outer2, q, norm, alphaF;
    uint32_t alpha;
    const uint16_t *colour;
};

template <bool Round>
inline void unionScalar16(Pixel16 &px, float d2, const UnionDab16 &d) {
    if (!(d2 < d.outer2)) return;
    uint32_t a = d.alpha;
    if (!Round || d2 > d.q) {
        const float u = (d.outer2 - d2) * d.norm;
        a = truncToChannel16(u * u * u * d.alphaF);
    }
    const uint32_t ad = px.alpha;
    if (ad == 0)
        writeColour(px, d.colour, a);
    else if (a != 0)
        px.alpha = static_cast<uint16_t>(ad - ((ad * a) >> 15) + a);
}

template <bool Round>
void unionRow16Sse2(Pixel16 *row, int32_t x0, int32_t x1, float dy2, const UnionDab16 &d) {
    const __m128 outer2 = _mm_set1_ps(d.outer2), norm = _mm_set1_ps(d.norm), alphaF = _mm_set1_ps(d.alphaF);
    const __m128 dy2v = _mm_set1_ps(dy2), q = _mm_set1_ps(d.q), big = _mm_set1_ps(2147483648.0f);
    const __m128i alphaLane = _mm_setr_epi32(0xffff, 0, 0xffff, 0);
    const __m128i low16 = _mm_set1_epi32(0xffff);
    const __m128i top = _mm_set1_epi32(32768);
    const __m128i alphaV = _mm_set1_epi32(static_cast<int32_t>(d.alpha));
    const __m128i rgb = _mm_setr_epi32(static_cast<int32_t>(uint32_t(d.colour[1]) << 16),
                                       static_cast<int32_t>(d.colour[2] | (uint32_t(d.colour[3]) << 16)),
                                       static_cast<int32_t>(uint32_t(d.colour[1]) << 16),
                                       static_cast<int32_t>(d.colour[2] | (uint32_t(d.colour[3]) << 16)));
    int32_t x = x0;
    const float *dx2 = d.dx2 + (x0 - d.x0);
    for (; x + 3 <= x1; x += 4, dx2 += 4) {
        const __m128i p0 = loadPixels(row + x), p1 = loadPixels(row + x + 2);
        const __m128i ad = _mm_unpacklo_epi64(
            _mm_shuffle_epi32(_mm_and_si128(p0, alphaLane), _MM_SHUFFLE(3, 1, 2, 0)),
            _mm_shuffle_epi32(_mm_and_si128(p1, alphaLane), _MM_SHUFFLE(3, 1, 2, 0)));
        const __m128 d2 = _mm_add_ps(_mm_loadu_ps(dx2), dy2v);
        const __m128i active = _mm_and_si128(_mm_castps_si128(_mm_cmplt_ps(d2, outer2)), _mm_cmpgt_epi32(top, ad));
        if (_mm_movemask_epi8(active) == 0) continue;
        const __m128 u = _mm_mul_ps(_mm_sub_ps(outer2, d2), norm);
        const __m128 t = _mm_mul_ps(_mm_mul_ps(_mm_mul_ps(u, u), u), alphaF);
        __m128i a = _mm_and_si128(_mm_xor_si128(_mm_cvttps_epi32(t), _mm_castps_si128(_mm_cmpge_ps(t, big))), low16);
        if (Round) a = select(_mm_castps_si128(_mm_cmpgt_ps(d2, q)), a, alphaV);
        const __m128i lo = _mm_mullo_epi16(ad, a), hi = _mm_mulhi_epu16(ad, a);
        const __m128i prod = _mm_or_si128(lo, _mm_slli_epi32(hi, 16));
        const __m128i merged = _mm_and_si128(_mm_add_epi32(_mm_sub_epi32(ad, _mm_srli_epi32(prod, 15)), a), low16);
        const __m128i write = _mm_and_si128(active, _mm_cmpeq_epi32(ad, _mm_setzero_si128()));
        // Back to two pixels a register: alpha in the first lane of each.
        auto put = [&](__m128i p, int half) {
            const __m128i act = half ? _mm_shuffle_epi32(active, _MM_SHUFFLE(3, 3, 2, 2))
                                     : _mm_shuffle_epi32(active, _MM_SHUFFLE(1, 1, 0, 0));
            const __m128i wr = half ? _mm_shuffle_epi32(write, _MM_SHUFFLE(3, 3, 2, 2))
                                    : _mm_shuffle_epi32(write, _MM_SHUFFLE(1, 1, 0, 0));
            const __m128i al = _mm_and_si128(half ? _mm_shuffle_epi32(merged, _MM_SHUFFLE(3, 3, 2, 2))
                                                  : _mm_shuffle_epi32(merged, _MM_SHUFFLE(1, 1, 0, 0)),
                                             alphaLane);
            const __m128i colourPart = select(wr, rgb, _mm_andnot_si128(alphaLane, p));
            return select(act, _mm_or_si128(colourPart, al), p);
        };
        storePixels(row + x, put(p0, 0));
        storePixels(row + x + 2, put(p1, 1));
    }
    for (; x <= x1; ++x, ++dx2) {
        if (row[x].alpha >= 32768) continue;
        unionScalar16<Round>(row[x], *dx2 + dy2, d);
    }
}

template <bool Round>
bool unionDab16(float A, float E, float cx, float cy, const ImageView *scratch, PaintedRows *rows, UnionDab16 &d) {
    if (!vectorFits(E, cx, scratch)) return false;
    {
        const int32_t x0 = clampToImage(cx - E, scratch->width - 1);
        const int32_t x1 = clampToImage(E + cx, scratch->width - 1);
        if (x1 - x0 >= kDabTableColumns) return false;
    }
    bool tabled = false;
    stampRows<Pixel16>(A, E, cx, cy, scratch, rows, [&](Pixel16 *row, float dy, int32_t x0, int32_t x1) {
        const float dy2 = dy * dy;
        if (!(dy2 < d.outer2)) return;
        if (!tabled) {
            tabled = true;
            d.x0 = x0;
            for (int32_t x = x0; x <= x1; ++x) {
                const float dx = cx - static_cast<float>(x);
                d.dx2[x - x0] = dx * dx;
            }
        }
        unionRow16Sse2<Round>(row, x0, x1, dy2, d);
    });
    return true;
}

bool vectorSoft16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                  PaintedRows *rows) {
    if (static_cast<double>(R) < 0.01) return true;
    const uint32_t alpha = static_cast<uint32_t>(colour[0]) >> 1;
    if (alpha == 0) return true;
    const float Rx = R * A;
    const float rx2 = Rx * Rx;
    float e = 0.0f;
    if (Rx < 2.0f) {
        const float g = 2.0f - Rx;
        e = -(g * g);
    }
    UnionDab16 d;
    d.outer2 = rx2;
    d.q = 0.0f;
    d.norm = static_cast<float>(1.0 / static_cast<double>(rx2 - e));
    d.alphaF = static_cast<float>(alpha);
    d.alpha = alpha;
    d.colour = colour;
    return unionDab16<false>(A, Rx, cx, cy, scratch, rows, d);
}

bool vectorRound16(float A, float R, float h, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
    if (static_cast<double>(R) < 0.0001) return true;
    const uint32_t alpha = colour[0];
    if (alpha == 0) return true;
    const RoundConstants k = roundConstants(R * A, h);
    UnionDab16 d;
    d.outer2 = k.ro2;
    d.q = k.q;
    d.norm = k.norm;
    d.alphaF = static_cast<float>(alpha);
    d.alpha = alpha;
    d.colour = colour;
    return unionDab16<true>(A, k.ro, cx, cy, scratch, rows, d);
}

#endif  // __SSE2__

}  // namespace

void selectDabKernelPath(DabKernelPath path) {
    while (!dabKernelPathAvailable(path)) path = static_cast<DabKernelPath>(static_cast<uint8_t>(path) - 1);
    g_path.store(path, std::memory_order_relaxed);
}

DabKernelPath dabKernelPath() { return currentPath(); }

bool dabKernelPathAvailable(DabKernelPath path) {
    switch (path) {
        case DabKernelPath::Scalar:
            return true;
        case DabKernelPath::Sse2:
#if defined(__SSE2__)
            return true;
#else
            return false;
#endif
        case DabKernelPath::Avx2:
#if PENNARO_DAB_AVX2
            return __builtin_cpu_supports("avx2");
#else
            return false;
#endif
    }
    return false;
}

void stampSoftDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                   PaintedRows *rows) {
#if defined(__SSE2__)
    const DabKernelPath path = currentPath();
    if (path != DabKernelPath::Scalar &&
        vectorSoft8(A, R, cx, cy, colour, scratch, rows, path == DabKernelPath::Avx2))
        return;
#endif
    scalarStampSoftDab8(A, R, cx, cy, colour, scratch, rows);
}

void stampSoftDab16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                    PaintedRows *rows) {
#if defined(__SSE2__)
    if (currentPath() != DabKernelPath::Scalar && vectorSoft16(A, R, cx, cy, colour, scratch, rows)) return;
#endif
    scalarStampSoftDab16(A, R, cx, cy, colour, scratch, rows);
}

void stampRoundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                    PaintedRows *rows) {
#if defined(__SSE2__)
    const DabKernelPath path = currentPath();
    if (path != DabKernelPath::Scalar &&
        vectorRound8(A, R, h, cx, cy, colour, scratch, rows, path == DabKernelPath::Avx2))
        return;
#endif
    scalarStampRoundDab8(A, R, h, cx, cy, colour, scratch, rows);
}

void stampRoundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                     const ImageView *scratch, PaintedRows *rows) {
#if defined(__SSE2__)
    if (currentPath() != DabKernelPath::Scalar && vectorRound16(A, R, h, cx, cy, colour, scratch, rows)) return;
#endif
    scalarStampRoundDab16(A, R, h, cx, cy, colour, scratch, rows);
}

void stampSquareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                     PaintedRows *rows) {
#if defined(__SSE2__)
    // Square rows are short runs of cheap steps: the AVX2 loops measured
    // slower than these, so both vector paths take the SSE2 ones.
    if (currentPath() != DabKernelPath::Scalar && vectorSquare8(A, R, h, cx, cy, colour, scratch, rows)) return;
#endif
    scalarStampSquareDab8(A, R, h, cx, cy, colour, scratch, rows);
}

void stampSquareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                      const ImageView *scratch, PaintedRows *rows) {
#if defined(__SSE2__)
    if (currentPath() != DabKernelPath::Scalar &&
        vectorSquare<Pixel16>(A, R, h, cx, cy, colour, scratch, rows))
        return;
#endif
    scalarStampSquareDab16(A, R, h, cx, cy, colour, scratch, rows);
}

}  // namespace pennaro
