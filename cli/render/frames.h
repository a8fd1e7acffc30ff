// Frames on their way into and out of the effect: layer PNGs brought to the
// effect's depth and resolution, generated backgrounds, rendered frames
// written back as PNG, and the contact sheet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cli/images/image_format.h"
#include "cli/images/png.h"
#include "cli/render/options.h"

namespace pennaro_cli {

// A layer image read from a file, at the effect's scale and depth: 8-bit
// files as they are or widened to 16 bits; 16-bit files read with the 16-bit
// mapping. A 16-bit file cannot be used at depth 8 (that would lose
// precision silently) and is refused.
RgbaImage layerAtEffectScale(const RgbaImage &png, int depth, const std::string &nameForErrors);

// How a layer whose windows are placed (an OpenEXR plate with overscan, or
// with a data window inside its display window) is described to the effect:
// the layer's size is its display window's; the images hold the union of
// both windows, transparent outside the data window, so that paint goes on
// into the overscan and past a CG element's bounding box; the origin is the
// display window's corner less the union's, so that strokes land on the
// display pixels they land on without overscan.
struct LayerPlacement {
    bool placed = false;
    int32_t layerWidth = 0, layerHeight = 0;  // full resolution: the display window's size
    int32_t unionX = 0, unionY = 0, unionWidth = 0, unionHeight = 0;  // full resolution
    // At the images' resolution (downsampled): the origin, and the display
    // window inside the images, which PNG and TIFF outputs hold.
    int32_t originX = 0, originY = 0;
    int32_t cropWidth = 0, cropHeight = 0;
    ImageWindows output;  // the windows an OpenEXR output is written with
};
// Refuses (ToolError naming `name`) a downsampling under which the origin
// would not be whole pixels.
LayerPlacement placeLayer(const ImageWindows &windows, Rational x, Rational y, const std::string &name);

// The union of a layer's windows, from the pixels of its data window:
// transparent (every channel 0) outside the data window.
template <typename Sample>
std::vector<Sample> unionOfWindows(const std::vector<Sample> &data, const ImageWindows &w, const LayerPlacement &p) {
    std::vector<Sample> image(size_t(p.unionWidth) * size_t(p.unionHeight) * 4);
    for (int32_t y = 0; y < w.dataHeight; ++y)
        std::copy_n(&data[size_t(y) * size_t(w.dataWidth) * 4], size_t(w.dataWidth) * 4,
                    &image[(size_t(y + w.dataY - p.unionY) * size_t(p.unionWidth) + size_t(w.dataX - p.unionX)) * 4]);
    return image;
}

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
