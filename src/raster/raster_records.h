// The per-stroke record the render hands to the rasterizer. Private to the
// effect.
#pragma once

#include <cstdint>

#include "pixels/image.h"

namespace pennaro {

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
};

struct RasterBrush {
    const void *drawingOptions;
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
    int32_t framesBackward;
    int32_t framesForward;
    float backwardColor[3];
    float forwardColor[3];
    WiggleSettings wiggle;
    int32_t strokeIndex;
    PaintedRows rows;
};

}  // namespace pennaro
