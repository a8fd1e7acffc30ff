// The per-pixel compositing rules, in their plain form: the definition every
// row kernel is held to, bit for bit.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "pixels/image.h"
#include "pixels/numeric.h"

namespace pennaro {

// Straight-alpha "over" of `top` onto `bottom`, as the two depths define it.
// The two differ on purpose in their shortcuts: the 8-bit form tests the top
// first and returns an opaque top as it stands; the 16-bit form tests the
// bottom first and has no opaque shortcut.
Pixel8 over8(Pixel8 top, Pixel8 bottom);
Pixel16 over16(Pixel16 top, Pixel16 bottom);

template <class Pixel>
Pixel overKeepBottomAlpha(Pixel top, Pixel bottom);
template <>
inline Pixel8 overKeepBottomAlpha(Pixel8 t, Pixel8 b) {
    Pixel8 r = over8(t, b);
    r.alpha = b.alpha;
    return r;
}
template <>
inline Pixel16 overKeepBottomAlpha(Pixel16 t, Pixel16 b) {
    Pixel16 r = over16(t, b);
    r.alpha = b.alpha;
    return r;
}

// The modes that keep one image's colour and set only the alpha, taking the
// paint pixel p and the layer pixel l (see row_kernels.h).
template <class Pixel>
Pixel minAlpha(Pixel p, Pixel l) {
    p.alpha = std::min(l.alpha, p.alpha);
    return p;
}
// The 8-bit matte divides by 256 after adding 1 to the layer alpha; the
// 16-bit one adds nothing.
inline Pixel8 matte(Pixel8 p, Pixel8 l) {
    l.alpha = static_cast<uint8_t>(((uint32_t{l.alpha} + 1u) * p.alpha) / 256u);
    return l;
}
inline Pixel16 matte(Pixel16 p, Pixel16 l) {
    l.alpha = static_cast<uint16_t>((uint32_t{p.alpha} * l.alpha) >> 15);
    return l;
}
inline Pixel8 inverseMatte(Pixel8 p, Pixel8 l) {
    l.alpha = static_cast<uint8_t>(((256u - p.alpha) * l.alpha) / 256u);
    return l;
}
// Unsigned 32-bit: a paint alpha above 32768 wraps the weight.
inline Pixel16 inverseMatte(Pixel16 p, Pixel16 l) {
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

// A stroke's erase of destination d by coverage s: only the alpha changes.
inline Pixel8 erase(Pixel8 s, Pixel8 d) {
    d.alpha = static_cast<uint8_t>(((d.alpha + 1u) * (255u - s.alpha)) >> 8);
    return d;
}
inline Pixel16 erase(Pixel16 s, Pixel16 d) {
    d.alpha = static_cast<uint16_t>(((32768u - s.alpha) * d.alpha) >> 15);
    return d;
}

// A stroke's opacity on one pixel of its coverage: the alpha times the
// opacity in single precision, truncated into the channel.
inline Pixel8 scaleAlpha(Pixel8 p, float opacity) {
    p.alpha = truncToChannel8(static_cast<float>(p.alpha) * opacity);
    return p;
}
inline Pixel16 scaleAlpha(Pixel16 p, float opacity) {
    p.alpha = truncToChannel16(static_cast<float>(p.alpha) * opacity);
    return p;
}

}  // namespace pennaro

namespace pennaro {

// A rule taking (first, second) and returning the new pixel, applied along
// rows of packed pixels with no alignment promised; dst may be either input.
template <class Pixel, class Rule>
void ruleRow(const uint8_t *first, const uint8_t *second, uint8_t *dst, int32_t count, Rule rule) {
    for (int32_t i = 0; i < count; ++i) {
        const size_t at = size_t(i) * sizeof(Pixel);
        Pixel f, s;
        std::memcpy(&f, first + at, sizeof f);
        std::memcpy(&s, second + at, sizeof s);
        const Pixel r = rule(f, s);
        std::memcpy(dst + at, &r, sizeof r);
    }
}

template <class Pixel>
void scaleAlphaPixels(uint8_t *pixels, int32_t count, float opacity) {
    ruleRow<Pixel>(pixels, pixels, pixels, count, [opacity](Pixel p, Pixel) { return scaleAlpha(p, opacity); });
}

}  // namespace pennaro
