// Row kernels for compositing, four 8-bit or two 16-bit pixels per SSE2
// step where the target has SSE2 (every x86-64), one pixel at a time through
// the per-pixel rules elsewhere and for the leftover pixels of a row.
//
// The per-pixel operation order is that of over8/over16 and the alpha rules;
// only the quotient of "over" is computed differently, and the arguments
// below show it comes out the same for every input.
#include "pixels/row_kernels.h"

#include <algorithm>
#include <cstring>

#include "pixels/numeric.h"
#include "pixels/rules.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#if (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#include <immintrin.h>
#endif
#endif

namespace pennaro {

namespace {

template <class Pixel>
Pixel loadPixel(const uint8_t *p) {
    Pixel v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
template <class Pixel>
void storePixel(uint8_t *p, const Pixel &v) {
    std::memcpy(p, &v, sizeof v);
}

// One pixel through a rule taking (first, second) and returning the result,
// for the scalar rows and the tails of the vector rows.
template <class Pixel, class Rule>
void scalarRow(const uint8_t *first, const uint8_t *second, uint8_t *dst, int32_t count, Rule rule) {
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = size_t(i) * sizeof(Pixel);
        storePixel(dst + at, rule(loadPixel<Pixel>(first + at), loadPixel<Pixel>(second + at)));
    }
}

// The per-pixel alpha rules, as plain arithmetic.
Pixel8 minAlpha8(Pixel8 p, Pixel8 l) {
    p.alpha = std::min(l.alpha, p.alpha);
    return p;
}
Pixel16 minAlpha16(Pixel16 p, Pixel16 l) {
    p.alpha = std::min(l.alpha, p.alpha);
    return p;
}
// The 8-bit matte divides by 256 after adding 1 to the layer alpha; the
// 16-bit one adds nothing.
Pixel8 matte8(Pixel8 p, Pixel8 l) {
    l.alpha = static_cast<uint8_t>(((uint32_t{l.alpha} + 1u) * p.alpha) / 256u);
    return l;
}
Pixel16 matte16(Pixel16 p, Pixel16 l) {
    l.alpha = static_cast<uint16_t>((uint32_t{p.alpha} * l.alpha) >> 15);
    return l;
}
Pixel8 inverseMatte8(Pixel8 p, Pixel8 l) {
    l.alpha = static_cast<uint8_t>(((256u - p.alpha) * l.alpha) / 256u);
    return l;
}
Pixel16 inverseMatte16(Pixel16 p, Pixel16 l) {
    l.alpha = static_cast<uint16_t>(((32768u - p.alpha) * l.alpha) >> 15);
    return l;
}
template <class Pixel>
Pixel paintAlpha(Pixel p, Pixel l) {
    l.alpha = p.alpha;
    return l;
}
template <class Pixel>
Pixel maxAlpha(Pixel p, Pixel l) {
    l.alpha = std::max(l.alpha, p.alpha);
    return l;
}
Pixel8 erase8(Pixel8 s, Pixel8 d) {
    d.alpha = static_cast<uint8_t>(((d.alpha + 1u) * (255u - s.alpha)) >> 8);
    return d;
}
Pixel16 erase16(Pixel16 s, Pixel16 d) {
    d.alpha = static_cast<uint16_t>(((32768u - s.alpha) * d.alpha) >> 15);
    return d;
}

template <class Pixel>
Pixel overKeepBottomAlpha(Pixel t, Pixel b);
template <>
Pixel8 overKeepBottomAlpha(Pixel8 t, Pixel8 b) {
    Pixel8 r = over8(t, b);
    r.alpha = b.alpha;
    return r;
}
template <>
Pixel16 overKeepBottomAlpha(Pixel16 t, Pixel16 b) {
    Pixel16 r = over16(t, b);
    r.alpha = b.alpha;
    return r;
}

#if defined(__SSE2__)

__m128i loadu(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
void storeu(uint8_t *p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i *>(p), v); }
__m128i select(__m128i mask, __m128i yes, __m128i no) {
    return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
}

// ---- 8 bits: one pixel per 32-bit lane, alpha in the low byte.
//
// Weights: wt = ta * 255 and wb = ba * (255 - ta) are at most 65025, so the
// 16-bit multiply of the low halves (high halves zero) is exact. The colour
// numerator n = bc * wb + tc * wt is at most 255 * d < 2^24, so both
// products, their sum and d are exact in single precision. The quotient
// fl(n / d) is correctly rounded; when n / d is not an integer it lies at
// least 1/d >= 1/65025 below the next integer k + 1 <= 255, which is more
// than the float spacing below 256 (2^-16), so rounding never reaches k + 1
// and truncation gives floor(n / d) exactly (an integer quotient is exact).
//
// The shortcuts need no selecting but one: an opaque top (wb = 0, d = wt)
// and a transparent bottom under a partial top (wb = 0) both give n = tc * d,
// so q = tc, and alpha ba - ba + 255 = 255 or 0 - 0 + ta = ta: the top as it
// stands. A transparent top over a partial bottom gives the bottom the same
// way. Only a transparent top is selected, for the pixel with both alphas 0,
// whose 0 / 0 is discarded there.
//
// Alpha: floor(x / 255) for x = ba * ta <= 65025 is (x + 1 + (x >> 8)) >> 8
// (the exhaustive test meets every alpha pair, hence every such x).
template <bool keepBottomAlpha>
__m128i over8x4(__m128i t, __m128i b) {
    const __m128i lowByte = _mm_set1_epi32(0xFF);
    const __m128i zero = _mm_setzero_si128();
    const __m128i ta = _mm_and_si128(t, lowByte);
    const __m128i ba = _mm_and_si128(b, lowByte);
    const __m128i wt = _mm_sub_epi32(_mm_slli_epi32(ta, 8), ta);
    const __m128i wb = _mm_mullo_epi16(ba, _mm_sub_epi32(lowByte, ta));
    const __m128 fwt = _mm_cvtepi32_ps(wt);
    const __m128 fwb = _mm_cvtepi32_ps(wb);
    const __m128 fd = _mm_add_ps(fwt, fwb);

    auto channel = [&](int shift) {
        const __m128i tc = _mm_and_si128(_mm_srli_epi32(t, shift), lowByte);
        const __m128i bc = _mm_and_si128(_mm_srli_epi32(b, shift), lowByte);
        const __m128 n = _mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(bc), fwb), _mm_mul_ps(_mm_cvtepi32_ps(tc), fwt));
        return _mm_slli_epi32(_mm_cvttps_epi32(_mm_div_ps(n, fd)), shift);
    };
    __m128i alpha;
    if (keepBottomAlpha) {
        alpha = ba;
    } else {
        const __m128i x = _mm_mullo_epi16(ba, ta);
        const __m128i x255 = _mm_srli_epi32(_mm_add_epi32(_mm_add_epi32(x, _mm_set1_epi32(1)), _mm_srli_epi32(x, 8)), 8);
        alpha = _mm_add_epi32(_mm_sub_epi32(ba, x255), ta);
    }
    __m128i r = _mm_or_si128(_mm_or_si128(alpha, channel(8)), _mm_or_si128(channel(16), channel(24)));

    // Of the shortcuts only the transparent top needs selecting (see above).
    r = select(_mm_cmpeq_epi32(ta, zero), b, r);
    if (keepBottomAlpha) r = select(lowByte, b, r);
    return r;
}

template <bool keepBottomAlpha>
void overRow8Sse2(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const size_t at = size_t(i) * 4;
        storeu(dst + at, over8x4<keepBottomAlpha>(loadu(top + at), loadu(bottom + at)));
    }
    const size_t at = size_t(i) * 4;
    if (keepBottomAlpha)
        scalarRow<Pixel8>(top + at, bottom + at, dst + at, count - i, overKeepBottomAlpha<Pixel8>);
    else
        scalarRow<Pixel8>(top + at, bottom + at, dst + at, count - i, over8);
}

// ---- 16 bits: two pixels per register, a 16-bit lane per channel.
//
// Only pixels whose every value is at most 32768 take the vector path; a
// pair holding anything larger goes through over16, whose unsigned 32-bit
// arithmetic then wraps in ways not worth reproducing here.
//
// In range, wb = ((32768 - ta) * ba) >> 15 <= 32768 - ta, so d = wb + ta <=
// 32768 and n = bc * wb + tc * ta <= 32768 * d <= 2^30: the 16 x 16-bit
// products are exact from the low and high halves, and n fits a signed
// 32-bit lane. The single-precision estimate fl(fl(n) / d) carries two
// roundings, a relative error just over 2^-23 of n / d <= 32768, i.e. about
// 2^-8 at most, so its truncation q is floor(n / d) - 1, + 0 or + 1. The remainder n - q * d is then computed
// exactly in integers (q <= 32769 and d fit 16 bits) and one step either
// way corrects q: floor(n / d) exactly.
//
// Of the shortcuts, a transparent top over a partial bottom computes to the
// bottom (wb = ba = d, q = bc, alpha ba) and a transparent bottom under a
// partial top to the top (wb = 0, d = ta, q = tc, alpha ta), so only a
// transparent bottom is selected, for the pixel with both alphas 0.

// Each pixel's alpha copied to its four lanes.
__m128i spreadAlpha16(__m128i v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0), 0); }

// (a * b) >> 15 of unsigned 16-bit lanes, kept to 16 bits.
__m128i mulShift15(__m128i a, __m128i b) {
    return _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epu16(a, b), 1), _mm_srli_epi16(_mm_mullo_epi16(a, b), 15));
}

// Unsigned 32-bit lanes in [0, 65535] to 16-bit lanes (SSE2 packs signed).
__m128i packUnsigned32(__m128i lo, __m128i hi) {
    const __m128i bias = _mm_set1_epi32(32768);
    return _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias)), _mm_set1_epi16(-32768));
}

template <bool keepBottomAlpha>
__m128i over16x2(__m128i t, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i ta = spreadAlpha16(t);
    const __m128i ba = spreadAlpha16(b);
    const __m128i wb = mulShift15(_mm_sub_epi16(_mm_set1_epi16(-32768), ta), ba);
    const __m128i d = _mm_add_epi16(wb, ta);

    const __m128i p1lo = _mm_mullo_epi16(b, wb), p1hi = _mm_mulhi_epu16(b, wb);
    const __m128i p2lo = _mm_mullo_epi16(t, ta), p2hi = _mm_mulhi_epu16(t, ta);
    const __m128i n0 = _mm_add_epi32(_mm_unpacklo_epi16(p1lo, p1hi), _mm_unpacklo_epi16(p2lo, p2hi));
    const __m128i n1 = _mm_add_epi32(_mm_unpackhi_epi16(p1lo, p1hi), _mm_unpackhi_epi16(p2lo, p2hi));
    const __m128i d0 = _mm_unpacklo_epi16(d, zero), d1 = _mm_unpackhi_epi16(d, zero);
    const __m128i e0 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(n0), _mm_cvtepi32_ps(d0)));
    const __m128i e1 = _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(n1), _mm_cvtepi32_ps(d1)));
    // q * d exactly, from the 16-bit halves of the estimates.
    const __m128i e = packUnsigned32(e0, e1);
    const __m128i qdlo = _mm_mullo_epi16(e, d), qdhi = _mm_mulhi_epu16(e, d);
    const __m128i rem0 = _mm_sub_epi32(n0, _mm_unpacklo_epi16(qdlo, qdhi));
    const __m128i rem1 = _mm_sub_epi32(n1, _mm_unpackhi_epi16(qdlo, qdhi));
    const __m128i one = _mm_set1_epi32(1);
    // q - (rem < 0) + (rem >= d); the compare masks are -1 where true.
    const __m128i q0 = _mm_sub_epi32(_mm_add_epi32(e0, _mm_cmplt_epi32(rem0, zero)),
                                     _mm_cmpgt_epi32(rem0, _mm_sub_epi32(d0, one)));
    const __m128i q1 = _mm_sub_epi32(_mm_add_epi32(e1, _mm_cmplt_epi32(rem1, zero)),
                                     _mm_cmpgt_epi32(rem1, _mm_sub_epi32(d1, one)));
    __m128i r = packUnsigned32(q0, q1);

    const __m128i alphaLanes = _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, -1);
    const __m128i alpha = keepBottomAlpha ? b : _mm_add_epi16(_mm_sub_epi16(ta, mulShift15(ba, ta)), ba);
    r = select(alphaLanes, alpha, r);
    // Of the shortcuts only the transparent bottom needs selecting (see
    // above).
    r = select(_mm_cmpeq_epi16(ba, zero), t, r);
    if (keepBottomAlpha) r = select(alphaLanes, b, r);
    return r;
}

// All lanes of both registers at most 32768.
bool inRange16(__m128i t, __m128i b) {
    const __m128i full = _mm_set1_epi16(-32768);
    const __m128i over = _mm_or_si128(_mm_subs_epu16(t, full), _mm_subs_epu16(b, full));
    return _mm_movemask_epi8(_mm_cmpeq_epi16(over, _mm_setzero_si128())) == 0xFFFF;
}

template <bool keepBottomAlpha>
void overRow16Sse2(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 2 <= count; i += 2) {
        const size_t at = size_t(i) * 8;
        const __m128i t = loadu(top + at), b = loadu(bottom + at);
        if (inRange16(t, b)) {
            storeu(dst + at, over16x2<keepBottomAlpha>(t, b));
        } else if (keepBottomAlpha) {
            scalarRow<Pixel16>(top + at, bottom + at, dst + at, 2, overKeepBottomAlpha<Pixel16>);
        } else {
            scalarRow<Pixel16>(top + at, bottom + at, dst + at, 2, over16);
        }
    }
    const size_t at = size_t(i) * 8;
    if (keepBottomAlpha)
        scalarRow<Pixel16>(top + at, bottom + at, dst + at, count - i, overKeepBottomAlpha<Pixel16>);
    else
        scalarRow<Pixel16>(top + at, bottom + at, dst + at, count - i, over16);
}

// ---- the alpha-only rows: a vector step on 16 bytes taking (paint, layer),
// then the scalar rule for the rest of the row.
template <class Pixel, class Step, class Rule>
void alphaRow(uint8_t *paint, const uint8_t *layer, int32_t count, Step step, Rule rule) {
    constexpr int32_t perStep = int32_t(16 / sizeof(Pixel));
    int32_t i = 0;
    for (; i + perStep <= count; i += perStep) {
        const size_t at = size_t(i) * sizeof(Pixel);
        storeu(paint + at, step(loadu(paint + at), loadu(layer + at)));
    }
    const size_t at = size_t(i) * sizeof(Pixel);
    scalarRow<Pixel>(paint + at, layer + at, paint + at, count - i, rule);
}

// The alpha lanes of 8-bit and 16-bit pixels.
__m128i alphaLanes8() { return _mm_set1_epi32(0xFF); }
__m128i alphaLanes16() { return _mm_set_epi16(0, 0, 0, -1, 0, 0, 0, -1); }

// Unsigned 16-bit min and max through the signed ones.
__m128i minU16(__m128i a, __m128i b) {
    const __m128i flip = _mm_set1_epi16(-32768);
    return _mm_xor_si128(_mm_min_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip)), flip);
}
__m128i maxU16(__m128i a, __m128i b) {
    const __m128i flip = _mm_set1_epi16(-32768);
    return _mm_xor_si128(_mm_max_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip)), flip);
}

// ((32768 - s) * x) >> 15 in unsigned 32-bit arithmetic, kept to 16 bits,
// for every 16-bit s and x: 32768 - s wraps to 2^32 - (s - 32768) when s is
// above 32768, i.e. its high half is 0xFFFF, whose product with x only adds
// (0xFFFF * x) << 16 to the low half's product (mod 2^32).
__m128i inverseMulShift15(__m128i s, __m128i x) {
    const __m128i flip = _mm_set1_epi16(-32768);
    const __m128i wlo = _mm_sub_epi16(flip, s);
    const __m128i whi = _mm_cmpgt_epi16(_mm_xor_si128(s, flip), _mm_setzero_si128());
    const __m128i lo = _mm_mullo_epi16(wlo, x);
    const __m128i hi = _mm_add_epi16(_mm_mulhi_epu16(wlo, x), _mm_mullo_epi16(whi, x));
    return _mm_or_si128(_mm_slli_epi16(hi, 1), _mm_srli_epi16(lo, 15));
}

// ---- AVX2: the same kernels on eight 8-bit or four 16-bit pixels, for
// processors that have it (chosen at run time; the library itself targets
// baseline x86-64). The arithmetic is that of over8x4 and over16x2; the
// 8-bit form picks channels out with a byte shuffle and forms the numerator
// in 32-bit integers (exact, below 2^24) before one exact conversion, which
// saves instructions and gives the same n as the float products.
//
// Not on Windows: GCC there cannot realign the stack to the 32 bytes a
// spilled or passed 256-bit value needs, and an aligned access to a
// misaligned slot faults. The SSE2 forms serve there.
#if (defined(__GNUC__) || defined(__clang__)) && !defined(_WIN32)
#define PENNARO_HAVE_AVX2_FORMS 1
#define PENNARO_AVX2 __attribute__((target("avx2")))

PENNARO_AVX2 __m256i select256(__m256i mask, __m256i yes, __m256i no) {
    return _mm256_blendv_epi8(no, yes, mask);
}

// Byte `shift / 8` of every 32-bit lane, zero-extended.
template <int shift>
PENNARO_AVX2 __m256i channel8x8(__m256i v) {
    constexpr char c = char(shift / 8), z = char(-128);
    return _mm256_shuffle_epi8(v, _mm256_setr_epi8(c, z, z, z, char(4 + c), z, z, z, char(8 + c), z, z, z,
                                                   char(12 + c), z, z, z, c, z, z, z, char(4 + c), z, z, z,
                                                   char(8 + c), z, z, z, char(12 + c), z, z, z));
}

template <int shift>
PENNARO_AVX2 __m256i over8Channel256(__m256i t, __m256i b, __m256i wt, __m256i wb, __m256 fd) {
    const __m256i n = _mm256_add_epi32(_mm256_mullo_epi32(channel8x8<shift>(b), wb),
                                       _mm256_mullo_epi32(channel8x8<shift>(t), wt));
    return _mm256_slli_epi32(_mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(n), fd)), shift);
}

template <bool keepBottomAlpha>
PENNARO_AVX2 __m256i over8x8(__m256i t, __m256i b) {
    const __m256i lowByte = _mm256_set1_epi32(0xFF);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ta = _mm256_and_si256(t, lowByte);
    const __m256i ba = _mm256_and_si256(b, lowByte);
    const __m256i wt = _mm256_sub_epi32(_mm256_slli_epi32(ta, 8), ta);
    const __m256i wb = _mm256_mullo_epi16(ba, _mm256_sub_epi32(lowByte, ta));
    const __m256 fd = _mm256_cvtepi32_ps(_mm256_add_epi32(wt, wb));
    __m256i alpha;
    if (keepBottomAlpha) {
        alpha = ba;
    } else {
        const __m256i x = _mm256_mullo_epi16(ba, ta);
        const __m256i x255 = _mm256_srli_epi32(
            _mm256_add_epi32(_mm256_add_epi32(x, _mm256_set1_epi32(1)), _mm256_srli_epi32(x, 8)), 8);
        alpha = _mm256_add_epi32(_mm256_sub_epi32(ba, x255), ta);
    }
    __m256i r = _mm256_or_si256(_mm256_or_si256(alpha, over8Channel256<8>(t, b, wt, wb, fd)),
                                _mm256_or_si256(over8Channel256<16>(t, b, wt, wb, fd),
                                                over8Channel256<24>(t, b, wt, wb, fd)));
    r = select256(_mm256_cmpeq_epi32(ta, zero), b, r);
    if (keepBottomAlpha) r = select256(lowByte, b, r);
    return r;
}

template <bool keepBottomAlpha>
PENNARO_AVX2 void overRow8Avx2Form(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) {
        const size_t at = size_t(i) * 4;
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(top + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bottom + at));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + at), over8x8<keepBottomAlpha>(t, b));
    }
    const size_t at = size_t(i) * 4;
    overRow8Sse2<keepBottomAlpha>(top + at, bottom + at, dst + at, count - i);
}

// The 16-bit kernel on four pixels; unpacking and packing work within each
// 128-bit half, so every lane meets the same partners as in over16x2. The
// remainder's q * d (below 2^31) is a plain 32-bit product here.
PENNARO_AVX2 __m256i spreadAlpha16x4(__m256i v) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0), 0); }

PENNARO_AVX2 __m256i mulShift15x16(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_slli_epi16(_mm256_mulhi_epu16(a, b), 1),
                           _mm256_srli_epi16(_mm256_mullo_epi16(a, b), 15));
}

PENNARO_AVX2 __m256i estimate16x4(__m256i n, __m256i d) {
    return _mm256_cvttps_epi32(_mm256_div_ps(_mm256_cvtepi32_ps(n), _mm256_cvtepi32_ps(d)));
}

PENNARO_AVX2 __m256i correct16x4(__m256i e, __m256i rem, __m256i d) {
    const __m256i zero = _mm256_setzero_si256();
    return _mm256_sub_epi32(_mm256_add_epi32(e, _mm256_cmpgt_epi32(zero, rem)),
                            _mm256_cmpgt_epi32(rem, _mm256_sub_epi32(d, _mm256_set1_epi32(1))));
}

template <bool keepBottomAlpha>
PENNARO_AVX2 __m256i over16x4(__m256i t, __m256i b) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i ta = spreadAlpha16x4(t);
    const __m256i ba = spreadAlpha16x4(b);
    const __m256i wb = mulShift15x16(_mm256_sub_epi16(_mm256_set1_epi16(-32768), ta), ba);
    const __m256i d = _mm256_add_epi16(wb, ta);

    const __m256i p1lo = _mm256_mullo_epi16(b, wb), p1hi = _mm256_mulhi_epu16(b, wb);
    const __m256i p2lo = _mm256_mullo_epi16(t, ta), p2hi = _mm256_mulhi_epu16(t, ta);
    const __m256i n0 = _mm256_add_epi32(_mm256_unpacklo_epi16(p1lo, p1hi), _mm256_unpacklo_epi16(p2lo, p2hi));
    const __m256i n1 = _mm256_add_epi32(_mm256_unpackhi_epi16(p1lo, p1hi), _mm256_unpackhi_epi16(p2lo, p2hi));
    const __m256i d0 = _mm256_unpacklo_epi16(d, zero), d1 = _mm256_unpackhi_epi16(d, zero);
    const __m256i e0 = estimate16x4(n0, d0), e1 = estimate16x4(n1, d1);
    const __m256i q0 = correct16x4(e0, _mm256_sub_epi32(n0, _mm256_mullo_epi32(e0, d0)), d0);
    const __m256i q1 = correct16x4(e1, _mm256_sub_epi32(n1, _mm256_mullo_epi32(e1, d1)), d1);
    // Quotients are at most 32768: unsigned saturation keeps them as they are.
    __m256i r = _mm256_packus_epi32(q0, q1);

    const __m256i alphaLanes = _mm256_set_epi16(0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1, 0, 0, 0, -1);
    const __m256i alpha =
        keepBottomAlpha ? b : _mm256_add_epi16(_mm256_sub_epi16(ta, mulShift15x16(ba, ta)), ba);
    r = select256(alphaLanes, alpha, r);
    r = select256(_mm256_cmpeq_epi16(ba, zero), t, r);
    if (keepBottomAlpha) r = select256(alphaLanes, b, r);
    return r;
}

template <bool keepBottomAlpha>
PENNARO_AVX2 void overRow16Avx2Form(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    const __m256i full = _mm256_set1_epi16(-32768);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const size_t at = size_t(i) * 8;
        const __m256i t = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(top + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(bottom + at));
        const __m256i over = _mm256_or_si256(_mm256_subs_epu16(t, full), _mm256_subs_epu16(b, full));
        if (_mm256_movemask_epi8(_mm256_cmpeq_epi16(over, _mm256_setzero_si256())) == -1)
            _mm256_storeu_si256(reinterpret_cast<__m256i *>(dst + at), over16x4<keepBottomAlpha>(t, b));
        else
            overRow16Sse2<keepBottomAlpha>(top + at, bottom + at, dst + at, 4);
    }
    const size_t at = size_t(i) * 8;
    overRow16Sse2<keepBottomAlpha>(top + at, bottom + at, dst + at, count - i);
}

bool cpuHasAvx2() {
    static const bool yes = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return yes;
}

#endif  // GCC or clang, not Windows

#endif  // __SSE2__

}  // namespace

namespace {

void overRow8Scalar(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    scalarRow<Pixel8>(top, bottom, dst, count, over8);
}
void overRow16Scalar(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    scalarRow<Pixel16>(top, bottom, dst, count, over16);
}
void overKeepBottomAlphaRow8Scalar(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    scalarRow<Pixel8>(top, bottom, dst, count, overKeepBottomAlpha<Pixel8>);
}
void overKeepBottomAlphaRow16Scalar(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    scalarRow<Pixel16>(top, bottom, dst, count, overKeepBottomAlpha<Pixel16>);
}

const OverRowForms kScalarForms{overRow8Scalar, overRow16Scalar, overKeepBottomAlphaRow8Scalar,
                                overKeepBottomAlphaRow16Scalar};
#if defined(__SSE2__)
const OverRowForms kSse2Forms{overRow8Sse2<false>, overRow16Sse2<false>, overRow8Sse2<true>,
                              overRow16Sse2<true>};
#endif
#if defined(PENNARO_HAVE_AVX2_FORMS)
const OverRowForms kAvx2Forms{overRow8Avx2Form<false>, overRow16Avx2Form<false>, overRow8Avx2Form<true>,
                              overRow16Avx2Form<true>};
#endif

// The widest form this build and processor have, chosen once.
const OverRowForms &bestForms() {
    static const OverRowForms *const best = [] {
        for (int32_t width = OVER_ROWS_AVX2; width >= OVER_ROWS_SCALAR; --width)
            if (const OverRowForms *forms = overRowForms(width)) return forms;
        return &kScalarForms;
    }();
    return *best;
}

}  // namespace

const OverRowForms *overRowForms(int32_t width) {
    switch (width) {
        case OVER_ROWS_SCALAR: return &kScalarForms;
#if defined(__SSE2__)
        case OVER_ROWS_SSE2: return &kSse2Forms;
#endif
#if defined(PENNARO_HAVE_AVX2_FORMS)
        case OVER_ROWS_AVX2: return cpuHasAvx2() ? &kAvx2Forms : nullptr;
#endif
        default: return nullptr;
    }
}

void overRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    bestForms().over8(top, bottom, dst, count);
}
void overRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    bestForms().over16(top, bottom, dst, count);
}
void overKeepBottomAlphaRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    bestForms().overKeepBottomAlpha8(top, bottom, dst, count);
}
void overKeepBottomAlphaRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    bestForms().overKeepBottomAlpha16(top, bottom, dst, count);
}

#if defined(__SSE2__)

void minAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel8>(paint, layer, count,
                         [](__m128i p, __m128i l) { return select(alphaLanes8(), _mm_min_epu8(p, l), p); }, minAlpha8);
}
void matteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    // (la + 1) * pa <= 256 * 255 fits the low 16-bit half of each lane.
    alphaRow<Pixel8>(
        paint, layer, count,
        [](__m128i p, __m128i l) {
            const __m128i la1 = _mm_add_epi32(_mm_and_si128(l, alphaLanes8()), _mm_set1_epi32(1));
            const __m128i a = _mm_srli_epi32(_mm_mullo_epi16(la1, _mm_and_si128(p, alphaLanes8())), 8);
            return select(alphaLanes8(), a, l);
        },
        matte8);
}
void inverseMatteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    // (256 - pa) * la <= 256 * 255 fits the low 16-bit half of each lane.
    alphaRow<Pixel8>(
        paint, layer, count,
        [](__m128i p, __m128i l) {
            const __m128i w = _mm_sub_epi32(_mm_set1_epi32(256), _mm_and_si128(p, alphaLanes8()));
            const __m128i a = _mm_srli_epi32(_mm_mullo_epi16(w, _mm_and_si128(l, alphaLanes8())), 8);
            return select(alphaLanes8(), a, l);
        },
        inverseMatte8);
}
void paintAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel8>(paint, layer, count, [](__m128i p, __m128i l) { return select(alphaLanes8(), p, l); },
                         paintAlpha<Pixel8>);
}
void maxAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel8>(paint, layer, count,
                         [](__m128i p, __m128i l) { return select(alphaLanes8(), _mm_max_epu8(p, l), l); },
                         maxAlpha<Pixel8>);
}
void minAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel16>(paint, layer, count,
                          [](__m128i p, __m128i l) { return select(alphaLanes16(), minU16(p, l), p); }, minAlpha16);
}
void matteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel16>(paint, layer, count,
                          [](__m128i p, __m128i l) { return select(alphaLanes16(), mulShift15(p, l), l); }, matte16);
}
void inverseMatteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel16>(
        paint, layer, count,
        [](__m128i p, __m128i l) { return select(alphaLanes16(), inverseMulShift15(p, l), l); }, inverseMatte16);
}
void paintAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel16>(paint, layer, count, [](__m128i p, __m128i l) { return select(alphaLanes16(), p, l); },
                          paintAlpha<Pixel16>);
}
void maxAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    alphaRow<Pixel16>(paint, layer, count,
                          [](__m128i p, __m128i l) { return select(alphaLanes16(), maxU16(p, l), l); },
                          maxAlpha<Pixel16>);
}

void eraseRow8(const uint8_t *cover, uint8_t *dst, int32_t count) {
    // The destination is the row rewritten; the coverage takes the layer's
    // place. (ad + 1) * (255 - as) <= 256 * 255 fits the low 16-bit half.
    alphaRow<Pixel8>(
        dst, cover, count,
        [](__m128i d, __m128i s) {
            const __m128i ad1 = _mm_add_epi32(_mm_and_si128(d, alphaLanes8()), _mm_set1_epi32(1));
            const __m128i w = _mm_sub_epi32(alphaLanes8(), _mm_and_si128(s, alphaLanes8()));
            return select(alphaLanes8(), _mm_srli_epi32(_mm_mullo_epi16(ad1, w), 8), d);
        },
        [](Pixel8 d, Pixel8 s) { return erase8(s, d); });
}
void eraseRow16(const uint8_t *cover, uint8_t *dst, int32_t count) {
    alphaRow<Pixel16>(
        dst, cover, count,
        [](__m128i d, __m128i s) { return select(alphaLanes16(), inverseMulShift15(s, d), d); },
        [](Pixel16 d, Pixel16 s) { return erase16(s, d); });
}

#else  // no SSE2: the per-pixel rules

void minAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel8>(paint, layer, paint, count, minAlpha8);
}
void matteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel8>(paint, layer, paint, count, matte8);
}
void inverseMatteRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel8>(paint, layer, paint, count, inverseMatte8);
}
void paintAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel8>(paint, layer, paint, count, paintAlpha<Pixel8>);
}
void maxAlphaRow8(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel8>(paint, layer, paint, count, maxAlpha<Pixel8>);
}
void minAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel16>(paint, layer, paint, count, minAlpha16);
}
void matteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel16>(paint, layer, paint, count, matte16);
}
void inverseMatteRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel16>(paint, layer, paint, count, inverseMatte16);
}
void paintAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel16>(paint, layer, paint, count, paintAlpha<Pixel16>);
}
void maxAlphaRow16(uint8_t *paint, const uint8_t *layer, int32_t count) {
    scalarRow<Pixel16>(paint, layer, paint, count, maxAlpha<Pixel16>);
}
void eraseRow8(const uint8_t *cover, uint8_t *dst, int32_t count) {
    scalarRow<Pixel8>(dst, cover, dst, count, [](Pixel8 d, Pixel8 s) { return erase8(s, d); });
}
void eraseRow16(const uint8_t *cover, uint8_t *dst, int32_t count) {
    scalarRow<Pixel16>(dst, cover, dst, count, [](Pixel16 d, Pixel16 s) { return erase16(s, d); });
}

#endif

AlphaScale8 alphaScale8(float opacity) {
    AlphaScale8 scale;
    for (int i = 0; i < 256; ++i) scale.table[i] = truncToChannel8(static_cast<float>(i) * opacity);
    return scale;
}

void scaleAlphaRow8(uint8_t *pixels, int32_t count, const AlphaScale8 &scale) {
    for (int32_t i = 0; i < count; ++i) pixels[size_t(i) * 4] = scale.table[pixels[size_t(i) * 4]];
}

void scaleAlphaRow16(uint8_t *pixels, int32_t count, float opacity) {
    for (int32_t i = 0; i < count; ++i) {
        Pixel16 p = loadPixel<Pixel16>(pixels + size_t(i) * 8);
        p.alpha = truncToChannel16(static_cast<float>(p.alpha) * opacity);
        storePixel(pixels + size_t(i) * 8, p);
    }
}

}  // namespace pennaro
