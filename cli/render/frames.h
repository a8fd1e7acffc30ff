// Frames on their way into and out of the effect: layer PNGs brought to the
// effect's depth and resolution, generated backgrounds, rendered frames
// written back as PNG, and the contact sheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/images/png.h"
#include "cli/render/options.h"

namespace pennaro_cli {

// A layer image read from a file, at the effect's scale and depth: 8-bit
// files as they are or widened to 16 bits; 16-bit files read with the 16-bit
// mapping. A 16-bit file cannot be used at depth 8 (that would lose
// precision silently) and is refused.
RgbaImage layerAtEffectScale(const RgbaImage &png, int depth, const std::string &nameForErrors);

// A background frame of the given size and depth.
RgbaImage backgroundImage(const Background &background, int32_t width, int32_t height, int depth);

// Point-samples a full-resolution image down to width × height, pixel (x, y)
// taking source pixel (⌊x ÷ X⌋, ⌊y ÷ Y⌋).
RgbaImage pointSample(const RgbaImage &full, int32_t width, int32_t height, Rational x, Rational y);

// A rendered frame at the file scale of its depth, ready to be written.
RgbaImage frameAtFileScale(const RgbaImage &image);

// Thumbnails of the frames, in order, on one 8-bit sheet. Each frame is
// scaled down as it is added, so that only thumbnails are kept.
class ContactSheet {
public:
    void add(const RgbaImage &frame);
    RgbaImage finish() const;
    size_t keptBytes() const;  // what the thumbnails hold

private:
    struct Thumbnail {
        int32_t width, height;
        std::vector<uint16_t> samples;  // RGBA, 8-bit values
    };
    std::vector<Thumbnail> thumbs_;
};

}  // namespace pennaro_cli
