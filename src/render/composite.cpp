// The last step of a render: the painted output meets the layer.
//
// One traversal template visits every pixel once, left to right and top to
// bottom; the composite mode picks the per-pixel kernel once, outside the
// loops. Kernels whose arithmetic is the same in both depths are written
// once over the pixel type; only "over" and the two matte modes have
// depth-specific arithmetic.
#include "render/composite.h"

#include <algorithm>
#include <cstring>

#include "params/param_ids.h"

namespace pennaro {

HostPixel8 over8(HostPixel8 t, HostPixel8 b) {
    if (t.alpha == 0) return b;
    if (t.alpha == 255) return t;
    if (b.alpha == 0) return t;
    const uint32_t wt = uint32_t{t.alpha} * 255u;
    const uint32_t wb = uint32_t{b.alpha} * (255u - t.alpha);
    const uint32_t d = wt + wb;
    HostPixel8 r;
    r.red = static_cast<uint8_t>((b.red * wb + t.red * wt) / d);
    r.green = static_cast<uint8_t>((b.green * wb + t.green * wt) / d);
    r.blue = static_cast<uint8_t>((b.blue * wb + t.blue * wt) / d);
    r.alpha = static_cast<uint8_t>(b.alpha - (uint32_t{b.alpha} * t.alpha) / 255u + t.alpha);
    return r;
}

HostPixel16 over16(HostPixel16 t, HostPixel16 b) {
    if (b.alpha == 0) return t;
    if (t.alpha == 0) return b;
    // Unsigned 32-bit throughout, as the arithmetic is defined; channel
    // values above 32768 wrap here exactly as they do for every other
    // implementation of it.
    const uint32_t ta = t.alpha, ba = b.alpha;
    const uint32_t wb = ((32768u - ta) * ba) >> 15;
    const uint32_t d = wb + ta;
    HostPixel16 r;
    r.red = static_cast<uint16_t>((b.red * wb + t.red * ta) / d);
    r.green = static_cast<uint16_t>((b.green * wb + t.green * ta) / d);
    r.blue = static_cast<uint16_t>((b.blue * wb + t.blue * ta) / d);
    r.alpha = static_cast<uint16_t>(ta - ((ba * ta) >> 15) + ba);
    return r;
}

namespace {

HostPixel8 over(HostPixel8 t, HostPixel8 b) { return over8(t, b); }
HostPixel16 over(HostPixel16 t, HostPixel16 b) { return over16(t, b); }

// "As Matte": the layer's colour, its alpha scaled by the paint's. The 8-bit
// form divides by 256 after adding 1 to the layer alpha; the 16-bit form
// adds nothing.
HostPixel8 asMatte(HostPixel8 p, HostPixel8 l) {
    HostPixel8 r = l;
    r.alpha = static_cast<uint8_t>(((uint32_t{l.alpha} + 1u) * p.alpha) / 256u);
    return r;
}
HostPixel16 asMatte(HostPixel16 p, HostPixel16 l) {
    HostPixel16 r = l;
    r.alpha = static_cast<uint16_t>((uint32_t{p.alpha} * l.alpha) >> 15);
    return r;
}

// "As Inverse Matte": the layer, its alpha scaled by the paint's inverse.
HostPixel8 asInverseMatte(HostPixel8 p, HostPixel8 l) {
    HostPixel8 r = l;
    r.alpha = static_cast<uint8_t>(((256u - p.alpha) * l.alpha) / 256u);
    return r;
}
HostPixel16 asInverseMatte(HostPixel16 p, HostPixel16 l) {
    HostPixel16 r = l;
    r.alpha = static_cast<uint16_t>(((32768u - p.alpha) * l.alpha) >> 15);
    return r;
}

template <class Pixel>
Pixel trackMatte(Pixel p, Pixel l) {
    Pixel r = p;
    r.alpha = std::min(l.alpha, p.alpha);
    return r;
}

template <class Pixel>
Pixel trackMatteVisible(Pixel p, Pixel l) {
    Pixel r = over(p, l);
    r.alpha = l.alpha;
    return r;
}

template <class Pixel>
Pixel layerWithPaintAlpha(Pixel p, Pixel l) {
    Pixel r = l;
    r.alpha = p.alpha;
    return r;
}

template <class Pixel>
Pixel layerWithMaxAlpha(Pixel p, Pixel l) {
    Pixel r = l;
    r.alpha = std::max(l.alpha, p.alpha);
    return r;
}

// Rows follow the layer's height and columns the output's width; after each
// row each pointer skips the padding of its own image. Loads and stores go
// through memcpy because hosts may pad rows to any byte count.
template <class Pixel, class Kernel>
void forEachPixel(const HostWorld &input, uint8_t *layer, const HostWorld &output, uint8_t *paint,
                  Kernel kernel) {
    const int32_t rows = input.height;
    const int32_t columns = output.width;
    const intptr_t layerSkip =
        static_cast<intptr_t>(input.rowBytes) - static_cast<intptr_t>(input.width) * sizeof(Pixel);
    const intptr_t paintSkip =
        static_cast<intptr_t>(output.rowBytes) - static_cast<intptr_t>(output.width) * sizeof(Pixel);
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < columns; ++x) {
            Pixel p, l;
            std::memcpy(&p, paint, sizeof p);
            std::memcpy(&l, layer, sizeof l);
            const Pixel r = kernel(p, l);
            std::memcpy(paint, &r, sizeof r);
            paint += sizeof(Pixel);
            layer += sizeof(Pixel);
        }
        layer += layerSkip;
        paint += paintSkip;
    }
}

template <class Pixel>
void compositePixels(const HostWorld &input, uint8_t *layer, const HostWorld &output, uint8_t *paint,
                     int32_t mode) {
    switch (mode) {
        case COMPOSITE_OVER_ORIGINAL:
            forEachPixel<Pixel>(input, layer, output, paint, [](Pixel p, Pixel l) { return over(p, l); });
            break;
        case COMPOSITE_UNDER_ORIGINAL:
            forEachPixel<Pixel>(input, layer, output, paint, [](Pixel p, Pixel l) { return over(l, p); });
            break;
        case COMPOSITE_TRACK_MATTE:
            forEachPixel<Pixel>(input, layer, output, paint, trackMatte<Pixel>);
            break;
        case COMPOSITE_TRACK_MATTE_VISIBLE:
            forEachPixel<Pixel>(input, layer, output, paint, trackMatteVisible<Pixel>);
            break;
        case COMPOSITE_AS_MATTE:
            forEachPixel<Pixel>(input, layer, output, paint, [](Pixel p, Pixel l) { return asMatte(p, l); });
            break;
        case COMPOSITE_AS_INVERSE_MATTE:
            forEachPixel<Pixel>(input, layer, output, paint,
                                [](Pixel p, Pixel l) { return asInverseMatte(p, l); });
            break;
        case COMPOSITE_IN_ORIGINAL_ALPHA_ONLY:
            forEachPixel<Pixel>(input, layer, output, paint, layerWithPaintAlpha<Pixel>);
            break;
        case COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY:
            forEachPixel<Pixel>(input, layer, output, paint, layerWithMaxAlpha<Pixel>);
            break;
        default:
            // "Only", "In Original", the separators and unknown values: the
            // output already is the result.
            break;
    }
}

}  // namespace

void composite8(const HostInData *in, HostOutData *, HostWorld *input, HostWorld *output,
                int32_t compositeMode) {
    HostPixel8 *layer = nullptr;
    HostPixel8 *paint = nullptr;
    in->utils->getPixelAddress8(input, nullptr, &layer);
    in->utils->getPixelAddress8(output, nullptr, &paint);
    if (!layer || !paint) return;
    compositePixels<HostPixel8>(*input, reinterpret_cast<uint8_t *>(layer), *output,
                                reinterpret_cast<uint8_t *>(paint), compositeMode);
}

void composite16(const HostInData *in, HostOutData *, HostWorld *input, HostWorld *output,
                 int32_t compositeMode) {
    HostPixel16 *layer = nullptr;
    HostPixel16 *paint = nullptr;
    in->utils->getPixelAddress16(input, nullptr, &layer);
    in->utils->getPixelAddress16(output, nullptr, &paint);
    if (!layer || !paint) return;
    compositePixels<HostPixel16>(*input, reinterpret_cast<uint8_t *>(layer), *output,
                                 reinterpret_cast<uint8_t *>(paint), compositeMode);
}

}  // namespace pennaro
