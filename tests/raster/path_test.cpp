// A stroke's path to dabs: the B-spline resampling, the wiggle (noise
// table, seed offsets, displacement and pressure of the resampled points)
// and the walk that spaces dabs along the result, seen through a sink that
// records every dab. The resampled points and the noise values are pinned
// by the reference frames; here their counts, limits and failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "raster/point_wiggle.h"
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

// "Animate Strokes": the dabs up to the stroke's age at full alpha, the
// next one faded by how far past the age it lies, then none; an age before
// the first dab still draws that one. A dab's time follows its place along
// the path (100 px in 1 s here).
TEST(Walk, AnimateCutsOffAtTheStrokeAge) {
    TestMemory memory;
    RasterBrush base{};
    base.animate = 1;
    base.strokeAge = 0.3f;
    const auto cut = walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 10), base).dabs;
    ASSERT_GE(cut.size(), 2u);
    const Dab &last = cut.back(), &before = cut[cut.size() - 2];
    EXPECT_TRUE(before.time <= base.strokeAge && last.time > base.strokeAge);
    for (size_t i = 0; i + 1 < cut.size(); ++i) EXPECT_EQ(cut[i].alpha, 255u);
    EXPECT_EQ(last.alpha, uint32_t(255.0f * ((base.strokeAge - before.time) / (last.time - before.time))));
    for (const Dab &d : cut) EXPECT_NEAR(d.time, (d.cx - 19.5f) / 100.0f, 1e-4) << d.cx;
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

// Dabs whose box misses the scratch image are placed, counted and dropped:
// pixels and row spans come out as when every dab goes to its kernel.
TEST(Walk, DabsMissingTheImageAreOnlyPlaced) {
    struct Case { BrushSettings brush; bool deep; Rational aspect; PaintPoint from, to; uint64_t walked, handed; };
    const Case cases[] = {
        {brush(2, 3), false, {1, 1}, {0, -40, 0.5f, 1}, {1, 40, 0.5f, 1}, 1818, 27},  // far left to far right
        {brush(1, 6, 1, 0.5f, 3), true, {1, 1}, {0, -2, -0.1f, 0.2f}, {1, 3, -0.1f, 1.5f}, 121, 26},  // grazing the top
        {brush(3, 2, 1, 0.3f), false, {1, 2}, {0, -1, 0.5f, 1}, {1, 2, 0.5f, 1}, 183, 70},  // across, a dab per column
        {brush(4, 2), false, {1, 1}, {0, -1, 0.5f, 1}, {1, 2, 0.5f, 1}, 128, 0},  // no kernel
    };
    for (const Case &c : cases) {
        TestMemory memory;
        TestImage clipped(64, 48, c.deep), every(64, 48, c.deep);
        Template a(clipped), b(every);
        const LayerGeometry layer{64, 48, {1, 1}, {1, 1}, c.aspect, 3, 2};
        const PaintPoint points[] = {c.from, c.to};
        DabCounts counts, all;
        prepareRasterBrush(layer.downsampleX, c.brush, &a.brush), prepareRasterBrush(layer.downsampleX, c.brush, &b.brush);
        paintStrokePath(memory, layer, clipped.view(), points, 1, &a.brush, &a.brush.rows, &counts);
        const ImageView view = every.view();
        KernelTarget target{&b.brush, &view, &b.brush.rows};
        traceStrokePath(memory, layer, points, 1, &b.brush, DabSink{stampWithKernel, &target, nullptr, &all});
        EXPECT_TRUE(clipped.pixels() == every.pixels() && a.brush.rows.topRow == b.brush.rows.topRow &&
                    a.brush.rows.bottomRow == b.brush.rows.bottomRow);
        for (size_t y = 0; y < a.spans.size(); ++y)
            ASSERT_TRUE(a.spans[y].left == b.spans[y].left && a.spans[y].right == b.spans[y].right) << y;
        EXPECT_TRUE(counts.walked == all.walked && all.handed == all.walked) << counts.walked;
        EXPECT_TRUE(counts.walked == c.walked && counts.handed == c.handed) << counts.walked << " " << counts.handed;
    }
}

// ---- the wiggle

std::vector<double> table(int32_t K, uint32_t S, float f) {
    NoiseTable t;
    buildNoiseTable(t, WigglePhase{K, S, f});
    return std::vector<double>(t.values, t.values + NOISE_TABLE_SIZE);
}

// The table's and the lookups' values are pinned by the wiggled reference
// frames; here their range, the lattice and absurd lookups.
TEST(Noise, TableAndLookups) {
    NoiseTable t;
    buildNoiseTable(t, WigglePhase{0, 30, 0.0f});
    for (double v : t.values) ASSERT_TRUE(v >= -1.0 && v < 1.0);
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
    EXPECT_NE(after, table(30 * 108, 30, 0.0f));
}

// Points move by at most the variation in pixels, and most of them do.
TEST(Perturb, DisplacementWithinTheVariation) {
    Wiggle w({5, 100, 70, 50, false}, 640, 480);
    setWiggleSeedOffsets(&w.settings, 5);
    std::vector<PaintPoint> base, moved;
    for (int i = 0; i < 200; ++i) base.push_back({0.25f, i / 200.0f, 0.3f + i / 1000.0f, 1.0f});
    perturbPoints(w.settings, (moved = base).data(), 200);
    int count = 0;
    for (int i = 0; i < 200; ++i) {
        EXPECT_TRUE(moved[i].time == base[i].time && std::fabs(moved[i].x - base[i].x) * 640 <= 5.001f &&
                    std::fabs(moved[i].y - base[i].y) * 480 <= 5.001f) << i;
        count += moved[i].x != base[i].x;
    }
    EXPECT_GT(count, 100);
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
    auto run = [&](const WiggleSettings &wiggle, int32_t strokeIndex) {
        RasterBrush b{};
        b.wiggle = wiggle;
        b.strokeIndex = strokeIndex;
        return walk(memory, layerOf(200, 100), kLine, brush(BRUSH_KIND_SOFT, 3), b);
    };
    auto xy = [&](const WiggleSettings &wiggle, int32_t strokeIndex) {
        std::vector<float> v;
        for (const Dab &d : run(wiggle, strokeIndex).dabs) v.insert(v.end(), {d.cx, d.cy});
        return v;
    };
    Wiggle still({0, 100, 0, 50, true}, 200, 100);
    EXPECT_EQ(run(WiggleSettings{}, 0).reached, 15);
    EXPECT_EQ(run(still.settings, 0).reached, 37);
    Wiggle shared({20, 150, 70, 50, false}, 200, 100), own({20, 150, 70, 50, true}, 200, 100);
    EXPECT_EQ(xy(shared.settings, 2), xy(shared.settings, 9));
    EXPECT_NE(xy(own.settings, 2), xy(own.settings, 9));
    EXPECT_NE(xy(own.settings, 2), xy(still.settings, 2));
    EXPECT_EQ(memory.live(), 0u);
}

}  // namespace
