// The per-pixel "over" rules at both depths.
#include "pixels/rules.h"

namespace pennaro {

Pixel8 over8(Pixel8 t, Pixel8 b) {
    if (t.alpha == 0) return b;
    if (t.alpha == 255) return t;
    if (b.alpha == 0) return t;
    const uint32_t wt = uint32_t{t.alpha} * 255u;
    const uint32_t wb = uint32_t{b.alpha} * (255u - t.alpha);
    const uint32_t d = wt + wb;
    Pixel8 r;
    r.red = static_cast<uint8_t>((b.red * wb + t.red * wt) / d);
    r.green = static_cast<uint8_t>((b.green * wb + t.green * wt) / d);
    r.blue = static_cast<uint8_t>((b.blue * wb + t.blue * wt) / d);
    r.alpha = static_cast<uint8_t>(b.alpha - (uint32_t{b.alpha} * t.alpha) / 255u + t.alpha);
    return r;
}

Pixel16 over16(Pixel16 t, Pixel16 b) {
    if (b.alpha == 0) return t;
    if (t.alpha == 0) return b;
    // Unsigned 32-bit throughout, as the arithmetic is defined: channel
    // values above 32768 (damaged input) wrap, and the row kernels give the
    // same wrapped results.
    const uint32_t ta = t.alpha, ba = b.alpha;
    const uint32_t wb = ((32768u - ta) * ba) >> 15;
    const uint32_t d = wb + ta;
    Pixel16 r;
    r.red = static_cast<uint16_t>((b.red * wb + t.red * ta) / d);
    r.green = static_cast<uint16_t>((b.green * wb + t.green * ta) / d);
    r.blue = static_cast<uint16_t>((b.blue * wb + t.blue * ta) / d);
    r.alpha = static_cast<uint16_t>(ta - ((ba * ta) >> 15) + ba);
    return r;
}

}  // namespace pennaro
