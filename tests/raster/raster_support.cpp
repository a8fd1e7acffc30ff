#include "raster_support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include <gtest/gtest.h>

#include "host/entry.h"
#include "params/param_ids.h"

namespace raster_test {

Image::Image(int32_t width, int32_t height, bool deep_, uint8_t fill) : deep(deep_) {
    const int32_t pixel = deep ? 8 : 4;
    world.flags = deep ? HOST_WORLD_FLAG_DEEP : 0;
    world.width = width;
    world.height = height;
    world.rowBytes = (width + 3) * pixel;
    bytes.assign(static_cast<size_t>(world.rowBytes) * (height > 0 ? height : 0) + 8, fill);
    world.data = bytes.data();
    imageView = pennaro::ImageView{bytes.data(), world.rowBytes, width, height, deep};
}

pennaro::Pixel8 &Image::p8(int32_t x, int32_t y) {
    return reinterpret_cast<pennaro::Pixel8 *>(bytes.data() + static_cast<size_t>(y) * world.rowBytes)[x];
}
pennaro::Pixel16 &Image::p16(int32_t x, int32_t y) {
    return reinterpret_cast<pennaro::Pixel16 *>(bytes.data() + static_cast<size_t>(y) * world.rowBytes)[x];
}
bool Image::allZero() const {
    const size_t used = static_cast<size_t>(world.width) * (deep ? 8 : 4);
    for (int32_t y = 0; y < world.height; ++y) {
        const uint8_t *row = bytes.data() + static_cast<size_t>(y) * world.rowBytes;
        for (size_t i = 0; i < used; ++i)
            if (row[i]) return false;
    }
    return true;
}

bool Image::paddingIntact(uint8_t fill) const {
    const size_t used = static_cast<size_t>(world.width) * (deep ? 8 : 4);
    for (int32_t y = 0; y < world.height; ++y) {
        const uint8_t *row = bytes.data() + static_cast<size_t>(y) * world.rowBytes;
        for (size_t i = used; i < static_cast<size_t>(world.rowBytes); ++i)
            if (row[i] != fill) return false;
    }
    return true;
}

Host::Host(int32_t width, int32_t height) : in(mh.in), utils(*mh.in.utils) {
    mh.send(pennaro::filterMain, HOST_CMD_GLOBAL_SETUP);
    mh.send(pennaro::filterMain, HOST_CMD_PARAMS_SETUP);
    in.width = width;
    in.height = height;
    in.downsampleX = {1, 1};
    in.downsampleY = {1, 1};
    in.pixelAspect = {1, 1};
    in.originX = in.originY = 0;
    mh.setTime(0, 1, 30);
    setWiggle(false, 30, 5, 100, 70, 50, true);
    liveAtStart_ = minihost::handleStats().live;
    misuseAtStart_ = minihost::handleStats().misuse;
}

Host::~Host() {
    // Every handle operation was well formed and every check-out returned.
    EXPECT_EQ(minihost::handleStats().misuse, misuseAtStart_);
    EXPECT_EQ(mh.outstandingCheckouts(), 0);
    mh.faults = minihost::Faults{};
    mh.send(pennaro::filterMain, HOST_CMD_GLOBAL_SETDOWN);
}

void Host::setWigglesPerSec(double value) { mh.setParam(pennaro::PARAM_WIGGLES_PER_SEC, value); }

void Host::setWigglesPerSec(std::vector<minihost::Keyframe> keys) {
    mh.setKeyframes(pennaro::PARAM_WIGGLES_PER_SEC, std::move(keys));
}

void Host::setWiggle(bool on, double wps, double dv, double dd, double pv, double pd, bool seeds) {
    mh.setParam(pennaro::PARAM_WIGGLE_ENABLE, on ? 1 : 0);
    mh.setParam(pennaro::PARAM_INDIVIDUAL_SEEDS, seeds ? 1 : 0);
    mh.setParam(pennaro::PARAM_WIGGLES_PER_SEC, wps);
    mh.setParam(pennaro::PARAM_DISPLACEMENT_VARIATION, dv);
    mh.setParam(pennaro::PARAM_DISPLACEMENT_DETAIL, dd);
    mh.setParam(pennaro::PARAM_PRESSURE_VARIATION, pv);
    mh.setParam(pennaro::PARAM_PRESSURE_DETAIL, pd);
}

int64_t Host::newLiveHandles() const {
    return static_cast<int64_t>(minihost::handleStats().live) - static_cast<int64_t>(liveAtStart_);
}

Stroke::Stroke(const std::vector<PaintPoint> &points, const BrushSettings &b) {
    stroke.brush = b;
    stroke.pointCount = static_cast<int32_t>(points.size());
    stroke.points = minihost::newHandle(points.size() * sizeof(PaintPoint));
    if (points.empty()) return;
    std::memcpy(minihost::lockHandle(stroke.points), points.data(), points.size() * sizeof(PaintPoint));
    minihost::unlockHandle(stroke.points);
}

Stroke::~Stroke() { minihost::disposeHandle(stroke.points); }

BrushSettings brush(uint32_t mode, float size, float opacity, float softness, uint32_t pressureFlags) {
    BrushSettings b{};
    b.red = 1.0f;
    b.green = 0.5f;
    b.blue = 0.25f;
    b.opacity = opacity;
    b.size = size;
    b.brushMode = mode;
    b.softness = softness;
    b.pressureFlags = pressureFlags;
    return b;
}

Template::Template(const Image &scratch) {
    spans.assign(static_cast<size_t>(scratch.world.height), RowSpan{pennaro::ROW_SPAN_EMPTY_LEFT,
                                                                     pennaro::ROW_SPAN_EMPTY_RIGHT});
    brush.deep = scratch.deep ? 1 : 0;
    brush.onionOpacity = 0.5f;
    brush.rows.rowCount = scratch.world.height;
    brush.rows.topRow = scratch.world.height - 1;
    brush.rows.bottomRow = 0;
    brush.rows.spans = spans.data();
}

}  // namespace raster_test
