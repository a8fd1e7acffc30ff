// Plain form of compositing with the layer, pixel by pixel, as the rules are
// written: one kernel per mode and a traversal that loads, combines and
// stores one pixel at a time. The tests hold the row kernels and the
// compositors to it and the benchmarks time it as the "before"; it is never
// part of the product.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "params/param_ids.h"
#include "pennaro/host_records.h"
#include "render/composite.h"

namespace pennaro_plain {


inline HostPixel8 over(HostPixel8 t, HostPixel8 b) { return pennaro::over8(t, b); }
inline HostPixel16 over(HostPixel16 t, HostPixel16 b) { return pennaro::over16(t, b); }

inline HostPixel8 asMatte(HostPixel8 p, HostPixel8 l) {
    HostPixel8 r = l;
    r.alpha = static_cast<uint8_t>(((uint32_t{l.alpha} + 1u) * p.alpha) / 256u);
    return r;
}
inline HostPixel16 asMatte(HostPixel16 p, HostPixel16 l) {
    HostPixel16 r = l;
    r.alpha = static_cast<uint16_t>((uint32_t{p.alpha} * l.alpha) >> 15);
    return r;
}
inline HostPixel8 asInverseMatte(HostPixel8 p, HostPixel8 l) {
    HostPixel8 r = l;
    r.alpha = static_cast<uint8_t>(((256u - p.alpha) * l.alpha) / 256u);
    return r;
}
inline HostPixel16 asInverseMatte(HostPixel16 p, HostPixel16 l) {
    HostPixel16 r = l;
    r.alpha = static_cast<uint16_t>(((32768u - p.alpha) * l.alpha) >> 15);
    return r;
}

// The per-pixel rule of a composite mode; returns the paint unchanged for
// the modes with no operation.
template <class Pixel>
Pixel compositePixel(Pixel p, Pixel l, int32_t mode) {
    Pixel r = p;
    switch (mode) {
        case pennaro::COMPOSITE_OVER_ORIGINAL: return over(p, l);
        case pennaro::COMPOSITE_UNDER_ORIGINAL: return over(l, p);
        case pennaro::COMPOSITE_TRACK_MATTE: r.alpha = std::min(l.alpha, p.alpha); return r;
        case pennaro::COMPOSITE_TRACK_MATTE_VISIBLE: r = over(p, l); r.alpha = l.alpha; return r;
        case pennaro::COMPOSITE_AS_MATTE: return asMatte(p, l);
        case pennaro::COMPOSITE_AS_INVERSE_MATTE: return asInverseMatte(p, l);
        case pennaro::COMPOSITE_IN_ORIGINAL_ALPHA_ONLY: r = l; r.alpha = p.alpha; return r;
        case pennaro::COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY: r = l; r.alpha = std::max(l.alpha, p.alpha); return r;
        default: return p;
    }
}

// Rows = the layer's height, columns = the output's width; each pointer
// skips its own image's padding after a row.
template <class Pixel>
void compositePixels(const HostWorld &input, uint8_t *layer, const HostWorld &output, uint8_t *paint,
                     int32_t mode) {
    const intptr_t layerSkip =
        static_cast<intptr_t>(input.rowBytes) - static_cast<intptr_t>(input.width) * intptr_t(sizeof(Pixel));
    const intptr_t paintSkip =
        static_cast<intptr_t>(output.rowBytes) - static_cast<intptr_t>(output.width) * intptr_t(sizeof(Pixel));
    for (int32_t y = 0; y < input.height; ++y) {
        for (int32_t x = 0; x < output.width; ++x) {
            Pixel p, l;
            std::memcpy(&p, paint, sizeof p);
            std::memcpy(&l, layer, sizeof l);
            const Pixel r = compositePixel(p, l, mode);
            std::memcpy(paint, &r, sizeof r);
            paint += sizeof(Pixel);
            layer += sizeof(Pixel);
        }
        layer += layerSkip;
        paint += paintSkip;
    }
}

}  // namespace pennaro_plain
