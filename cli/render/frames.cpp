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
