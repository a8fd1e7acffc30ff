// The per-stroke record the render hands to the rasterizer, and the painted
// band the dab kernels widen. Private to the effect.
#pragma once

#include <cstdint>

namespace pennaro {

// Empty row span: nothing touched yet.
inline constexpr int32_t ROW_SPAN_EMPTY_LEFT = 9999;
inline constexpr int32_t ROW_SPAN_EMPTY_RIGHT = -1;

struct RowSpan {
    int32_t left;
    int32_t right;
};

struct PaintedRows {
    int32_t rowCount;
    int32_t topRow;     // first row touched; starts at rowCount - 1
    int32_t bottomRow;  // last row touched; starts at 0
    RowSpan *spans;
};

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
