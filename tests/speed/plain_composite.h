// Plain forms of compositing, pixel by pixel, as the rules are written: the
// frame meeting the layer (one kernel per mode, a traversal that loads,
// combines and stores one pixel at a time) and a stroke's scratch image
// meeting the output (compositeStroke, eraseStroke). The tests hold the row
// kernels, the compositors and the finishing passes to them and the
// benchmarks time them as the "before"; they are never part of the product.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "params/param_ids.h"
#include "pennaro/host_records.h"
#include "raster/raster_records.h"
#include "pixels/rules.h"

namespace pennaro_plain {
using pennaro::Pixel8;
using pennaro::Pixel16;


inline Pixel8 over(Pixel8 t, Pixel8 b) { return pennaro::over8(t, b); }
inline Pixel16 over(Pixel16 t, Pixel16 b) { return pennaro::over16(t, b); }

inline Pixel8 asMatte(Pixel8 p, Pixel8 l) {
    Pixel8 r = l;
    r.alpha = static_cast<uint8_t>(((uint32_t{l.alpha} + 1u) * p.alpha) / 256u);
    return r;
}
inline Pixel16 asMatte(Pixel16 p, Pixel16 l) {
    Pixel16 r = l;
    r.alpha = static_cast<uint16_t>((uint32_t{p.alpha} * l.alpha) >> 15);
    return r;
}
inline Pixel8 asInverseMatte(Pixel8 p, Pixel8 l) {
    Pixel8 r = l;
    r.alpha = static_cast<uint8_t>(((256u - p.alpha) * l.alpha) / 256u);
    return r;
}
inline Pixel16 asInverseMatte(Pixel16 p, Pixel16 l) {
    Pixel16 r = l;
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

// ---- a stroke's finishing passes.

// Rows topRow..bottomRow, in each the recorded span clipped to the scratch
// image; every visited pixel present in the output is blended, then every
// visited scratch pixel cleared.
template <class Pixel, class Blend>
void finishPass(HostWorld *scratch, HostWorld *output, const pennaro::PaintedRows *rows, Blend blend) {
    if (!scratch || !output || !rows || !rows->spans || scratch->width <= 0 || scratch->height <= 0) return;
    auto row = [](void *base, int32_t rowBytes, int32_t y) {
        return reinterpret_cast<Pixel *>(static_cast<uint8_t *>(base) + ptrdiff_t(y) * rowBytes);
    };
    for (int32_t y = std::max(rows->topRow, 0); y <= std::min(rows->bottomRow, scratch->height - 1); ++y) {
        const pennaro::RowSpan span = rows->spans[y];
        if (span.right < 0) continue;
        const int32_t left = std::max(span.left, 0), right = std::min(span.right, scratch->width - 1);
        Pixel *srow = row(scratch->data, scratch->rowBytes, y);
        for (int32_t x = left; x <= right; ++x) {
            if (y < output->height && x < output->width) blend(srow[x], row(output->data, output->rowBytes, y)[x]);
            srow[x] = Pixel{};
        }
    }
}

inline void compositeStroke8(const Pixel8 &S, Pixel8 &D) {
    const uint32_t as = S.alpha, ad = D.alpha;
    if (as == 0) return;
    if (as == 255 || ad == 0) {
        D = S;
        return;
    }
    const uint32_t ws = as * 255, wd = ad * (255 - as), W = ws + wd;
    D.red = static_cast<uint8_t>((D.red * wd + S.red * ws) / W);
    D.green = static_cast<uint8_t>((D.green * wd + S.green * ws) / W);
    D.blue = static_cast<uint8_t>((D.blue * wd + S.blue * ws) / W);
    D.alpha = static_cast<uint8_t>(as - (ad * as) / 255 + ad);
}

inline void compositeStroke16(const Pixel16 &S, Pixel16 &D) {
    const uint32_t as = S.alpha, ad = D.alpha;
    if (ad == 0) {
        D = S;
        return;
    }
    if (as == 0) return;
    const uint32_t wd = ((32768u - as) * ad) >> 15, W = wd + as;
    D.red = static_cast<uint16_t>((S.red * as + D.red * wd) / W);
    D.green = static_cast<uint16_t>((S.green * as + D.green * wd) / W);
    D.blue = static_cast<uint16_t>((S.blue * as + D.blue * wd) / W);
    D.alpha = static_cast<uint16_t>(as - ((ad * as) >> 15) + ad);
}

// The scratch and output images' own pixel pointers stand for the host's
// pixel addresses.
inline void compositeStroke(HostWorld *scratch, HostWorld *output, bool deep, const pennaro::PaintedRows *rows) {
    if (deep)
        finishPass<Pixel16>(scratch, output, rows, compositeStroke16);
    else
        finishPass<Pixel8>(scratch, output, rows, compositeStroke8);
}

inline void eraseStroke(HostWorld *scratch, HostWorld *output, bool deep, const pennaro::PaintedRows *rows) {
    if (deep)
        finishPass<Pixel16>(scratch, output, rows, [](const Pixel16 &S, Pixel16 &D) {
            D.alpha = static_cast<uint16_t>(((32768u - S.alpha) * D.alpha) >> 15);
        });
    else
        finishPass<Pixel8>(scratch, output, rows, [](const Pixel8 &S, Pixel8 &D) {
            D.alpha = static_cast<uint8_t>(((D.alpha + 1u) * (255u - S.alpha)) >> 8);
        });
}

}  // namespace pennaro_plain
