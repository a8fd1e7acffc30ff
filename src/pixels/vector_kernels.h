// The vector row and dab kernels, written once against the wrappers of
// simd/vectors.h and built per instruction set: kernels_sse2.cpp and
// kernels_avx2.cpp include this file inside an unnamed namespace of their
// own (the AVX2 one inside its target region), so every function here has
// internal linkage and is compiled for exactly one instruction set. Hence
// no include guard, and nothing here outside those namespaces.
//
// Each kernel takes a wrapper W: V128 or V256. Pixels a full register does
// not reach go through the next narrower form (V256, then V128, then the
// per-pixel rule or step the scalar kernels use). The arithmetic is that
// of the per-pixel forms, in the same single-precision operations in the
// same order; only the quotients of "over" are formed differently, and the
// notes at each show they come out the same for every input.

using simd::V128;
using namespace dab;

// ---- shared lane helpers

// (a * b) >> 15 of unsigned 16-bit lanes, kept to 16 bits.
template <class W>
PENNARO_SIMD typename W::I mulShift15(typename W::I a, typename W::I b) {
    return W::or_(W::shl16(W::mulhiU16(a, b), 1), W::shr16(W::mullo16(a, b), 15));
}

// ((32768 - s) * x) >> 15 in unsigned 32-bit arithmetic, kept to 16 bits,
// for every 16-bit s and x: 32768 - s wraps to 2^32 - (s - 32768) when s is
// above 32768, i.e. its high half is 0xFFFF, whose product with x only adds
// (0xFFFF * x) << 16 to the low half's product (mod 2^32).
template <class W>
PENNARO_SIMD typename W::I inverseMulShift15(typename W::I s, typename W::I x) {
    using I = typename W::I;
    const I flip = W::set16(-32768);
    const I wlo = W::sub16(flip, s);
    const I whi = W::cmpgt16(W::xor_(s, flip), W::zero());
    const I lo = W::mullo16(wlo, x);
    const I hi = W::add16(W::mulhiU16(wlo, x), W::mullo16(whi, x));
    return W::or_(W::shl16(hi, 1), W::shr16(lo, 15));
}

// The low bits (mask clear of bit 31) of truncToInt32 of every lane. cvttps
// gives 0x80000000 for NaN and out-of-range lanes, whose low bits are
// already those of the guarded 0 and INT32_MIN; only lanes at or above
// 2^31 need turning into INT32_MAX's.
template <class W>
PENNARO_SIMD typename W::I truncLowBits(typename W::F v, typename W::I mask) {
    return W::and_(W::xor_(W::truncRaw(v), W::gef(v, W::setf(2147483648.0f))), mask);
}

template <class W>
PENNARO_SIMD typename W::I alphaLanes8() {
    return W::set32(0xFF);
}
template <class W>
PENNARO_SIMD typename W::I alphaLanes16() {
    return W::set64(0xFFFF);
}

// ---- "over", 8 bits: one pixel per 32-bit lane, alpha in the low byte.
//
// Weights: wt = ta * 255 and wb = ba * (255 - ta) are at most 65025, so the
// 16-bit multiply of the low halves (high halves zero) is exact. The colour
// numerator n = bc * wb + tc * wt is at most 255 * d < 2^24, so both
// products, their sum and d are exact in single precision, whether formed
// in floats or (where the lanes have a 32-bit product) in integers. The
// quotient fl(n / d) is correctly rounded; when n / d is not an integer it
// lies at least 1/d >= 1/65025 below the next integer k + 1 <= 255, which is
// more than the float spacing below 256 (2^-16), so rounding never reaches
// k + 1 and truncation gives floor(n / d) exactly.
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
template <class W>
PENNARO_SIMD typename W::I over8Channel(typename W::I t, typename W::I b, typename W::I wt, typename W::I wb,
                                        typename W::F fwt, typename W::F fwb, typename W::F fd, int k) {
    using I = typename W::I;
    using F = typename W::F;
    const I tc = W::byteOfLane(t, k), bc = W::byteOfLane(b, k);
    F n;
    if constexpr (W::kMul32)
        n = W::toFloat(W::add32(W::mullo32(bc, wb), W::mullo32(tc, wt)));
    else
        n = W::addf(W::mulf(W::toFloat(bc), fwb), W::mulf(W::toFloat(tc), fwt));
    return W::shl32(W::truncRaw(W::divf(n, fd)), 8 * k);
}

template <class W, bool keepBottomAlpha>
PENNARO_SIMD typename W::I over8Step(typename W::I t, typename W::I b) {
    using I = typename W::I;
    using F = typename W::F;
    const I lowByte = alphaLanes8<W>();
    const I ta = W::and_(t, lowByte);
    const I ba = W::and_(b, lowByte);
    const I wt = W::sub32(W::shl32(ta, 8), ta);
    const I wb = W::mullo16(ba, W::sub32(lowByte, ta));
    const F fwt = W::toFloat(wt), fwb = W::toFloat(wb);
    const F fd = W::kMul32 ? W::toFloat(W::add32(wt, wb)) : W::addf(fwt, fwb);
    I alpha = ba;
    if (!keepBottomAlpha) {
        const I x = W::mullo16(ba, ta);
        const I x255 = W::shr32(W::add32(W::add32(x, W::set32(1)), W::shr32(x, 8)), 8);
        alpha = W::add32(W::sub32(ba, x255), ta);
    }
    I r = W::or_(W::or_(alpha, over8Channel<W>(t, b, wt, wb, fwt, fwb, fd, 1)),
                 W::or_(over8Channel<W>(t, b, wt, wb, fwt, fwb, fd, 2), over8Channel<W>(t, b, wt, wb, fwt, fwb, fd, 3)));
    r = W::select(W::cmpeq32(ta, W::zero()), b, r);
    if (keepBottomAlpha) r = W::select(lowByte, b, r);
    return r;
}

template <class W, bool keepBottomAlpha>
void overRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);

// The pixels a full register does not reach. Out of line, so that the main
// loop keeps its constants in registers (inlined, it measured slower).
template <class W, bool keepBottomAlpha>
__attribute__((noinline)) void overRow8Narrower(const uint8_t *top, const uint8_t *bottom, uint8_t *dst,
                                                int32_t count) {
    if constexpr (W::kWide)
        overRow8<typename W::Half, keepBottomAlpha>(top, bottom, dst, count);
    else
        ruleRow<Pixel8>(top, bottom, dst, count, keepBottomAlpha ? overKeepBottomAlpha<Pixel8> : over8);
}

template <class W, bool keepBottomAlpha>
void overRow8(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    int32_t i = 0;
    for (; i + W::kLanes <= count; i += W::kLanes) {
        const size_t at = size_t(i) * 4;
        W::store(dst + at, over8Step<W, keepBottomAlpha>(W::load(top + at), W::load(bottom + at)));
    }
    const size_t at = size_t(i) * 4;
    overRow8Narrower<W, keepBottomAlpha>(top + at, bottom + at, dst + at, count - i);
}

// ---- "over", 16 bits: a 16-bit lane per channel.
//
// Only pixels whose every value is at most 32768 take the vector path; a
// register holding anything larger goes through the narrower form, and in
// the end over16, whose unsigned 32-bit arithmetic then wraps in ways not
// worth reproducing in lanes.
//
// In range, wb = ((32768 - ta) * ba) >> 15 <= 32768 - ta, so d = wb + ta <=
// 32768 and n = bc * wb + tc * ta <= 32768 * d <= 2^30: the 16 x 16-bit
// products are exact from the low and high halves, and n fits a signed
// 32-bit lane. The single-precision estimate fl(fl(n) / d) carries two
// roundings, a relative error just over 2^-23 of n / d <= 32768, i.e. about
// 2^-8 at most, so its truncation q is floor(n / d) - 1, + 0 or + 1. The
// remainder n - q * d is then computed exactly in integers (q <= 32769 and
// d fit 16 bits, their product 31) and one step either way corrects q:
// floor(n / d) exactly.
//
// Of the shortcuts, a transparent top over a partial bottom computes to the
// bottom (wb = ba = d, q = bc, alpha ba) and a transparent bottom under a
// partial top to the top (wb = 0, d = ta, q = tc, alpha ta), so only a
// transparent bottom is selected, for the pixel with both alphas 0.
template <class W, bool keepBottomAlpha>
PENNARO_SIMD typename W::I over16Step(typename W::I t, typename W::I b) {
    using I = typename W::I;
    const I zero = W::zero();
    const I ta = W::spreadAlpha16(t);
    const I ba = W::spreadAlpha16(b);
    const I wb = mulShift15<W>(W::sub16(W::set16(-32768), ta), ba);
    const I d = W::add16(wb, ta);

    const I p1lo = W::mullo16(b, wb), p1hi = W::mulhiU16(b, wb);
    const I p2lo = W::mullo16(t, ta), p2hi = W::mulhiU16(t, ta);
    const I n0 = W::add32(W::unpacklo16(p1lo, p1hi), W::unpacklo16(p2lo, p2hi));
    const I n1 = W::add32(W::unpackhi16(p1lo, p1hi), W::unpackhi16(p2lo, p2hi));
    const I d0 = W::unpacklo16(d, zero), d1 = W::unpackhi16(d, zero);
    const I e0 = W::truncRaw(W::divf(W::toFloat(n0), W::toFloat(d0)));
    const I e1 = W::truncRaw(W::divf(W::toFloat(n1), W::toFloat(d1)));
    I qd0, qd1;
    if constexpr (W::kMul32) {
        qd0 = W::mullo32(e0, d0);
        qd1 = W::mullo32(e1, d1);
    } else {
        // q * d from the 16-bit halves of the packed estimates.
        const I e = W::packU32(e0, e1);
        const I lo = W::mullo16(e, d), hi = W::mulhiU16(e, d);
        qd0 = W::unpacklo16(lo, hi);
        qd1 = W::unpackhi16(lo, hi);
    }
    const I rem0 = W::sub32(n0, qd0), rem1 = W::sub32(n1, qd1);
    const I one = W::set32(1);
    // q - (rem < 0) + (rem >= d); the compare masks are -1 where true.
    const I q0 = W::sub32(W::add32(e0, W::cmpgt32(zero, rem0)), W::cmpgt32(rem0, W::sub32(d0, one)));
    const I q1 = W::sub32(W::add32(e1, W::cmpgt32(zero, rem1)), W::cmpgt32(rem1, W::sub32(d1, one)));
    I r = W::packU32(q0, q1);

    const I alphaLanes = alphaLanes16<W>();
    const I alpha = keepBottomAlpha ? b : W::add16(W::sub16(ta, mulShift15<W>(ba, ta)), ba);
    r = W::select(alphaLanes, alpha, r);
    r = W::select(W::cmpeq16(ba, zero), t, r);
    if (keepBottomAlpha) r = W::select(alphaLanes, b, r);
    return r;
}

template <class W, bool keepBottomAlpha>
void overRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count);

// As overRow8Narrower; also where a register holds values above 32768.
template <class W, bool keepBottomAlpha>
__attribute__((noinline)) void overRow16Narrower(const uint8_t *top, const uint8_t *bottom, uint8_t *dst,
                                                 int32_t count) {
    if constexpr (W::kWide)
        overRow16<typename W::Half, keepBottomAlpha>(top, bottom, dst, count);
    else
        ruleRow<Pixel16>(top, bottom, dst, count, keepBottomAlpha ? overKeepBottomAlpha<Pixel16> : over16);
}

template <class W, bool keepBottomAlpha>
void overRow16(const uint8_t *top, const uint8_t *bottom, uint8_t *dst, int32_t count) {
    using I = typename W::I;
    constexpr int32_t perStep = W::kLanes / 2;
    const I full = W::set16(-32768);
    int32_t i = 0;
    for (; i + perStep <= count; i += perStep) {
        const size_t at = size_t(i) * 8;
        const I t = W::load(top + at), b = W::load(bottom + at);
        const I over = W::or_(W::subsU16(t, full), W::subsU16(b, full));
        if (W::all(W::cmpeq16(over, W::zero())))
            W::store(dst + at, over16Step<W, keepBottomAlpha>(t, b));
        else
            overRow16Narrower<W, keepBottomAlpha>(top + at, bottom + at, dst + at, perStep);
    }
    const size_t at = size_t(i) * 8;
    overRow16Narrower<W, keepBottomAlpha>(top + at, bottom + at, dst + at, count - i);
}

// ---- the alpha-only rows: a vector step on (paint, layer) registers and
// the per-pixel rule, both setting only the alpha lanes.
template <class W>
struct MinAlpha8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes8<W>(), W::minU8(p, l), p); }
    static Pixel rule(Pixel p, Pixel l) { return minAlpha(p, l); }
};
// (la + 1) * pa <= 256 * 255 fits the low 16-bit half of each lane.
template <class W>
struct Matte8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) {
        const I la1 = W::add32(W::and_(l, alphaLanes8<W>()), W::set32(1));
        return W::select(alphaLanes8<W>(), W::shr32(W::mullo16(la1, W::and_(p, alphaLanes8<W>())), 8), l);
    }
    static Pixel rule(Pixel p, Pixel l) { return matte(p, l); }
};
// (256 - pa) * la <= 256 * 255 fits the low 16-bit half of each lane.
template <class W>
struct InverseMatte8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) {
        const I w = W::sub32(W::set32(256), W::and_(p, alphaLanes8<W>()));
        return W::select(alphaLanes8<W>(), W::shr32(W::mullo16(w, W::and_(l, alphaLanes8<W>())), 8), l);
    }
    static Pixel rule(Pixel p, Pixel l) { return inverseMatte(p, l); }
};
template <class W>
struct PaintAlpha8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes8<W>(), p, l); }
    static Pixel rule(Pixel p, Pixel l) { return paintAlpha(p, l); }
};
template <class W>
struct MaxAlpha8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes8<W>(), W::maxU8(p, l), l); }
    static Pixel rule(Pixel p, Pixel l) { return maxAlpha(p, l); }
};
// The destination is the row rewritten; the coverage takes the layer's
// place. (ad + 1) * (255 - as) <= 256 * 255 fits the low 16-bit half.
template <class W>
struct Erase8 {
    using Pixel = Pixel8;
    using I = typename W::I;
    static PENNARO_SIMD I step(I d, I s) {
        const I ad1 = W::add32(W::and_(d, alphaLanes8<W>()), W::set32(1));
        const I w = W::sub32(alphaLanes8<W>(), W::and_(s, alphaLanes8<W>()));
        return W::select(alphaLanes8<W>(), W::shr32(W::mullo16(ad1, w), 8), d);
    }
    static Pixel rule(Pixel d, Pixel s) { return erase(s, d); }
};
template <class W>
struct MinAlpha16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes16<W>(), W::minU16(p, l), p); }
    static Pixel rule(Pixel p, Pixel l) { return minAlpha(p, l); }
};
template <class W>
struct Matte16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes16<W>(), mulShift15<W>(p, l), l); }
    static Pixel rule(Pixel p, Pixel l) { return matte(p, l); }
};
template <class W>
struct InverseMatte16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes16<W>(), inverseMulShift15<W>(p, l), l); }
    static Pixel rule(Pixel p, Pixel l) { return inverseMatte(p, l); }
};
template <class W>
struct PaintAlpha16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes16<W>(), p, l); }
    static Pixel rule(Pixel p, Pixel l) { return paintAlpha(p, l); }
};
template <class W>
struct MaxAlpha16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I p, I l) { return W::select(alphaLanes16<W>(), W::maxU16(p, l), l); }
    static Pixel rule(Pixel p, Pixel l) { return maxAlpha(p, l); }
};
template <class W>
struct Erase16 {
    using Pixel = Pixel16;
    using I = typename W::I;
    static PENNARO_SIMD I step(I d, I s) { return W::select(alphaLanes16<W>(), inverseMulShift15<W>(s, d), d); }
    static Pixel rule(Pixel d, Pixel s) { return erase(s, d); }
};

// `first` is rewritten in place from itself and `second`.
template <class W, template <class> class Op>
void alphaRow(uint8_t *first, const uint8_t *second, int32_t count) {
    using Pixel = typename Op<W>::Pixel;
    constexpr int32_t perStep = int32_t(sizeof(typename W::I) / sizeof(Pixel));
    int32_t i = 0;
    for (; i + perStep <= count; i += perStep) {
        const size_t at = size_t(i) * sizeof(Pixel);
        W::store(first + at, Op<W>::step(W::load(first + at), W::load(second + at)));
    }
    const size_t at = size_t(i) * sizeof(Pixel);
    if constexpr (W::kWide)
        alphaRow<typename W::Half, Op>(first + at, second + at, count - i);
    else
        ruleRow<Pixel>(first + at, second + at, first + at, count - i, Op<W>::rule);
}

template <class W, template <class> class Op>
void eraseRow(const uint8_t *cover, uint8_t *dst, int32_t count) {
    alphaRow<W, Op>(dst, cover, count);
}

// A stroke's opacity: every alpha times the opacity in single precision,
// truncated with the scalar guards and kept to the channel's low bits. At
// 16 bits the lane after each alpha computes 0 * opacity and is discarded.
template <class W, class Pixel>
void scaleAlphaRow(uint8_t *pixels, int32_t count, float opacity) {
    using I = typename W::I;
    constexpr bool deep = sizeof(Pixel) == 8;
    constexpr int32_t perStep = int32_t(sizeof(I) / sizeof(Pixel));
    const I alphaLane = deep ? alphaLanes16<W>() : alphaLanes8<W>();
    const typename W::F scale = W::setf(opacity);
    int32_t i = 0;
    for (; i + perStep <= count; i += perStep) {
        uint8_t *at = pixels + size_t(i) * sizeof(Pixel);
        const I p = W::load(at);
        const I a = truncLowBits<W>(W::mulf(W::toFloat(W::and_(p, alphaLane)), scale), alphaLane);
        W::store(at, W::select(alphaLane, a, p));
    }
    uint8_t *at = pixels + size_t(i) * sizeof(Pixel);
    if constexpr (W::kWide)
        scaleAlphaRow<typename W::Half, Pixel>(at, count - i, opacity);
    else
        scaleAlphaPixels<Pixel>(at, count - i, opacity);
}

// A whole pixel of the colour with alpha a, as its bits lie in memory;
// formed once per dab (alpha 0), the alpha or'ed in where it varies.
inline uint32_t colourBits8(const uint8_t colour[4], uint32_t a) {
    return a | (uint32_t(colour[1]) << 8) | (uint32_t(colour[2]) << 16) | (uint32_t(colour[3]) << 24);
}
inline uint64_t colourBits16(const uint16_t colour[4], uint32_t a) {
    return uint64_t(a) | (uint64_t(colour[1]) << 16) | (uint64_t(colour[2]) << 32) | (uint64_t(colour[3]) << 48);
}

// ---- soft and round dabs.
//
// The squared horizontal distance of each column does not depend on the
// row, so it is tabled once per dab (dx2[x - x0]); each row adds its own dy²
// (the scalar step's dx * dx + dy * dy, the same two products and sum).
// Dabs wider than the table, or with a centre that is not finite, go to
// the scalar kernel.
//
// A row's last register may reach past the box's last column x1 while it
// stays within the image (lastColumn): the table holds +inf there, so those
// lanes are outside the dab and their pixels are stored back as they were.
// That spares the narrower steps and the per-pixel tail on all but the
// image's last columns.
constexpr int32_t kColumnTable = 1024;
constexpr int32_t kColumnSlack = 8;  // the widest register's pixels

struct ColumnTable {
    alignas(16) float dx2[kColumnTable + kColumnSlack];
    int32_t x0;
    int32_t lastColumn;
};

// A dab's constants in lanes, for one row.
template <class W>
struct UnionLanes {
    typename W::F outer2, norm, alphaF, q, dy2;
    typename W::I alpha, saturatedAt, mask;
    template <class Depth>
    PENNARO_SIMD static UnionLanes make(const UnionShape &s, float dy2) {
        return UnionLanes{W::setf(s.outer2),
                          W::setf(s.norm),
                          W::setf(s.alphaF),
                          W::setf(s.q),
                          W::setf(dy2),
                          W::set32(static_cast<int32_t>(s.alpha)),
                          W::set32(static_cast<int32_t>(Depth::kSaturated)),
                          W::set32(static_cast<int32_t>(Depth::kChannelMask))};
    }
};

// The lanes a dab changes: inside the outer radius, not saturated. An
// 8-bit alpha cannot pass 255, so equality finds the saturated ones in one
// step (a greater-than against a constant costs two).
template <class W, class Depth>
PENNARO_SIMD typename W::I unionActive(typename W::I ad, typename W::F d2, const UnionLanes<W> &c) {
    const typename W::I in = W::ltf(d2, c.outer2);
    if constexpr (Depth::kDeep)
        return W::and_(in, W::cmpgt32(c.saturatedAt, ad));
    else
        return W::andnot(W::cmpeq32(ad, c.saturatedAt), in);
}

// The union merge (dab_shapes.h's unionMerge) in 32-bit lanes of alpha ad
// at squared distance d2: the new alpha of every active lane, and in
// `write` the lanes that take the colour. The formula also gives a where
// ad = 0 (and at 8 bits where a is full) and leaves ad where a = 0, so every
// active lane takes it; only the colour depends on the case.
template <class W, class Depth, bool Round>
PENNARO_SIMD typename W::I unionAlpha(typename W::I ad, typename W::F d2, typename W::I active,
                                      const UnionLanes<W> &c, typename W::I &write) {
    using I = typename W::I;
    using F = typename W::F;
    const F u = W::mulf(W::subf(c.outer2, d2), c.norm);
    const F cov = kAlphaSecond<Depth, Round> ? W::mulf(W::mulf(W::mulf(u, c.alphaF), u), u)
                                             : W::mulf(W::mulf(W::mulf(u, u), u), c.alphaF);
    I a = truncLowBits<W>(cov, c.mask);
    if (Round) a = W::select(W::gtf(d2, c.q), a, c.alpha);
    I takesColour = W::cmpeq32(ad, W::zero());
    if (Depth::kFullCoverageWrites) takesColour = W::or_(takesColour, W::cmpeq32(a, c.saturatedAt));
    write = W::and_(active, takesColour);
    I product;
    if constexpr (Depth::kDeep) {
        // ad < 32768 and a < 65536: the 32-bit product from its halves.
        product = W::or_(W::mullo16(ad, a), W::shl32(W::mulhiU16(ad, a), 16));
    } else {
        // (ad + 1) * a < 65536: the 16-bit product of the low halves is exact.
        product = W::mullo16(W::add32(ad, W::set32(1)), a);
    }
    return W::and_(W::add32(W::sub32(ad, W::shr32(product, Depth::kShift)), a), c.mask);
}

// rgb: the colour channels in place, alpha 0.
template <class W, bool Round>
void unionRow8(Pixel8 *row, int32_t x, int32_t x1, float dy2, const UnionShape &s, const ColumnTable &t,
               const uint8_t colour[4], uint32_t rgb8) {
    using I = typename W::I;
    const UnionLanes<W> c = UnionLanes<W>::template make<Depth8>(s, dy2);
    const I rgb = W::set32(static_cast<int32_t>(rgb8));
    const I low = alphaLanes8<W>();
    const float *dx2 = t.dx2 + (x - t.x0);
    for (; x <= x1 && x + W::kLanes - 1 <= t.lastColumn; x += W::kLanes, dx2 += W::kLanes) {
        const I p = W::load(row + x);
        const I ad = W::and_(p, low);
        const typename W::F d2 = W::addf(W::loadf(dx2), c.dy2);
        const I active = unionActive<W, Depth8>(ad, d2, c);
        if (!W::any(active)) continue;
        I write;
        const I alpha = unionAlpha<W, Depth8, Round>(ad, d2, active, c, write);
        const I colourPart = W::select(write, rgb, W::andnot(low, p));
        W::store(row + x, W::select(active, W::or_(colourPart, alpha), p));
    }
    if constexpr (W::kWide) {
        if (x <= x1) unionRow8<typename W::Half, Round>(row, x, x1, dy2, s, t, colour, rgb8);
    } else {
        for (; x <= x1; ++x, ++dx2)
            if (!saturated<Depth8>(row[x].alpha)) unionPixel<Depth8, Round>(row[x], *dx2 + dy2, s, colour);
    }
}

// 16 bits: two registers of pixels a step (four pixels in V128, eight in
// V256), their alphas interleaved into the 32-bit lanes of one register
// (interleaveAlphas16) and the columns' squared distances put in the same
// order, once per step (pairedColumns), so that each lane's new alpha goes
// back to its pixel with at most a shift and a word blend.
//
// A lane outside the dab or saturated gets coverage 0, which leaves its
// alpha as it was (ad - 0 + 0) and its colour untouched (only ad = 0 within
// the dab takes the colour): the pixels need no select against what they
// were. Within the dab the rim's coverage lies in [0, 65536), so a plain
// truncation is the guarded one: d2 >= 0, and where the rim applies d2 > q
// (round) or q = 0 (soft, whose norm is 1 / (outer2 - e) with e <= 0), so
// u = (outer2 - d2) * norm is at most 1 + 2^-22 and u³ times an alpha of at
// most 65535 stays below 65536. Lanes beyond that (outside, NaN) are the
// ones zeroed. The new alpha may pass 16 bits; only its low word is kept,
// as the scalar store into the channel keeps it.
template <class W>
struct UnionLanes16 {
    typename W::F outer2, norm, alphaF, q;
    typename W::I alpha, saturatedAt, rgb;
    PENNARO_SIMD static UnionLanes16 make(const UnionShape &s, uint64_t rgb16) {
        return UnionLanes16{W::setf(s.outer2),
                            W::setf(s.norm),
                            W::setf(s.alphaF),
                            W::setf(s.q),
                            W::set32(static_cast<int32_t>(s.alpha)),
                            W::set32(static_cast<int32_t>(Depth16::kSaturated)),
                            W::set64(static_cast<int64_t>(rgb16))};
    }
};

template <class W, bool Round>
PENNARO_SIMD void unionStep16(Pixel16 *at, typename W::F d2, const UnionLanes16<W> &c) {
    using I = typename W::I;
    using F = typename W::F;
    constexpr int32_t perRegister = W::kLanes / 2;
    const I p0 = W::load(at), p1 = W::load(at + perRegister);
    const I ad = W::interleaveAlphas16(p0, p1);
    const I active = W::and_(W::ltf(d2, c.outer2), W::cmpgt32(c.saturatedAt, ad));
    if (!W::any(active)) return;
    const F u = W::mulf(W::subf(c.outer2, d2), c.norm);
    I a = W::truncRaw(W::mulf(W::mulf(W::mulf(u, u), u), c.alphaF));
    if (Round) a = W::select(W::gtf(d2, c.q), a, c.alpha);
    a = W::and_(a, active);
    // ad < 32768 and a < 65536: the product fits 31 bits.
    I product;
    if constexpr (W::kMul32)
        product = W::mullo32(ad, a);
    else
        product = W::or_(W::mullo16(ad, a), W::shl32(W::mulhiU16(ad, a), 16));
    const I merged = W::add32(W::sub32(ad, W::shr32(product, Depth16::kShift)), a);
    const I write = W::and_(active, W::cmpeq32(ad, W::zero()));
    W::store(at, W::setAlphaWords(W::select(W::template pixelMask<0>(write), c.rgb, p0), W::template pixelsOf<0>(merged)));
    W::store(at + perRegister,
             W::setAlphaWords(W::select(W::template pixelMask<1>(write), c.rgb, p1), W::template pixelsOf<1>(merged)));
}

template <class W, bool Round>
void unionRow16(Pixel16 *row, int32_t x, int32_t x1, float dy2, const UnionLanes16<W> &c, const UnionShape &s,
                const ColumnTable &t, const uint16_t colour[4], uint64_t rgb16);

// The columns a full step does not reach, by the narrower form. Out of line,
// as at the "over" rows: it runs only at the image's last columns.
template <class W, bool Round>
__attribute__((noinline)) void unionRow16Narrower(Pixel16 *row, int32_t x, int32_t x1, float dy2,
                                                  const UnionShape &s, const ColumnTable &t,
                                                  const uint16_t colour[4], uint64_t rgb16) {
    if constexpr (W::kWide) {
        using H = typename W::Half;
        const UnionLanes16<H> c = UnionLanes16<H>::make(s, rgb16);
        unionRow16<H, Round>(row, x, x1, dy2, c, s, t, colour, rgb16);
    } else {
        for (const float *dx2 = t.dx2 + (x - t.x0); x <= x1; ++x, ++dx2)
            if (!saturated<Depth16>(row[x].alpha)) unionPixel<Depth16, Round>(row[x], *dx2 + dy2, s, colour);
    }
}

template <class W, bool Round>
void unionRow16(Pixel16 *row, int32_t x, int32_t x1, float dy2, const UnionLanes16<W> &c, const UnionShape &s,
                const ColumnTable &t, const uint16_t colour[4], uint64_t rgb16) {
    constexpr int32_t perStep = W::kLanes;
    const typename W::F dy2v = W::setf(dy2);
    const float *dx2 = t.dx2 + (x - t.x0);
    for (; x <= x1 && x + perStep - 1 <= t.lastColumn; x += perStep, dx2 += perStep)
        unionStep16<W, Round>(row + x, W::addf(W::pairedColumns(W::loadf(dx2)), dy2v), c);
    if (x <= x1) unionRow16Narrower<W, Round>(row, x, x1, dy2, s, t, colour, rgb16);
}

// The frame with the column table filled on the first row that has pixels.
// False, before anything is touched, when the vector loops cannot take the
// dab.
template <class W, class Pixel, class RowFn>
bool unionRows(const UnionShape &s, float A, float cx, float cy, const ImageView *scratch, PaintedRows *rows,
               ColumnTable &t, RowFn &&rowFn) {
    if (!vectorFits(s.extent, cx, scratch)) return false;
    if (clampToImage(s.extent + cx, scratch->width - 1) - clampToImage(cx - s.extent, scratch->width - 1) >=
        kColumnTable)
        return false;
    bool tabled = false;
    stampRows<Pixel>(A, s.extent, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        const float dy2 = dy * dy;
        if (!(dy2 < s.outer2)) return;
        if (!tabled) {
            tabled = true;
            t.x0 = x0;
            t.lastColumn = scratch->width - 1;
            // The scalar step's dx * dx. The 16-bit dabs take it a register at
            // a time, the last one writing past x1, where the slack goes
            // next; the 8-bit ones keep the loop their rows were tuned with.
            if constexpr (std::is_same_v<Pixel, Pixel16>) {
                const typename W::F cxv = W::setf(cx);
                for (int32_t x = x0; x <= x1; x += W::kLanes) {
                    const typename W::F dx = W::subf(cxv, W::toFloat(W::iota32(x)));
                    W::storef(t.dx2 + (x - x0), W::mulf(dx, dx));
                }
            } else {
                for (int32_t x = x0; x <= x1; ++x) {
                    const float dx = cx - static_cast<float>(x);
                    t.dx2[x - x0] = dx * dx;
                }
            }
            std::fill_n(t.dx2 + (x1 - x0 + 1), kColumnSlack, std::numeric_limits<float>::infinity());
        }
        rowFn(row, x0, x1, dy2);
    });
    return true;
}

template <class W, bool Round>
bool unionDab8(const UnionShape &s, float A, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
               PaintedRows *rows) {
    ColumnTable t;
    const uint32_t rgb = colourBits8(colour, 0);
    return unionRows<W, Pixel8>(s, A, cx, cy, scratch, rows, t, [&](Pixel8 *row, int32_t x0, int32_t x1, float dy2) {
        unionRow8<W, Round>(row, x0, x1, dy2, s, t, colour, rgb);
    });
}

// Flattened: the frame, the column table and the rows in one body, so the
// dab's constants are set up once rather than on every row (a dab of
// radius 4 has a dozen rows of two steps each).
template <class W, bool Round>
__attribute__((flatten)) bool unionDab16(const UnionShape &s, float A, float cx, float cy, const uint16_t colour[4],
                const ImageView *scratch, PaintedRows *rows) {
    ColumnTable t;
    const uint64_t rgb = colourBits16(colour, 0);
    const UnionLanes16<W> c = UnionLanes16<W>::make(s, rgb);
    return unionRows<W, Pixel16>(s, A, cx, cy, scratch, rows, t, [&](Pixel16 *row, int32_t x0, int32_t x1, float dy2) {
        unionRow16<W, Round>(row, x0, x1, dy2, c, s, t, colour, rgb);
    });
}

template <class W>
void roundDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
               PaintedRows *rows) {
    UnionShape s;
    if (!roundShape(A, R, h, colour, s)) return;
    if (!unionDab8<W, true>(s, A, cx, cy, colour, scratch, rows))
        dab::scalarRoundDab8(A, R, h, cx, cy, colour, scratch, rows);
}
template <class W>
void roundDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
                PaintedRows *rows) {
    UnionShape s;
    if (!roundShape(A, R, h, colour, s)) return;
    if (!unionDab16<W, true>(s, A, cx, cy, colour, scratch, rows))
        dab::scalarRoundDab16(A, R, h, cx, cy, colour, scratch, rows);
}
template <class W>
void softDab8(float A, float R, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
              PaintedRows *rows) {
    UnionShape s;
    if (!softShape(A, R, colour, s)) return;
    if (!unionDab8<W, false>(s, A, cx, cy, colour, scratch, rows))
        dab::scalarSoftDab8(A, R, cx, cy, colour, scratch, rows);
}
template <class W>
void softDab16(float A, float R, float cx, float cy, const uint16_t colour[4], const ImageView *scratch,
               PaintedRows *rows) {
    UnionShape s;
    if (!softShape(A, R, colour, s)) return;
    if (!unionDab16<W, false>(s, A, cx, cy, colour, scratch, rows))
        dab::scalarSoftDab16(A, R, cx, cy, colour, scratch, rows);
}

// ---- square dabs, by runs: the columns within the outer and the inner
// half-width do not depend on the row, so they are found once per dab
// (runWithin); each row then fills its interior run with the row alpha
// wherever that is larger than the pixel's (a saturated pixel never is,
// but at 16 bits a pixel above 32768 is skipped explicitly) and computes
// only the edge columns.


template <class W>
void squareInterior(Pixel8 *row, int32_t first, int32_t last, uint32_t rowAlpha, const uint8_t colour[4]) {
    using I = typename W::I;
    if (rowAlpha == 0) return;
    const I full = W::set32(static_cast<int32_t>(colourBits8(colour, rowAlpha)));
    const I ra = W::set32(static_cast<int32_t>(rowAlpha));
    int32_t x = first;
    for (; x + W::kLanes - 1 <= last; x += W::kLanes) {
        const I p = W::load(row + x);
        W::store(row + x, W::select(W::cmpgt32(ra, W::and_(p, alphaLanes8<W>())), full, p));
    }
    for (; x <= last; ++x)
        if (rowAlpha > row[x].alpha) writeColour(row[x], colour, rowAlpha);
}

template <class W>
void squareInterior(Pixel16 *row, int32_t first, int32_t last, uint32_t rowAlpha, const uint16_t colour[4]) {
    using I = typename W::I;
    if (rowAlpha == 0) return;
    const I full = W::set64(static_cast<int64_t>(colourBits16(colour, rowAlpha)));
    const I ra = W::set64(rowAlpha);
    const I top = W::set64(32768);
    int32_t x = first;
    for (; x + W::kLanes / 2 - 1 <= last; x += W::kLanes / 2) {
        const I p = W::load(row + x);
        const I ad = W::and_(p, alphaLanes16<W>());
        const I m = W::and_(W::cmpgt32(ra, ad), W::cmpgt32(top, ad));
        W::store(row + x, W::select(W::dupEvenLanes(m), full, p));
    }
    for (; x <= last; ++x)
        if (row[x].alpha < 32768 && rowAlpha > row[x].alpha) writeColour(row[x], colour, rowAlpha);
}

// Edge columns first..last: coverage from the row's base and the column's
// own distance, four at a time at 8 bits.
template <class W>
void squareEdge(Pixel8 *row, int32_t first, int32_t last, float cx, float base, const SquareShape &k,
                const uint8_t colour[4]) {
    using I = typename W::I;
    using F = typename W::F;
    const F cxv = W::setf(cx), ri = W::setf(k.ri), norm = W::setf(k.norm);
    const F basev = W::setf(base), alphaF = W::setf(k.alphaF);
    const I rgb = W::set32(static_cast<int32_t>(colourBits8(colour, 0)));
    const I low = alphaLanes8<W>();
    int32_t x = first;
    for (; x + W::kLanes - 1 <= last; x += W::kLanes) {
        const F adx = W::absf(W::subf(cxv, W::toFloat(W::iota32(x))));
        const F g = W::mulf(W::subf(adx, ri), norm);
        const F cov = W::subf(basev, W::mulf(g, g));
        const I a = W::and_(W::truncToInt32(W::mulf(alphaF, cov)), low);
        const I p = W::load(row + x);
        const I m = W::and_(W::gtf(cov, W::setf(0.0f)), W::cmpgt32(a, W::and_(p, low)));
        W::store(row + x, W::select(m, W::or_(rgb, a), p));
    }
    for (; x <= last; ++x) squareEdgePixel<Depth8>(row[x], std::fabs(cx - static_cast<float>(x)), base, k, colour);
}

// 16 bits: two registers of pixels a step, their alphas gathered as the
// 16-bit union rows gather them; the columns follow the pixels' order.
template <class W>
void squareEdge(Pixel16 *row, int32_t first, int32_t last, float cx, float base, const SquareShape &k,
                const uint16_t colour[4]) {
    using I = typename W::I;
    using F = typename W::F;
    constexpr int32_t perStep = W::kLanes, perRegister = W::kLanes / 2;
    const F cxv = W::setf(cx), ri = W::setf(k.ri), norm = W::setf(k.norm);
    const F basev = W::setf(base), alphaF = W::setf(k.alphaF);
    const I rgb = W::set64(static_cast<int64_t>(colourBits16(colour, 0)));
    const I alphaLane = alphaLanes16<W>();
    const I mask = W::set32(0xFFFF), saturatedAt = W::set32(32768);
    int32_t x = first;
    for (; x + perStep - 1 <= last; x += perStep) {
        const I p0 = W::load(row + x), p1 = W::load(row + x + perRegister);
        const I ad = W::evenLanes(W::and_(p0, alphaLane), W::and_(p1, alphaLane));
        const F adx = W::absf(W::subf(cxv, W::toFloat(W::pixelOrder(W::iota32(x)))));
        const F g = W::mulf(W::subf(adx, ri), norm);
        const F cov = W::subf(basev, W::mulf(g, g));
        const I a = truncLowBits<W>(W::mulf(alphaF, cov), mask);
        const I m = W::and_(W::and_(W::gtf(cov, W::setf(0.0f)), W::cmpgt32(a, ad)), W::cmpgt32(saturatedAt, ad));
        auto put = [&](I p, auto half) {
            constexpr int h = decltype(half)::value;
            const I pixel = W::or_(rgb, W::and_(W::template widenHalf<h>(a), alphaLane));
            return W::select(W::template widenHalf<h>(m), pixel, p);
        };
        W::store(row + x, put(p0, std::integral_constant<int, 0>{}));
        W::store(row + x + perRegister, put(p1, std::integral_constant<int, 1>{}));
    }
    if constexpr (W::kWide) {
        if (x <= last) squareEdge<typename W::Half>(row, x, last, cx, base, k, colour);
    } else {
        for (; x <= last; ++x)
            squareEdgePixel<Depth16>(row[x], std::fabs(cx - static_cast<float>(x)), base, k, colour);
    }
}

// The runs of a square dab, found on the first row inside it.
struct SquareRuns {
    Run outer{1, 0}, inner{1, 0};
    void find(float cx, const SquareShape &k, int32_t x0, int32_t x1) {
        outer = runWithin(cx, k.ro, x0, x1);
        if (outer.first > outer.last) return;
        inner = runWithin(cx, k.ri, x0, x1);
        inner.first = std::max(inner.first, outer.first);
        inner.last = std::min(inner.last, outer.last);
    }
};

template <class W, class Depth>
void squareRunDab(const SquareShape &k, float A, float cx, float cy, const typename Depth::Channel colour[4],
                  const ImageView *scratch, PaintedRows *rows) {
    using Pixel = typename Depth::Pixel;
    bool found = false;
    SquareRuns runs;
    stampRows<Pixel>(A, k.ro, cx, cy, scratch, rows, [&](Pixel *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        if (!found) {
            found = true;
            runs.find(cx, k, x0, x1);
        }
        const Run outer = runs.outer, inner = runs.inner;
        if (outer.first > outer.last) return;
        const float base = squareRowBase(k, ady);
        if (inner.first > inner.last) return squareEdge<W>(row, outer.first, outer.last, cx, base, k, colour);
        squareInterior<W>(row, inner.first, inner.last, Depth::toChannel(k.alphaF * base), colour);
        squareEdge<W>(row, outer.first, inner.first - 1, cx, base, k, colour);
        squareEdge<W>(row, inner.last + 1, outer.last, cx, base, k, colour);
    });
}

// 8 bits with tables: rows whose base is exactly 1 (all rows within the
// inner half-width) have the same coverage in every column, so it is
// converted once per dab into a table of whole pixels, alpha 0 where
// nothing is written (0 never exceeds a pixel's alpha). Other rows take the
// column's squared edge term from a second table. Wider dabs than the
// tables hold take the run form.
constexpr int32_t kSquareTable = 1024;

struct SquareTables8 {
    // Room for the last register the fill writes.
    alignas(16) uint32_t pixel[kSquareTable + 8];
    alignas(16) float g2[kSquareTable + 8];

    // The same float steps as the per-pixel form; inner columns get edge
    // term 0, so cov = 1 and the row alpha of a full row.
    template <class W>
    void fill(float cx, const SquareShape &k, const SquareRuns &runs, const uint8_t colour[4]) {
        using I = typename W::I;
        using F = typename W::F;
        const F cxv = W::setf(cx), riv = W::setf(k.ri), normv = W::setf(k.norm);
        const F one = W::setf(1.0f), alphaFv = W::setf(k.alphaF);
        const I rgb = W::set32(static_cast<int32_t>(colourBits8(colour, 0)));
        const I innerFirst = W::set32(runs.inner.first - 1), innerLast = W::set32(runs.inner.last + 1);
        for (int32_t x = runs.outer.first; x <= runs.outer.last; x += W::kLanes) {
            const int32_t i = x - runs.outer.first;
            const I xi = W::iota32(x);
            const I isInner = W::and_(W::cmpgt32(xi, innerFirst), W::cmpgt32(innerLast, xi));
            const F adx = W::absf(W::subf(cxv, W::toFloat(xi)));
            const F g = W::mulf(W::subf(adx, riv), normv);
            const F g2v = W::andnotf(isInner, W::mulf(g, g));
            const F cov = W::subf(one, g2v);
            const I a = W::and_(truncLowBits<W>(W::mulf(alphaFv, cov), alphaLanes8<W>()), W::gtf(cov, W::setf(0.0f)));
            W::storef(g2 + i, g2v);
            W::store(pixel + i, W::or_(rgb, a));
        }
    }
};

template <class W>
void squareTableRow(Pixel8 *row, int32_t first, int32_t last, const uint32_t *table) {
    using I = typename W::I;
    const I low = alphaLanes8<W>();
    int32_t x = first;
    for (; x + W::kLanes - 1 <= last; x += W::kLanes, table += W::kLanes) {
        const I p = W::load(row + x);
        const I t = W::load(table);
        W::store(row + x, W::select(W::cmpgt32(W::and_(t, low), W::and_(p, low)), t, p));
    }
    for (; x <= last; ++x, ++table)
        if ((*table & 0xFFu) > row[x].alpha) std::memcpy(&row[x], table, sizeof(Pixel8));
}

// Edge columns first..last of a row with the given base; g2 holds the
// columns' squared edge terms from `first` on.
template <class W>
void squareTableEdge(Pixel8 *row, int32_t first, int32_t last, const float *g2, float base, const SquareShape &k,
                     const uint8_t colour[4]) {
    using I = typename W::I;
    using F = typename W::F;
    const F basev = W::setf(base), alphaFv = W::setf(k.alphaF);
    const I rgb = W::set32(static_cast<int32_t>(colourBits8(colour, 0)));
    const I low = alphaLanes8<W>();
    int32_t x = first;
    for (; x + W::kLanes - 1 <= last; x += W::kLanes, g2 += W::kLanes) {
        const F cov = W::subf(basev, W::loadf(g2));
        const I a = W::and_(W::truncToInt32(W::mulf(alphaFv, cov)), low);
        const I p = W::load(row + x);
        const I m = W::and_(W::gtf(cov, W::setf(0.0f)), W::cmpgt32(a, W::and_(p, low)));
        W::store(row + x, W::select(m, W::or_(rgb, a), p));
    }
    for (; x <= last; ++x, ++g2) squareEdgePixelFromTerm<Depth8>(row[x], *g2, base, k, colour);
}

template <class W>
void squareDab8(float A, float R, float h, float cx, float cy, const uint8_t colour[4], const ImageView *scratch,
                PaintedRows *rows) {
    SquareShape k;
    if (!squareShape<Depth8>(A, R, h, colour, k)) return;
    if (!vectorFits(k.ro, cx, scratch)) return dab::scalarSquareDab8(A, R, h, cx, cy, colour, scratch, rows);
    if (clampToImage(k.ro + cx, scratch->width - 1) - clampToImage(cx - k.ro, scratch->width - 1) >= kSquareTable)
        return squareRunDab<W, Depth8>(k, A, cx, cy, colour, scratch, rows);
    bool found = false;
    SquareRuns runs;
    SquareTables8 t;
    stampRows<Pixel8>(A, k.ro, cx, cy, scratch, rows, [&](Pixel8 *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        if (!found) {
            found = true;
            runs.find(cx, k, x0, x1);
            t.fill<W>(cx, k, runs, colour);
        }
        const Run outer = runs.outer, inner = runs.inner;
        if (outer.first > outer.last) return;
        const float base = squareRowBase(k, ady);
        if (base == 1.0f) return squareTableRow<W>(row, outer.first, outer.last, t.pixel);
        if (inner.first > inner.last) return squareTableEdge<W>(row, outer.first, outer.last, t.g2, base, k, colour);
        squareInterior<W>(row, inner.first, inner.last, truncToChannel8(k.alphaF * base), colour);
        squareTableEdge<W>(row, outer.first, inner.first - 1, t.g2, base, k, colour);
        squareTableEdge<W>(row, inner.last + 1, outer.last, t.g2 + (inner.last + 1 - outer.first), base, k, colour);
    });
}

// 16 bits with tables, as at 8 bits: whole pixels for the rows whose base
// is exactly 1, and the columns' squared edge terms (0 on the inner run)
// for the others, both filled once per dab and followed by columns that are
// never written (alpha 0, edge term +inf), so a row's last register may
// reach past the outer run within the image. A row of the second kind runs
// whole in one pass: on an inner column the edge term 0 leaves the row's
// own coverage, which is what the interior takes, and where that coverage
// is at or below 0 neither form writes (it is never below -2^-21, whose
// product with the alpha truncates to 0). Within (0, 1] the coverage times
// an alpha below 65536 truncates as the guarded conversion does.
struct SquareTables16 {
    alignas(16) float g2[kSquareTable + kColumnSlack];
    alignas(16) uint64_t pixel[kSquareTable + kColumnSlack];

    // The same float steps as the per-pixel form, eight columns at a time;
    // each loop may write up to a register past the run, which the slack
    // then overwrites.
    template <class W>
    void fill(float cx, const SquareShape &k, const SquareRuns &runs, const uint16_t colour[4]) {
        using I = typename W::I;
        using F = typename W::F;
        constexpr int32_t perRegister = W::kLanes / 2;
        const int32_t n = runs.outer.last - runs.outer.first + 1;
        const F cxv = W::setf(cx), riv = W::setf(k.ri), normv = W::setf(k.norm);
        const I innerFirst = W::set32(runs.inner.first - 1), innerLast = W::set32(runs.inner.last + 1);
        for (int32_t i = 0; i < n; i += W::kLanes) {
            const I xi = W::iota32(runs.outer.first + i);
            const I isInner = W::and_(W::cmpgt32(xi, innerFirst), W::cmpgt32(innerLast, xi));
            const F g = W::mulf(W::subf(W::absf(W::subf(cxv, W::toFloat(xi))), riv), normv);
            W::storef(g2 + i, W::andnotf(isInner, W::mulf(g, g)));
        }
        std::fill_n(g2 + n, kColumnSlack, std::numeric_limits<float>::infinity());
        const F one = W::setf(1.0f), zero = W::setf(0.0f), alphaF = W::setf(k.alphaF);
        const I rgb = W::set64(static_cast<int64_t>(colourBits16(colour, 0))), alphaLane = alphaLanes16<W>();
        for (int32_t i = 0; i < n; i += W::kLanes) {
            const F cov = W::subf(one, W::pairedColumns(W::loadf(g2 + i)));
            const I a = W::and_(W::truncRaw(W::mulf(alphaF, cov)), W::gtf(cov, zero));
            W::store(pixel + i, W::or_(rgb, W::and_(W::template pixelsOf<0>(a), alphaLane)));
            W::store(pixel + i + perRegister, W::or_(rgb, W::and_(W::template pixelsOf<1>(a), alphaLane)));
        }
        std::fill_n(pixel + n, kColumnSlack, colourBits16(colour, 0));
    }
};

// A pixel takes the table's where the table's alpha is larger and its own
// is below 32768 (larger ones are skipped as saturated).
template <class W>
void squareTableRow(Pixel16 *row, int32_t first, int32_t last, int32_t lastColumn, const uint64_t *table) {
    using I = typename W::I;
    constexpr int32_t perRegister = W::kLanes / 2;
    const I alphaLane = alphaLanes16<W>(), saturatedAt = W::set32(32768);
    int32_t x = first;
    for (; x <= last && x + perRegister - 1 <= lastColumn; x += perRegister, table += perRegister) {
        const I p = W::load(row + x), t = W::load(table);
        const I ad = W::and_(p, alphaLane);
        const I m = W::and_(W::cmpgt32(W::and_(t, alphaLane), ad), W::cmpgt32(saturatedAt, ad));
        W::store(row + x, W::select(W::dupEvenLanes(m), t, p));
    }
    for (; x <= last; ++x, ++table)
        if (row[x].alpha < 32768 && (*table & 0xFFFFu) > row[x].alpha) std::memcpy(&row[x], table, sizeof(Pixel16));
}

// A row whose base is below 1, columns x..last, eight at a time with the
// alphas paired as in the 16-bit union rows.
template <class W>
void squareEdgeRow(Pixel16 *row, int32_t x, int32_t last, int32_t lastColumn, const float *g2, float base,
                   const SquareShape &k, const uint16_t colour[4]) {
    using I = typename W::I;
    using F = typename W::F;
    constexpr int32_t perStep = W::kLanes, perRegister = W::kLanes / 2;
    const F basev = W::setf(base), alphaF = W::setf(k.alphaF), zero = W::setf(0.0f);
    const I rgb = W::set64(static_cast<int64_t>(colourBits16(colour, 0))), saturatedAt = W::set32(32768);
    for (; x <= last && x + perStep - 1 <= lastColumn; x += perStep, g2 += perStep) {
        const I p0 = W::load(row + x), p1 = W::load(row + x + perRegister);
        const I ad = W::interleaveAlphas16(p0, p1);
        const F cov = W::subf(basev, W::pairedColumns(W::loadf(g2)));
        const I a = W::truncRaw(W::mulf(alphaF, cov));
        const I m = W::and_(W::and_(W::gtf(cov, zero), W::cmpgt32(a, ad)), W::cmpgt32(saturatedAt, ad));
        W::store(row + x, W::select(W::template pixelMask<0>(m), W::setAlphaWords(rgb, W::template pixelsOf<0>(a)), p0));
        W::store(row + x + perRegister,
                 W::select(W::template pixelMask<1>(m), W::setAlphaWords(rgb, W::template pixelsOf<1>(a)), p1));
    }
    if (x > last) return;
    if constexpr (W::kWide) {
        squareEdgeRow<typename W::Half>(row, x, last, lastColumn, g2, base, k, colour);
    } else {
        for (; x <= last; ++x, ++g2) squareEdgePixelFromTerm<Depth16>(row[x], *g2, base, k, colour);
    }
}

// Flattened, as the union dabs: a small dab is a handful of short rows.
template <class W>
__attribute__((flatten)) void squareDab16(float A, float R, float h, float cx, float cy, const uint16_t colour[4],
                                          const ImageView *scratch, PaintedRows *rows) {
    SquareShape k;
    if (!squareShape<Depth16>(A, R, h, colour, k)) return;
    if (!vectorFits(k.ro, cx, scratch)) return dab::scalarSquareDab16(A, R, h, cx, cy, colour, scratch, rows);
    if (clampToImage(k.ro + cx, scratch->width - 1) - clampToImage(cx - k.ro, scratch->width - 1) >= kSquareTable)
        return squareRunDab<W, Depth16>(k, A, cx, cy, colour, scratch, rows);
    bool found = false;
    SquareRuns runs;
    SquareTables16 t;
    const int32_t lastColumn = scratch->width - 1;
    stampRows<Pixel16>(A, k.ro, cx, cy, scratch, rows, [&](Pixel16 *row, float dy, int32_t x0, int32_t x1) {
        const float ady = std::fabs(dy);
        if (ady >= k.ro) return;
        if (!found) {
            found = true;
            runs.find(cx, k, x0, x1);
            if (runs.outer.first <= runs.outer.last) t.fill<W>(cx, k, runs, colour);
        }
        const Run outer = runs.outer;
        if (outer.first > outer.last) return;
        const float base = squareRowBase(k, ady);
        if (base == 1.0f) return squareTableRow<W>(row, outer.first, outer.last, lastColumn, t.pixel);
        squareEdgeRow<W>(row, outer.first, outer.last, lastColumn, t.g2, base, k, colour);
    });
}

// ---- the table. Every row and dab runs at the width of W but the 8-bit
// square dab, whose rows are short runs of cheap steps: the AVX2 table
// leaves it out (null), so that the SSE2 kernel, built for the baseline
// target, serves there (dispatch.cpp); built for AVX2 it measured no faster.
template <class W>
constexpr PixelKernels vectorKernels(Isa isa) {
    constexpr bool narrow = !W::kWide;
    return PixelKernels{
        isa,
        overRow8<W, false>,
        overRow16<W, false>,
        overRow8<W, true>,
        overRow16<W, true>,
        alphaRow<W, MinAlpha8>,
        alphaRow<W, Matte8>,
        alphaRow<W, InverseMatte8>,
        alphaRow<W, PaintAlpha8>,
        alphaRow<W, MaxAlpha8>,
        alphaRow<W, MinAlpha16>,
        alphaRow<W, Matte16>,
        alphaRow<W, InverseMatte16>,
        alphaRow<W, PaintAlpha16>,
        alphaRow<W, MaxAlpha16>,
        eraseRow<W, Erase8>,
        eraseRow<W, Erase16>,
        scaleAlphaRow<W, Pixel8>,
        scaleAlphaRow<W, Pixel16>,
        roundDab8<W>,
        roundDab16<W>,
        softDab8<W>,
        softDab16<W>,
        narrow ? squareDab8<V128> : nullptr,
        squareDab16<W>,
    };
}
