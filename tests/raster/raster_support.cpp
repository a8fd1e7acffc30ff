#include "raster_support.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "params/param_ids.h"

namespace raster_test {
namespace {

struct Block {
    void *ptr;
    uint64_t size;
};

std::map<HostHandle, uint64_t> gSizes;
Host *gHost = nullptr;

HostHandle newHandle(uint64_t size) {
    if (gHost && gHost->failHandleAfter >= 0) {
        if (gHost->failHandleAfter-- == 0) return nullptr;
    }
    auto *h = new void *;
    *h = std::calloc(1, size ? size : 1);
    if (!*h) {
        delete h;
        return nullptr;
    }
    gSizes[h] = size;
    return h;
}
void *lockHandle(HostHandle h) { return *h; }
void unlockHandle(HostHandle) {}
void disposeHandle(HostHandle h) {
    if (!h) return;
    gSizes.erase(h);
    std::free(*h);
    delete h;
}
uint64_t handleSize(HostHandle h) {
    auto it = gSizes.find(h);
    return it == gSizes.end() ? 0 : it->second;
}
int32_t pixelAddress8(HostWorld *w, void *, HostPixel8 **out) {
    *out = (gHost && gHost->nullPixelAddress) ? nullptr : static_cast<HostPixel8 *>(w->data);
    return *out ? 0 : 1;
}
int32_t pixelAddress16(HostWorld *w, void *, HostPixel16 **out) {
    *out = (gHost && gHost->nullPixelAddress) ? nullptr : static_cast<HostPixel16 *>(w->data);
    return *out ? 0 : 1;
}
double squareRoot(double x) { return std::sqrt(x); }

int32_t checkout(HostEffectRef, int32_t index, int32_t time, int32_t, uint32_t, HostParam *out) {
    std::memset(out, 0, sizeof *out);
    if (index != pennaro::PARAM_WIGGLES_PER_SEC || !gHost) return 1;
    out->paramType = HOST_PARAM_TYPE_FIXED_SLIDER;
    out->u.slider.value = static_cast<int32_t>(std::lround(gHost->wigglesPerSec(time) * 65536.0));
    return 0;
}
int32_t checkin(HostEffectRef, HostParam *) { return 0; }

}  // namespace

Image::Image(int32_t width, int32_t height, bool deep_, uint8_t fill) : deep(deep_) {
    const int32_t pixel = deep ? 8 : 4;
    world.flags = deep ? HOST_WORLD_FLAG_DEEP : 0;
    world.width = width;
    world.height = height;
    world.rowBytes = (width + 3) * pixel;
    bytes.assign(static_cast<size_t>(world.rowBytes) * (height > 0 ? height : 0) + 8, fill);
    world.data = bytes.data();
}

HostPixel8 &Image::p8(int32_t x, int32_t y) {
    return reinterpret_cast<HostPixel8 *>(bytes.data() + static_cast<size_t>(y) * world.rowBytes)[x];
}
HostPixel16 &Image::p16(int32_t x, int32_t y) {
    return reinterpret_cast<HostPixel16 *>(bytes.data() + static_cast<size_t>(y) * world.rowBytes)[x];
}
uint32_t Image::alpha(int32_t x, int32_t y) { return deep ? p16(x, y).alpha : p8(x, y).alpha; }

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

Host::Host(int32_t width, int32_t height) {
    utils.newHandle = newHandle;
    utils.lockHandle = lockHandle;
    utils.unlockHandle = unlockHandle;
    utils.disposeHandle = disposeHandle;
    utils.getHandleSize = handleSize;
    utils.getPixelAddress8 = pixelAddress8;
    utils.getPixelAddress16 = pixelAddress16;
    utils.squareRoot = squareRoot;
    in.utils = &utils;
    in.checkoutParam = checkout;
    in.checkinParam = checkin;
    in.width = width;
    in.height = height;
    in.downsampleX = {1, 1};
    in.downsampleY = {1, 1};
    in.pixelAspect = {1, 1};
    in.timeScale = 30;
    in.timeStep = 1;
    in.localTimeStep = 1;
    gHost = this;
}

Host::~Host() {
    if (gHost == this) gHost = nullptr;
}

int64_t liveHandles() { return static_cast<int64_t>(gSizes.size()); }

Stroke::Stroke(const std::vector<PaintPoint> &points, const BrushSettings &b) {
    stroke.brush = b;
    stroke.pointCount = static_cast<int32_t>(points.size());
    stroke.points = newHandle(points.size() * sizeof(PaintPoint));
    if (!points.empty()) std::memcpy(*stroke.points, points.data(), points.size() * sizeof(PaintPoint));
}

Stroke::~Stroke() { disposeHandle(stroke.points); }

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

Params::Params(bool wiggle, double wps, double dv, double dd, double pv, double pd, bool seeds) {
    for (int i = 0; i < 14; ++i) array[i] = &storage[i];
    auto slider = [&](int index, double v) {
        storage[index].paramType = HOST_PARAM_TYPE_FIXED_SLIDER;
        storage[index].u.slider.value = static_cast<int32_t>(std::lround(v * 65536.0));
    };
    storage[pennaro::PARAM_WIGGLE_ENABLE].u.checkbox.value = wiggle ? 1 : 0;
    storage[pennaro::PARAM_INDIVIDUAL_SEEDS].u.checkbox.value = seeds ? 1 : 0;
    slider(pennaro::PARAM_WIGGLES_PER_SEC, wps);
    slider(pennaro::PARAM_DISPLACEMENT_VARIATION, dv);
    slider(pennaro::PARAM_DISPLACEMENT_DETAIL, dd);
    slider(pennaro::PARAM_PRESSURE_VARIATION, pv);
    slider(pennaro::PARAM_PRESSURE_DETAIL, pd);
}

}  // namespace raster_test
