// A stroke's path to dabs: the B-spline resampling, the wiggle (noise
// table, seed offsets, displacement and pressure of the resampled points)
// and the walk that spaces dabs along the result, seen through a sink that
// records every dab.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "raster/wiggle.h"
#include "raster_fixture.h"

using namespace raster_test;

namespace {

void collect(void *context, const Dab &dab) { static_cast<std::vector<Dab> *>(context)->push_back(dab); }

struct Walk { std::vector<Dab> dabs; int32_t reached = 0; };

// The brush a render prepares for `b`, walked along `points`.
Walk walk(TestMemory &memory, const LayerGeometry &layer, const std::vector<PaintPoint> &points,
          const BrushSettings &b, RasterBrush brush = RasterBrush{}) {
    prepareRasterBrush(layer.downsampleX, b, &brush);
    Walk w;
    w.reached = traceStrokePath(memory, layer, points.data(), int32_t(points.size()) - 1, &brush,
                                DabSink{collect, &w.dabs});
    return w;
}

float distance(const Dab &a, const Dab &b) { return std::hypot(a.cx - b.cx, a.cy - b.cy); }

// 100 pixels across a 200 x 100 layer.
const std::vector<PaintPoint> kLine = {{0.0f, 0.1f, 0.5f, 1.0f}, {1.0f, 0.6f, 0.5f, 1.0f}};

TEST(Bspline, WeightsAndEndpoints) {
    EXPECT_FLOAT_EQ(bsplineBlend(1, 1, 1, 1, 0.3f), 1.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(0, 6, 0, 0, 0.0f), 4.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(0, 0, 0, 6, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(6, 0, 0, 0, 0.0f), 1.0f);
}

// The resampled copy of `points`; the block is given back.
std::vector<PaintPoint> resampled(TestMemory &memory, const LayerGeometry &layer, const std::vector<PaintPoint> &points,
                                  bool adaptive) {
    ResampledPoints r;
    EXPECT_TRUE(resampleStroke(memory, layer, points.data(), int32_t(points.size()) - 1, adaptive, &r));
    std::vector<PaintPoint> copy(r.points, r.points + r.count);
    memory.unlock(r.handle);
    memory.dispose(r.handle);
    return copy;
}

TEST(Resample, FixedOrAdaptiveSampleCounts) {
    TestMemory memory;
    // Five samples per span, from the first point; the last blends P1, P2,
    // P2, P2 at t = 2/3.
    const std::vector<PaintPoint> three = {{0, 0.1f, 0.2f, 1}, {1, 0.5f, 0.9f, 1}, {2, 0.7f, 0.1f, 1}};
    auto r = resampled(memory, layerOf(200, 100), three, false);
    ASSERT_EQ(r.size(), (2u + 2) * 5);
    EXPECT_TRUE(std::fabs(r[0].x - 0.1f) < 1e-6f && std::fabs(r[0].y - 0.2f) < 1e-6f);
    EXPECT_FLOAT_EQ(r[19].x, bsplineBlend(0.5f, 0.7f, 0.7f, 0.7f, 0.6666667f));
    // Adaptive: one sample per 3 pixels of a span, and one for each of the
    // three end spans; the last sits on the last point.
    std::vector<PaintPoint> close;
    for (int i = 0; i < 12; ++i) close.push_back({i * 0.1f, 0.5f + i * 0.002f, 0.5f, 1.0f});  // 2 px apart
    r = resampled(memory, layerOf(1000, 1000), close, true);
    ASSERT_EQ(r.size(), 11u + 3);
    EXPECT_NEAR(r.back().x, close.back().x, 1e-6);
    EXPECT_EQ(resampled(memory, layerOf(1000, 1000), {{0, 0.25f, 0.5f, 1}, {1, 0.28125f, 0.5f, 1}}, true).size(),
              1u + 11 + 1 + 1);  // a 31.25 px span
    EXPECT_EQ(memory.live(), 0u);
}

TEST(Resample, AbsurdInputAndMissingMemoryMakeNoBlock) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<PaintPoint> two = {{0, 0.1f, 0.5f, 1}, {1, 0.6f, 0.5f, 1}};
    const std::vector<PaintPoint> zigzag = {{0, 0, 0, 1}, {0, 1, 0, 1}, {0, 0, 0, 1}, {0, 1, 0, 1}};
    struct Case {
        const char *name; LayerGeometry layer; std::vector<PaintPoint> points; int32_t n; bool adaptive; bool noMemory;
    };
    const Case cases[] = {
        {"negative count", layerOf(200, 100), two, -1, false, false},
        {"fixed block beyond 2 GiB", layerOf(200, 100), two, 30000000, false, false},
        {"huge span", layerOf(200, 100), {{0, -3e38f, 0, 1}, {1, 3e38f, 0, 1}}, 1, true, false},
        {"NaN span", layerOf(200, 100), {{0, nan, 0, 1}, {1, 0.5f, 0, 1}}, 1, true, false},
        // Each span is below the cap, their sum is not.
        {"spans summing past the cap", layerOf(30000000, 1), zigzag, 3, true, false},
        {"no memory", layerOf(200, 100), two, 1, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestMemory memory;
        if (c.noMemory) memory.failNewHandle(1);
        ResampledPoints r{};
        EXPECT_FALSE(resampleStroke(memory, c.layer, c.points.data(), c.n, c.adaptive, &r));
        EXPECT_EQ(r.handle, nullptr);
        EXPECT_EQ(memory.newCalls(), c.noMemory ? 1 : 0);
        EXPECT_EQ(memory.live(), 0u);
    }
}

TEST(Resample, WithoutMemoryTheWalkRunsOnTheStoredPoints) {
    TestMemory memory;
    memory.failNewHandle(1);
    const Walk w = walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 10.0f));
    ASSERT_GT(w.dabs.size(), 5u);
    EXPECT_FLOAT_EQ(w.dabs[0].cx, 19.5f);
    EXPECT_EQ(w.reached, 2);  // unsmoothed: the walk reaches the second stored point
    EXPECT_NEAR(w.dabs.back().cx, 19.5f + 7.0f * float(w.dabs.size() - 1), 1e-3);
    EXPECT_EQ(memory.live(), 0u);
}

// Radius, aspect, first dab and the distance between dabs, by brush kind
// and layer geometry.
TEST(Walk, SpacingRadiusAndPlacement) {
    struct Case {
        const char *name;
        BrushSettings brush;
        bool deep;
        LayerGeometry layer;
        std::vector<float> first;  // selector, radius, aspect, x, y, alpha
        float step;
    };
    const Rational one{1, 1}, half{1, 2};
    const Case cases[] = {
        {"soft doubles the radius", brush(2, 10), false, layerOf(200, 100), {2, 20, 1, 19.5f, 49.5f, 255}, 7},
        {"16 bits", brush(2, 10), true, layerOf(200, 100), {1002, 20, 1, 19.5f, 49.5f, 32768}, 7},
        {"round spacing grows with softness", brush(1, 10, 1, 0.5f), false, layerOf(200, 100),
         {1, 10, 1, 19.5f, 49.5f, 255}, 4.75f},
        {"square spacing and the layer origin", brush(3, 4), false, {200, 100, one, one, one, 5, -3},
         {3, 4, 1, 24.5f, 46.5f, 255}, 1.1f},
        {"pixel aspect narrows dabs and spacing", brush(2, 10), false, {200, 100, one, one, {2, 1}, 0, 0},
         {2, 20, 0.5f, 19.5f, 49.5f, 255}, 4},
        {"half resolution", brush(2, 10), false, {200, 100, half, half, one, 0, 0}, {2, 10, 1, 9.5f, 24.5f, 255}, 4},
        {"vertical downsampling only", brush(2, 10), false, {200, 100, one, half, one, 0, 0},
         {2, 10, 2, 19.5f, 24.5f, 255}, 2.5f},
        {"kind without a kernel walks", brush(4, 10), false, layerOf(200, 100), {4, 10, 1, 19.5f, 49.5f, 255}, 3.5f},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestMemory memory;
        RasterBrush base{};
        base.deep = c.deep;
        const Walk w = walk(memory, c.layer, kLine, c.brush, base);
        ASSERT_GT(w.dabs.size(), 5u);
        const Dab &d = w.dabs[0];
        const float got[] = {float(d.selector), d.radius, d.aspect, d.cx, d.cy, float(d.alpha)};
        for (size_t k = 0; k < c.first.size(); ++k) EXPECT_FLOAT_EQ(got[k], c.first[k]) << k;
        for (size_t i = 1; i < w.dabs.size(); ++i) ASSERT_NEAR(distance(w.dabs[i - 1], w.dabs[i]), c.step, 2e-3) << i;
        // The smoothed path runs out short of the last point.
        EXPECT_LT(w.dabs.back().cx, 0.6f * 200 * float(toDouble(c.layer.downsampleX)) + float(c.layer.originX) - 0.5f);
        EXPECT_EQ(memory.live(), 0u);
    }
}

TEST(Walk, PressureScalesSizeAndClampedOpacity) {
    struct Case { float pressure; uint32_t flags; bool deep; uint32_t alpha; float radius; };
    const Case cases[] = {
        {1.5f, PRESSURE_SCALES_SIZE | PRESSURE_SCALES_OPACITY, false, 255, 30},  // opacity clamped at 1
        {0.0f, PRESSURE_SCALES_OPACITY, false, 0, 20},
        {-1.0f, PRESSURE_SCALES_OPACITY, false, 0, 20},
        {0.5f, PRESSURE_SCALES_OPACITY, false, 127, 20},  // size untouched without its flag
        {0.5f, PRESSURE_SCALES_SIZE | PRESSURE_SCALES_OPACITY, true, 16384, 10},
        {0.5f, 0, false, 255, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(::testing::Message() << c.pressure << " flags " << c.flags << " deep " << c.deep);
        TestMemory memory;
        RasterBrush base{};
        base.deep = c.deep;
        const Walk w = walk(memory, layerOf(200, 100), {{0, 0.1f, 0.5f, c.pressure}, {1, 0.6f, 0.5f, c.pressure}},
                            brush(2, 10, 1, 0, c.flags), base);
        ASSERT_FALSE(w.dabs.empty());
        for (const Dab &d : w.dabs)
            ASSERT_TRUE(d.alpha == c.alpha && std::fabs(d.radius - c.radius) < 1e-5f) << d.alpha << " " << d.radius;
    }
    // A negative size makes steps that go nowhere: the walk ends at once.
    TestMemory memory;
    const std::vector<PaintPoint> negative = {{0, 0.1f, 0.5f, -40}, {1, 0.9f, 0.5f, -40}};
    EXPECT_EQ(walk(memory, layerOf(200, 100), negative, brush(2, 5, 1, 0, 1)).dabs.size(), 1u);
    // The pressure is smoothed and interpolated with the path: from 0.2 to 1
    // over the 100 pixels here.
    const Walk w = walk(memory, layerOf(200, 100), {{0, 0.1f, 0.5f, 0.2f}, kLine[1]}, brush(2, 10, 1, 0, 1));
    for (const Dab &d : w.dabs) EXPECT_NEAR(d.radius, 20 * (0.2f + 0.8f * (d.cx - 19.5f) / 100), 1e-3) << d.cx;
}

TEST(Walk, AnimateCutsOffAtTheStrokeAge) {
    TestMemory memory;
    RasterBrush base{};
    base.animate = 1;
    base.strokeAge = 0.3f;
    const auto cut = walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 10), base).dabs;
    const auto all = walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 10)).dabs;
    ASSERT_GT(all.size(), cut.size());
    // A dab's time follows its place along the path (100 px in 1 s here).
    for (const Dab &d : all) EXPECT_NEAR(d.time, (d.cx - 19.5f) / 100.0f, 1e-4) << d.cx;
    ASSERT_GE(cut.size(), 2u);
    const Dab &last = cut.back(), &before = cut[cut.size() - 2];
    EXPECT_GT(last.time, base.strokeAge);
    EXPECT_LE(before.time, base.strokeAge);
    for (size_t i = 0; i + 1 < cut.size(); ++i) EXPECT_EQ(cut[i].alpha, 255u);
    // The dab past the age is faded by how far past it lies.
    const float f = (base.strokeAge - before.time) / (last.time - before.time);
    EXPECT_EQ(last.alpha, static_cast<uint32_t>(255.0f * f));

    // An age before the first dab still draws the first dab only.
    base.strokeAge = -1.0f;
    EXPECT_EQ(walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 10), base).dabs.size(), 1u);
}

TEST(Walk, SinglePointGivesOneDabAndNoPointsNone) {
    const LayerGeometry layer = layerOf(200, 100);
    RasterBrush b{};
    prepareRasterBrush(layer.downsampleX, brush(BRUSH_KIND_ROUND, 3, 1, 0, PRESSURE_SCALES_OPACITY), &b);
    const PaintPoint one{0, 0.5f, 0.5f, 0.5f};
    std::vector<Dab> dabs;
    EXPECT_EQ(traceDabs(layer, &one, 0, &b, DabSink{collect, &dabs}), 1);
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_FLOAT_EQ(dabs[0].cx, 99.5f);
    EXPECT_EQ(dabs[0].alpha, 127u);
    // Repeated samples count as a tenth of a pixel apart (the first two as
    // a hundredth): 41 of them with dabs a pixel apart give 4 dabs.
    const std::vector<PaintPoint> same(41, one);
    RasterBrush dot{};
    prepareRasterBrush(layer.downsampleX, brush(BRUSH_KIND_SOFT, 0), &dot);
    EXPECT_EQ(traceDabs(layer, same.data(), 40, &dot, DabSink{collect, &dabs}), 41);
    EXPECT_EQ(dabs.size(), 1u + 4);
    dabs.resize(1);
    EXPECT_EQ(traceDabs(layer, &one, -1, &b, DabSink{collect, &dabs}), 0);
    EXPECT_EQ(traceDabs(layer, nullptr, 3, &b, DabSink{collect, &dabs}), 0);
    EXPECT_EQ(dabs.size(), 1u);
}

TEST(Walk, StopsAtTheDabCap) {
    // 1000 segments of 100 000 pixels with dabs a pixel apart.
    std::vector<PaintPoint> zigzag;
    for (int i = 0; i <= 1000; ++i) zigzag.push_back({0, float(i % 2), 0.5f, 1});
    const LayerGeometry layer = layerOf(100000, 10);
    RasterBrush b{};
    prepareRasterBrush(layer.downsampleX, brush(BRUSH_KIND_SOFT, 0), &b);
    uint64_t count = 0;
    traceDabs(layer, zigzag.data(), 1000, &b,
              DabSink{[](void *c, const Dab &) { ++*static_cast<uint64_t *>(c); }, &count});
    EXPECT_EQ(count, MAX_DABS_PER_WALK);
}

// ---- the wiggle

std::vector<double> table(int32_t K, uint32_t S, float f) {
    NoiseTable t;
    buildNoiseTable(t, K, S, 1000.0 * S, f);
    return std::vector<double>(t.values, t.values + NOISE_TABLE_SIZE);
}

TEST(Noise, GeneratorTableAndLookups) {
    NoiseGenerator g{0};
    const double first = drawNoise(&g);
    EXPECT_EQ(g.state, 12345u);
    EXPECT_EQ(first, ((12345u >> 16) & 0x7FFF) * 6.103515625e-5 - 1.0);

    NoiseTable t;
    buildNoiseTable(t, 0, 30, 30000.0, 0.0f);
    for (double v : t.values) ASSERT_TRUE(v >= -1.0 && v < 1.0);
    // Table and lookup values, as every wiggled frame so far has been drawn with.
    EXPECT_EQ(t.values[0], 0x1.a6d1704cfd071p-3);
    EXPECT_EQ(t.values[1023], -0x1.8b2c9bea8e006p-2);
    EXPECT_EQ(table(-7 * 24, 24, 0.375f)[517], -0x1.9dd212f08a2d6p-2);
    EXPECT_EQ(noise2(t, 3.7, -12.25), -0x1.6073183611897p-4);
    EXPECT_EQ(noise2(t, -40.5, 77.125), -0x1.2fbc42235f245p-2);
    EXPECT_EQ(noiseS(t, 3.7, -12.25), -0x1.1a6a4251e127cp-3);
    // At lattice points the smooth noise is the table value.
    EXPECT_EQ(noiseS(t, 3.0, 5.0), t.values[32 * ((3 ^ (5 >> 5)) & 31) + ((5 ^ (3 >> 5)) & 31)]);
    // Lattice coordinates of absurd lookups saturate instead of overflowing.
    (void)noise2(t, 1.0e300, -1.0e300);
    (void)noiseS(t, std::nan(""), -1.0e300);
}

TEST(Noise, ContinuousAcrossWholeCountsAndRepeatingEvery1000) {
    const auto before = table(30 * 7, 30, 0.99999f), after = table(30 * 8, 30, 0.0f);
    for (int i = 0; i < NOISE_TABLE_SIZE; ++i) ASSERT_NEAR(before[i], after[i], 1e-3) << i;
    EXPECT_EQ(after, table(30 * 1008, 30, 0.0f));
    EXPECT_EQ(after, table(-30 * 992, 30, 0.0f));
    EXPECT_NE(after, table(30 * 9, 30, 0.0f));
}

TEST(Perturb, SeedOffsetsAmplitudeAndPressure) {
    Wiggle w({5, 100, 70, 50, false}, 640, 480);
    std::vector<PaintPoint> base;
    for (int i = 0; i < 200; ++i) base.push_back({0.25f, i / 200.0f, 0.3f + i / 1000.0f, 1.0f});

    // Without individual seeds every stroke samples the noise at one place.
    setWiggleSeedOffsets(&w.settings, 5);
    EXPECT_TRUE(w.settings.seedOffsetX == 67.9f && w.settings.seedOffsetY == 17.3f);
    auto a = base;
    perturbPoints(w.settings, a.data(), 200);
    // Moved by at most the variation in pixels; the pressure never grows.
    int moved = 0;
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(a[i].time == base[i].time && std::fabs(a[i].x - base[i].x) * 640 <= 5.001f &&
                    std::fabs(a[i].y - base[i].y) * 480 <= 5.001f && a[i].pressure >= 0 && a[i].pressure <= 1)
            << i;
        moved += a[i].x != base[i].x;
    }
    EXPECT_GT(moved, 100);
    // One point as every wiggled frame so far has moved and lightened it.
    EXPECT_EQ((std::vector<float>{a[100].x, a[100].y, a[100].pressure}),
              (std::vector<float>{0x1.011b7ep-1f, 0x1.95a7b6p-2f, 0x1.0c88dp-1f}));

    // With them, stroke k samples it k steps away.
    w.settings.individualSeeds = 1;
    setWiggleSeedOffsets(&w.settings, 2);
    EXPECT_TRUE(w.settings.seedOffsetX == float(2 * 7.1) && w.settings.seedOffsetY == float(2 * 17.3));
    auto b = base;
    perturbPoints(w.settings, b.data(), 200);
    int differ = 0;
    for (int i = 0; i < 200; ++i) differ += a[i].x != b[i].x;
    EXPECT_GT(differ, 100);
}

TEST(Perturb, NothingMovesWithoutVariationNoiseOrWiggle) {
    const std::vector<PaintPoint> base = {{0, 0.2f, 0.3f, 0.9f}, {1, 0.7f, 0.1f, 1.0f}};
    Wiggle still({0, 100, 0, 50, true}, 640, 480);
    EXPECT_EQ(still.settings.displaceOn + still.settings.pressureOn, 0);
    Wiggle noNoise({5, 100, 70, 50, true}, 640, 480), off({5, 100, 70, 50, true}, 640, 480);
    noNoise.settings.noise = nullptr;
    off.settings.wiggleEnabled = 0;
    for (Wiggle *w : {&still, &noNoise, &off}) {
        setWiggleSeedOffsets(&w->settings, 3);
        auto pts = base;
        perturbPoints(w->settings, pts.data(), 2);
        EXPECT_EQ(0, std::memcmp(pts.data(), base.data(), sizeof(PaintPoint) * 2));
    }
}

// The pressure lookup's horizontal coordinate is rounded to float and only
// then moved by the 173-cell offset, in double. Adding the offset in float
// instead loses up to half a float step near 240 cells, which shifted the
// pressure of wiggled strokes enough to move their edges by a level or more
// in 16-bit frames (non-square pixels and individual seeds made it show most).
TEST(Perturb, PressureOffsetIsAddedInDoubleAfterRounding) {
    Wiggle w({5, 100, 100, 10, true}, 160, 120, {4, 3}, 0);
    ASSERT_EQ(w.settings.pressureOn, 1);
    setWiggleSeedOffsets(&w.settings, 3);
    auto factor = [&](double noise) {
        return std::max(0.0f, float(1.0 - double(std::fabs(float(noise)) * w.settings.pressureAmount)));
    };
    std::vector<PaintPoint> pts;
    for (int i = 0; i < 64; ++i) pts.push_back({0.0f, 0.05f + 0.9f * float(i) / 63.0f, 0.37f, 1.0f});
    const auto before = pts;
    perturbPoints(w.settings, pts.data(), int32_t(pts.size()));
    int floatSumDiffers = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        const float u = (before[i].x - 0.5f) * w.settings.pressureScaleX + w.settings.seedOffsetX;
        const float v = (before[i].y - 0.5f) * w.settings.pressureScaleY + w.settings.seedOffsetY;
        const float expected = factor(noiseS(w.noise, static_cast<double>(u) + 173.0, v));
        EXPECT_EQ(pts[i].pressure, expected) << "point " << i;
        floatSumDiffers += factor(noiseS(w.noise, u + 173.0f, v)) != expected;
    }
    // The two ways of adding the offset disagree on these points, so the
    // check above tells them apart.
    EXPECT_GT(floatSumDiffers, 0);
}

// Pressure is lowered at most to zero, and absurd layers and settings stay
// defined and never raise it.
TEST(Perturb, PressureStaysWithinZeroAndItsOwn) {
    Wiggle strong({0, 100, 3.0e4, 50, true}, 640, 480), absurd({3.0e4, 1000, -3.0e4, 1000, true}, 0, -3, {0, 0});
    for (Wiggle *w : {&strong, &absurd}) {
        std::vector<PaintPoint> pts = {{0, 0.5f, 0.5f, 1.0f}, {0, 0.3f, 0.7f, 2.0f}, {0, 1.0e30f, -1.0e30f, 2.0f}};
        setWiggleSeedOffsets(&w->settings, INT32_MAX);
        perturbPoints(w->settings, pts.data(), 3);
        for (const PaintPoint &p : pts) EXPECT_TRUE(p.pressure >= 0.0f && p.pressure <= 2.0f) << p.pressure;
        EXPECT_LE(pts[0].pressure, 1.0f);
    }
}

// A wiggled stroke is resampled by its length (here 37 samples for 100
// pixels instead of the fixed 15), and with individual seeds its place in
// the stroke table moves the noise.
TEST(WiggledWalk, AdaptiveSamplesAndSeedsByStrokeIndex) {
    TestMemory memory;
    const LayerGeometry layer = layerOf(200, 100);
    const std::vector<PaintPoint> line = {{0.0f, 0.1f, 0.5f, 1.0f}, {1.0f, 0.6f, 0.5f, 1.0f}};
    auto dabs = [&](const WiggleSettings &wiggle, int32_t strokeIndex, int32_t *reached = nullptr) {
        RasterBrush b{};
        b.wiggle = wiggle;
        b.strokeIndex = strokeIndex;
        prepareRasterBrush(layer.downsampleX, brush(BRUSH_KIND_SOFT, 3), &b);
        std::vector<float> xy;
        const int32_t r = traceStrokePath(memory, layer, line.data(), 1, &b, DabSink{[](void *c, const Dab &d) {
            static_cast<std::vector<float> *>(c)->insert(static_cast<std::vector<float> *>(c)->end(), {d.cx, d.cy});
        }, &xy});
        if (reached) *reached = r;
        return xy;
    };
    int32_t reached = 0;
    dabs(WiggleSettings{}, 0, &reached);
    EXPECT_EQ(reached, 15);
    Wiggle still({0, 100, 0, 50, true}, 200, 100);
    dabs(still.settings, 0, &reached);
    EXPECT_EQ(reached, 37);

    Wiggle shared({20, 150, 70, 50, false}, 200, 100), own({20, 150, 70, 50, true}, 200, 100);
    EXPECT_EQ(dabs(shared.settings, 2), dabs(shared.settings, 9));
    EXPECT_NE(dabs(own.settings, 2), dabs(own.settings, 9));
    EXPECT_NE(dabs(own.settings, 2), dabs(still.settings, 2));
    EXPECT_EQ(memory.live(), 0u);
}

}  // namespace
