// Test fixtures for the rasterizer: images with padded rows filled with a
// canary, strokes in host blocks, the render's template, and the stand-in
// host set up as a render finds it.
#pragma once

#include <cstdint>
#include <vector>

#include "drawing/records.h"
#include "minihost/minihost.h"
#include "raster/raster_records.h"

namespace raster_test {

using pennaro::BrushSettings;
using pennaro::PaintPoint;
using pennaro::PaintStroke;
using pennaro::RasterBrush;
using pennaro::RowSpan;

struct Image {
    HostWorld world{};
    pennaro::ImageView imageView{};
    const pennaro::ImageView *view() const { return &imageView; }
    std::vector<uint8_t> bytes;
    bool deep = false;

    // Rows padded by 3 pixels; every byte starts at `fill`.
    Image(int32_t width, int32_t height, bool deep, uint8_t fill = 0);
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    pennaro::Pixel8 &p8(int32_t x, int32_t y);
    pennaro::Pixel16 &p16(int32_t x, int32_t y);
    bool allZero() const;  // every pixel inside width x height
    // True when the padding bytes after each row still hold `fill`.
    bool paddingIntact(uint8_t fill) const;
};

// The stand-in host after global and parameter set-up, with the layer
// geometry a render passes: square pixels, no downsampling, 30 fps.
struct Host {
    minihost::Host mh;
    HostInData &in;
    const HostUtilities &utils;

    Host(int32_t width, int32_t height);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    void failNextHandle() { mh.faults.newHandle.arm(1); }
    void failPixelAddress() { mh.faults.pixelAddress.arm(1, 0, true); }
    void setWigglesPerSec(double value);
    void setWigglesPerSec(std::vector<minihost::Keyframe> keys);
    void setWiggle(bool on, double wps, double dv, double dd, double pv, double pd, bool seeds);
    HostParam **params() { return mh.params(); }
    // Handles made since construction and not yet disposed.
    int64_t newLiveHandles() const;

private:
    uint64_t liveAtStart_ = 0;
    uint64_t misuseAtStart_ = 0;
};

// A stroke whose point block is a host handle.
struct Stroke {
    PaintStroke stroke{};
    Stroke(const std::vector<PaintPoint> &points, const BrushSettings &brush);
    ~Stroke();
};

BrushSettings brush(uint32_t mode, float size, float opacity = 1.0f, float softness = 0.0f,
                    uint32_t pressureFlags = 0);

// The template a render hands over: empty band over every row of `scratch`.
struct Template {
    std::vector<RowSpan> spans;
    RasterBrush brush{};
    explicit Template(const Image &scratch);
};

}  // namespace raster_test
