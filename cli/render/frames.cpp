#include "cli/render/frames.h"

#include <algorithm>
#include <cmath>

#include "cli/core/errors.h"

namespace pennaro_cli {

RgbaImage layerAtEffectScale(const RgbaImage &png, int depth, const std::string &name) {
    if (png.depth == 16 && depth == 8)
        throw ToolError(name + " is a 16-bit image and cannot be rendered at depth 8; use --depth 16 "
                               "(or convert the layer to 8 bits first)");
    RgbaImage image = makeImage(png.width, png.height, depth, SampleScale::Effect);
    for (size_t i = 0; i < png.samples.size(); ++i) {
        uint16_t s = png.samples[i];
        image.samples[i] = png.depth == 16 ? sixteenBitFromFile(s) : depth == 16 ? eightBitToSixteen(s) : s;
    }
    return image;
}

LayerPlacement placeLayer(const ImageWindows &w, Rational fx, Rational fy, const std::string &name) {
    LayerPlacement p;
    p.placed = w.placed();
    p.layerWidth = w.displayWidth, p.layerHeight = w.displayHeight;
    const int64_t left = std::min(w.dataX, w.displayX), top = std::min(w.dataY, w.displayY);
    const int64_t right = std::max(int64_t(w.dataX) + w.dataWidth, int64_t(w.displayX) + w.displayWidth);
    const int64_t bottom = std::max(int64_t(w.dataY) + w.dataHeight, int64_t(w.displayY) + w.displayHeight);
    if (right - left > INT32_MAX || bottom - top > INT32_MAX)
        throw ToolError(name + ": its data and display windows together are too large");
    p.unionX = int32_t(left), p.unionY = int32_t(top);
    p.unionWidth = int32_t(right - left), p.unionHeight = int32_t(bottom - top);
    const int64_t offsetX = w.displayX - left, offsetY = w.displayY - top;
    // The effect adds the origin to dab positions in the images' pixels: a
    // fraction of a pixel would shift every stroke against the plate.
    if (offsetX * fx.num % int64_t(fx.den) != 0 || offsetY * fy.num % int64_t(fy.den) != 0)
        throw ToolError(name + ": its display window lies " + std::to_string(offsetX) + "," + std::to_string(offsetY) +
                        " pixels into its data window, which --downsample " + std::to_string(fx.num) + "/" +
                        std::to_string(fx.den) + "," + std::to_string(fy.num) + "/" + std::to_string(fy.den) +
                        " does not scale to whole pixels; choose a downsampling that does");
    p.originX = int32_t(offsetX * fx.num / int64_t(fx.den));
    p.originY = int32_t(offsetY * fy.num / int64_t(fy.den));
    p.cropWidth = std::min(scaledExtent(w.displayWidth, fx), scaledExtent(p.unionWidth, fx) - p.originX);
    p.cropHeight = std::min(scaledExtent(w.displayHeight, fy), scaledExtent(p.unionHeight, fy) - p.originY);
    // The display window's corner scaled down (rounding toward minus
    // infinity), the data window the images' extent from the origin before it.
    const auto floorScaled = [](int64_t v, Rational f) {
        const int64_t product = v * f.num, den = int64_t(f.den);
        return int32_t(product >= 0 ? product / den : -((-product + den - 1) / den));
    };
    const int32_t displayX = floorScaled(w.displayX, fx), displayY = floorScaled(w.displayY, fy);
    p.output = {displayX - p.originX, displayY - p.originY, scaledExtent(p.unionWidth, fx),
                scaledExtent(p.unionHeight, fy), displayX, displayY, p.cropWidth, p.cropHeight};
    return p;
}

RgbaImage backgroundImage(const Background &background, int32_t width, int32_t height, int depth) {
    RgbaImage image = makeImage(width, height, depth, SampleScale::Effect);
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            auto rgba = backgroundAt(background, x, y, width, height);
            uint16_t *p = image.pixel(x, y);
            for (int c = 0; c < 4; ++c) p[c] = depth == 16 ? eightBitToSixteen(rgba[size_t(c)]) : rgba[size_t(c)];
        }
    }
    return image;
}

RgbaImage pointSample(const RgbaImage &full, int32_t width, int32_t height, Rational fx, Rational fy) {
    RgbaImage image = makeImage(width, height, full.depth, full.scale);
    for (int32_t y = 0; y < height; ++y) {
        int64_t sy = std::min<int64_t>(int64_t(y) * fy.den / fy.num, full.height - 1);
        for (int32_t x = 0; x < width; ++x) {
            int64_t sx = std::min<int64_t>(int64_t(x) * fx.den / fx.num, full.width - 1);
            std::copy_n(full.pixel(int32_t(sx), int32_t(sy)), 4, image.pixel(x, y));
        }
    }
    return image;
}

RgbaImage frameAtFileScale(const RgbaImage &image) {
    RgbaImage png = makeImage(image.width, image.height, image.depth);
    for (size_t i = 0; i < image.samples.size(); ++i)
        png.samples[i] = image.depth == 16 ? sixteenBitToFile(image.samples[i]) : image.samples[i];
    return png;
}

namespace {
constexpr int32_t SHEET_GAP = 4, THUMB_MAX = 256;
}

void ContactSheet::add(const RgbaImage &f) {
    double scale = std::min(1.0, double(THUMB_MAX) / std::max(f.width, f.height));
    int32_t tw = std::max(1, int32_t(f.width * scale)), th = std::max(1, int32_t(f.height * scale));
    Thumbnail thumb{tw, th, std::vector<uint16_t>(size_t(tw) * size_t(th) * 4)};
    uint32_t full = f.depth == 16 ? 65535u : 255u;
    for (int32_t y = 0; y < th; ++y) {
        int32_t y0 = int32_t(int64_t(y) * f.height / th), y1 = std::max(y0 + 1, int32_t(int64_t(y + 1) * f.height / th));
        for (int32_t x = 0; x < tw; ++x) {
            int32_t x0 = int32_t(int64_t(x) * f.width / tw), x1 = std::max(x0 + 1, int32_t(int64_t(x + 1) * f.width / tw));
            // Box average with colour weighted by alpha, so transparent
            // pixels do not darken the edges of the paint.
            double r = 0, g = 0, b = 0, a = 0;
            for (int32_t sy = y0; sy < y1; ++sy)
                for (int32_t sx = x0; sx < x1; ++sx) {
                    const uint16_t *p = f.pixel(sx, sy);
                    double alpha = double(p[3]) / full;
                    r += p[0] * alpha / full;
                    g += p[1] * alpha / full;
                    b += p[2] * alpha / full;
                    a += alpha;
                }
            double count = double(y1 - y0) * double(x1 - x0);
            uint16_t *out = &thumb.samples[(size_t(y) * size_t(tw) + size_t(x)) * 4];
            if (a > 0) {
                out[0] = uint16_t(std::lround(255.0 * r / a));
                out[1] = uint16_t(std::lround(255.0 * g / a));
                out[2] = uint16_t(std::lround(255.0 * b / a));
            }
            out[3] = uint16_t(std::lround(255.0 * a / count));
        }
    }
    thumbs_.push_back(std::move(thumb));
}

size_t ContactSheet::keptBytes() const {
    size_t bytes = 0;
    for (const Thumbnail &t : thumbs_) bytes += t.samples.size() * sizeof(uint16_t);
    return bytes;
}

RgbaImage ContactSheet::finish() const {
    if (thumbs_.empty()) throw ToolError("no frames for the contact sheet");
    int32_t columns = int32_t(std::ceil(std::sqrt(double(thumbs_.size()))));
    int32_t rows = int32_t((thumbs_.size() + size_t(columns) - 1) / size_t(columns));
    int32_t cellW = 1, cellH = 1;
    for (const Thumbnail &t : thumbs_) cellW = std::max(cellW, t.width), cellH = std::max(cellH, t.height);
    RgbaImage sheet = makeImage(columns * (cellW + SHEET_GAP) + SHEET_GAP, rows * (cellH + SHEET_GAP) + SHEET_GAP, 8);
    for (size_t i = 0; i < thumbs_.size(); ++i) {
        const Thumbnail &t = thumbs_[i];
        int32_t left = SHEET_GAP + int32_t(i % size_t(columns)) * (cellW + SHEET_GAP);
        int32_t top = SHEET_GAP + int32_t(i / size_t(columns)) * (cellH + SHEET_GAP);
        for (int32_t y = 0; y < t.height; ++y)
            std::copy_n(&t.samples[size_t(y) * size_t(t.width) * 4], size_t(t.width) * 4, sheet.pixel(left, top + y));
    }
    return sheet;
}

}  // namespace pennaro_cli
