// Frames on their way into and out of the effect: layer PNGs brought to the
// effect's depth and resolution, generated backgrounds, rendered frames
// written back as PNG, and the contact sheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lib/png_io.h"
#include "lib/render_options.h"

namespace pennaro_cli {

// An image in the effect's channel values (0..255 at depth 8, 0..32768 at
// depth 16), RGBA with straight alpha, rows packed.
struct EffectImage {
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;
    std::vector<uint16_t> samples;

    uint16_t *pixel(int32_t x, int32_t y) { return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
    const uint16_t *pixel(int32_t x, int32_t y) const {
        return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4];
    }
};

EffectImage makeEffectImage(int32_t width, int32_t height, int depth);

// A layer PNG at the effect's depth: 8-bit files as they are or widened to
// 16 bits; 16-bit files read with the 16-bit mapping. A 16-bit file cannot
// be used at depth 8 (that would lose precision silently) and is refused.
EffectImage layerFromPng(const PngImage &png, int depth, const std::string &nameForErrors);

// A background frame of the given size and depth.
EffectImage backgroundImage(const Background &background, int32_t width, int32_t height, int depth);

// Point-samples a full-resolution image down to width × height, pixel (x, y)
// taking source pixel (⌊x ÷ X⌋, ⌊y ÷ Y⌋).
EffectImage pointSample(const EffectImage &full, int32_t width, int32_t height, Rational x, Rational y);

// A rendered frame as a PNG image of the same depth.
PngImage effectImageToPng(const EffectImage &image);

// Thumbnails of the frames, in order, on one 8-bit sheet. Each frame is
// scaled down as it is added, so that only thumbnails are kept.
class ContactSheet {
public:
    void add(const PngImage &frame);
    PngImage finish() const;
    size_t keptBytes() const;  // what the thumbnails hold

private:
    struct Thumbnail {
        int32_t width, height;
        std::vector<uint16_t> samples;  // RGBA, 8-bit values
    };
    std::vector<Thumbnail> thumbs_;
};

}  // namespace pennaro_cli
