// Properties over many random strokes in both depths, and hostile inputs.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "raster/rasterize.h"
#include "render/wiggle.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Host;
using raster_test::Image;
using raster_test::Stroke;
using raster_test::Template;

namespace {

constexpr uint8_t kCanary = 0xA5;

struct Scene {
    Host host;
    Image scratch, out;
    Template t;
    Scene(int32_t w, int32_t h, bool deep) : host(w, h), scratch(w, h, deep), out(w, h, deep, kCanary), t(scratch) {}
};

std::vector<PaintPoint> randomPoints(std::mt19937 &rng, int count) {
    std::uniform_real_distribution<float> pos(-0.2f, 1.2f), pr(-0.2f, 1.6f), step(0.0f, 0.1f);
    std::vector<PaintPoint> pts;
    float time = 0.0f;
    for (int i = 0; i < count; ++i) {
        pts.push_back({time, pos(rng), pos(rng), pr(rng)});
        time += step(rng);
    }
    return pts;
}

BrushSettings randomBrush(std::mt19937 &rng) {
    static const uint32_t modes[] = {1, 2, 3, 1, 2, 3, 9, 10, 11, 4, 12, 0, 6};
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> mode(0, 12), flags(0, 3);
    BrushSettings b = raster_test::brush(modes[mode(rng)], 0.2f + 25.0f * unit(rng), unit(rng), unit(rng),
                                         static_cast<uint32_t>(flags(rng)));
    b.red = unit(rng);
    b.green = unit(rng);
    b.blue = unit(rng);
    return b;
}

// Runs one stroke and checks: the scratch image is clear afterwards, and no
// output pixel outside the recorded spans (nor any row padding) changed.
void runAndCheck(Scene &s, const Stroke &stroke, RasterBrush copy) {
    const std::vector<uint8_t> before = s.out.bytes;
    rasterizeStroke(&s.host.in, nullptr, &stroke.stroke, nullptr, &s.out.world, &s.scratch.world, &copy);
    ASSERT_TRUE(s.scratch.allZero());
    ASSERT_TRUE(s.out.paddingIntact(kCanary));
    const int32_t pixel = s.out.deep ? 8 : 4;
    for (int32_t y = 0; y < s.out.world.height; ++y) {
        const RowSpan span = s.t.spans[y];
        const bool inBand = y >= copy.rows.topRow && y <= copy.rows.bottomRow;
        for (int32_t x = 0; x < s.out.world.width; ++x) {
            const size_t at = static_cast<size_t>(y) * s.out.world.rowBytes + static_cast<size_t>(x) * pixel;
            const bool changed = std::memcmp(&before[at], &s.out.bytes[at], pixel) != 0;
            if (changed) {
                ASSERT_TRUE(inBand && x >= span.left && x <= span.right) << "pixel " << x << "," << y;
            }
        }
    }
    const uint32_t mode = stroke.stroke.brush.brushMode;
    if (mode == 4 || mode == 12 || mode == 0 || mode == 6) {
        ASSERT_EQ(before, s.out.bytes) << "mode " << mode;
    }
}

TEST(RasterProperties, RandomStrokesBothDepths) {
    std::mt19937 rng(20261206);
    for (bool deep : {false, true}) {
        Scene s(97, 61, deep);
        for (int i = 0; i < 300; ++i) {
            std::uniform_int_distribution<int> count(1, 12);
            Stroke stroke(randomPoints(rng, count(rng)), randomBrush(rng));
            RasterBrush copy = s.t.brush;
            copy.animate = i % 3 == 0;
            copy.strokeAge = 0.2f;
            copy.strokeIndex = i;
            copy.onionDirection = (i % 5) - 2 > 0 ? 1 : ((i % 5) - 2 < 0 ? -1 : 0);
            if (i % 4 == 0) {
                s.host.in.pixelAspect = {i % 8 == 0 ? 2 : 10, i % 8 == 0 ? 1u : 11u};
                s.host.in.downsampleX = {1, i % 8 == 0 ? 2u : 1u};
                s.host.in.originX = i % 7 - 3;
            } else {
                s.host.in.pixelAspect = {1, 1};
                s.host.in.downsampleX = {1, 1};
                s.host.in.originX = 0;
            }
            runAndCheck(s, stroke, copy);
            if (HasFatalFailure()) return;
        }
        EXPECT_EQ(s.host.newLiveHandles(), 0);
    }
}

TEST(RasterProperties, RandomWiggledStrokes) {
    std::mt19937 rng(77);
    for (bool deep : {false, true}) {
        Scene s(80, 50, deep);
        s.host.setWiggle(true, 12.5, 20, 150, 70, 50, true);
        s.host.in.currentTime = 11;
        setupWiggle(&s.host.in, s.host.params(), &s.t.brush.wiggle);
        for (int i = 0; i < 100; ++i) {
            Stroke stroke(randomPoints(rng, 1 + i % 9), randomBrush(rng));
            RasterBrush copy = s.t.brush;
            copy.strokeIndex = i;
            runAndCheck(s, stroke, copy);
            if (HasFatalFailure()) return;
        }
    }
}

TEST(RasterProperties, SharedSeedsPaintIdentically) {
    for (bool deep : {false, true}) {
        Scene a(80, 50, deep), b(80, 50, deep);
        a.host.setWiggle(true, 12.5, 20, 150, 70, 50, false);
        setupWiggle(&a.host.in, a.host.params(), &a.t.brush.wiggle);
        b.t.brush.wiggle = a.t.brush.wiggle;
        std::mt19937 rng(5);
        Stroke stroke(randomPoints(rng, 8), raster_test::brush(BRUSH_KIND_SOFT, 6.0f));
        RasterBrush ca = a.t.brush, cb = b.t.brush;
        ca.strokeIndex = 1;
        cb.strokeIndex = 9;
        rasterizeStroke(&a.host.in, nullptr, &stroke.stroke, nullptr, &a.out.world, &a.scratch.world, &ca);
        rasterizeStroke(&b.host.in, nullptr, &stroke.stroke, nullptr, &b.out.world, &b.scratch.world, &cb);
        EXPECT_EQ(a.out.bytes, b.out.bytes);
    }
}

TEST(RasterProperties, HostileValuesTerminate) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float big = 3.0e38f;
    const std::vector<std::vector<PaintPoint>> paths = {
        {{0, nan, 0.5f, 1}, {1, 0.5f, nan, 1}},
        {{0, -inf, 0.5f, 1}, {1, inf, 0.5f, 1}},
        {{0, -big, -big, 1}, {1, big, big, 1}, {2, 0.5f, 0.5f, 1}},
        {{0, 0.1f, 0.5f, -40.0f}, {1, 0.9f, 0.5f, -40.0f}},  // negative radius: steps go backward
        {{0, 0.1f, 0.5f, big}, {1, 0.9f, 0.5f, big}},
        {{nan, 0.1f, 0.5f, nan}, {inf, 0.9f, 0.5f, 1}},
        {{0, 0.1f, 0.5f, 1}, {1, 0.1f + 1e-7f, 0.5f, 1}},
    };
    std::vector<BrushSettings> brushes;
    for (uint32_t mode : {1u, 2u, 3u, 9u}) {
        brushes.push_back(raster_test::brush(mode, 5.0f, 1.0f, 0.3f, 3));
        brushes.push_back(raster_test::brush(mode, nan, nan, nan, 3));
        brushes.push_back(raster_test::brush(mode, inf, 2.0f, -7.0f, 1));
        brushes.push_back(raster_test::brush(mode, -5.0f, -1.0f, -2.0f, 0));
        brushes.push_back(raster_test::brush(mode, 1.0e-30f, 1.0f, 1.0f, 0));
    }
    const auto start = std::chrono::steady_clock::now();
    for (bool deep : {false, true}) {
        for (bool wiggle : {false, true}) {
            Scene s(64, 48, deep);
            s.host.setWiggle(wiggle, 30, 1.0e4, 1.0e3, -3.0e4, 1.0e3, true);
            setupWiggle(&s.host.in, s.host.params(), &s.t.brush.wiggle);
            for (const auto &path : paths) {
                for (const BrushSettings &b : brushes) {
                    Stroke stroke(path, b);
                    RasterBrush copy = s.t.brush;
                    copy.animate = 1;
                    copy.strokeAge = nan;
                    rasterizeStroke(&s.host.in, nullptr, &stroke.stroke, nullptr, &s.out.world, &s.scratch.world,
                                    &copy);
                    copy = s.t.brush;
                    rasterizeStroke(&s.host.in, nullptr, &stroke.stroke, nullptr, &s.out.world, &s.scratch.world,
                                    &copy);
                    ASSERT_TRUE(s.out.paddingIntact(kCanary));
                }
            }
        }
    }
    // Hostile host values too: zero or negative rationals and sizes.
    Scene s(64, 48, false);
    s.host.in.pixelAspect = {0, 0};
    s.host.in.downsampleY = {-1, 0};
    s.host.in.width = -5;
    Stroke stroke({{0, 0.1f, 0.5f, 1}, {1, 0.9f, 0.5f, 1}}, raster_test::brush(2, 5.0f));
    RasterBrush copy = s.t.brush;
    rasterizeStroke(&s.host.in, nullptr, &stroke.stroke, nullptr, &s.out.world, &s.scratch.world, &copy);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(s.host.newLiveHandles(), 1);  // the stroke's own block
}

TEST(RasterProperties, ManyTinyStepsStayLinear) {
    Scene s(200, 200, false);
    std::vector<PaintPoint> pts;
    for (int i = 0; i < 200000; ++i) pts.push_back({i * 1e-6f, 0.5f + (i % 3) * 1e-7f, 0.5f, 1.0f});
    Stroke stroke(pts, raster_test::brush(BRUSH_KIND_SOFT, 4.0f));
    RasterBrush copy = s.t.brush;
    const auto start = std::chrono::steady_clock::now();
    rasterizeStroke(&s.host.in, nullptr, &stroke.stroke, nullptr, &s.out.world, &s.scratch.world, &copy);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(s.scratch.allZero());
    EXPECT_GT(s.out.p8(99, 99).alpha, 0);
}

}  // namespace
