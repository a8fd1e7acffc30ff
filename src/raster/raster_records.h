// What the render hands the rasterizer: the layer's geometry, once per
// render, and the per-stroke brush record. Private to the effect.
#pragma once

#include <cstdint>

#include "pixels/image.h"

namespace pennaro {

struct Rational {
    int32_t num;
    uint32_t den;
};

inline double toDouble(const Rational &r) { return static_cast<double>(r.num) / static_cast<double>(r.den); }

// Where strokes land: the layer's size at full resolution (sample positions
// are fractions of it), the downsampling of the images at hand, the pixel
// aspect and the layer's origin in those images.
struct LayerGeometry {
    int32_t width;
    int32_t height;
    Rational downsampleX;
    Rational downsampleY;
    Rational pixelAspect;
    int32_t originX;
    int32_t originY;
};

struct NoiseTable;

struct WiggleSettings {
    uint8_t wiggleEnabled;
    uint8_t displaceOn;
    float displaceScaleX;
    float displaceScaleY;
    float displaceAmountX;
    float displaceAmountY;
    uint8_t pressureOn;
    float pressureScaleX;
    float pressureScaleY;
    float pressureAmount;
    uint8_t individualSeeds;
    float seedOffsetX;
    float seedOffsetY;
    const NoiseTable *noise;  // built by the render for this frame
};

struct RasterBrush {
    uint8_t deep;
    uint8_t color8[4];    // alpha, red, green, blue
    uint16_t color16[4];  // alpha, red, green, blue; full alpha 32768
    float opacity;
    float radius;
    uint32_t brushMode;
    float softness;
    float spacing;
    uint32_t pressureFlags;
    int32_t animate;
    float strokeAge;
    int32_t onionDirection;
    float onionOpacity;
    float backwardColor[3];
    float forwardColor[3];
    WiggleSettings wiggle;
    int32_t strokeIndex;
    PaintedRows rows;
};

}  // namespace pennaro
