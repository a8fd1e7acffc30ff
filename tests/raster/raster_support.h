// A small in-process host for the rasterizer tests: heap-backed handles with
// live accounting, images with padded rows filled with a canary, and the
// utility callbacks the rasterizer uses.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "drawing/records.h"
#include "raster/raster_records.h"

namespace raster_test {

using pennaro::BrushSettings;
using pennaro::PaintPoint;
using pennaro::PaintStroke;
using pennaro::RasterBrush;
using pennaro::RowSpan;

struct Image {
    HostWorld world{};
    std::vector<uint8_t> bytes;
    bool deep = false;

    // Rows padded by 3 pixels; every byte starts at `fill`.
    Image(int32_t width, int32_t height, bool deep, uint8_t fill = 0);
    Image(const Image &) = delete;
    Image &operator=(const Image &) = delete;

    HostPixel8 &p8(int32_t x, int32_t y);
    HostPixel16 &p16(int32_t x, int32_t y);
    uint32_t alpha(int32_t x, int32_t y);
    bool allZero() const;  // every pixel inside width x height
    // True when the padding bytes after each row still hold `fill`.
    bool paddingIntact(uint8_t fill) const;
};

// The host values a render passes: utilities, layer size, downsampling,
// pixel aspect, origin, time and a "Wiggles/sec" timeline.
struct Host {
    HostUtilities utils{};
    HostInData in{};
    std::function<double(int32_t)> wigglesPerSec = [](int32_t) { return 30.0; };
    int failHandleAfter = -1;  // fail the Nth new handle from now (0 = next)
    bool nullPixelAddress = false;

    Host(int32_t width, int32_t height);
    ~Host();
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;
};

int64_t liveHandles();

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

// Parameter array with the given wiggle values (16.16 sliders).
struct Params {
    HostParam storage[14]{};
    HostParam *array[14]{};
    Params(bool wiggle, double wps, double dv, double dd, double pv, double pd, bool seeds);
};

}  // namespace raster_test
