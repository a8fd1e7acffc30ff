// Stroke path to dabs: resampling, spacing, pressure, aspect, downsampling,
// the animate cut-off.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Host;

namespace {

void collect(void *context, const Dab &dab) { static_cast<std::vector<Dab> *>(context)->push_back(dab); }

// The brush a render would prepare for `stroke`, then its dabs.
std::vector<Dab> dabsOf(Host &host, const std::vector<PaintPoint> &points, const BrushSettings &b,
                        RasterBrush base = RasterBrush{}, int32_t *reached = nullptr) {
    PaintStroke stroke{};
    stroke.brush = b;
    RasterBrush brush = base;
    prepareRasterBrush(&host.in, &stroke, &brush);
    std::vector<Dab> dabs;
    const int32_t r = traceStrokePath(&host.in, points.data(), static_cast<int32_t>(points.size()) - 1, &brush,
                                      DabSink{collect, &dabs});
    if (reached) *reached = r;
    return dabs;
}

float distance(const Dab &a, const Dab &b) { return std::hypot(a.cx - b.cx, a.cy - b.cy); }

const std::vector<PaintPoint> kLine = {{0.0f, 0.1f, 0.5f, 1.0f}, {1.0f, 0.6f, 0.5f, 1.0f}};  // 100 px at 200 wide

TEST(Bspline, WeightsAndEndpoints) {
    EXPECT_FLOAT_EQ(bsplineBlend(1, 1, 1, 1, 0.3f), 1.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(0, 6, 0, 0, 0.0f), 4.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(0, 0, 0, 6, 1.0f), 1.0f);
    EXPECT_FLOAT_EQ(bsplineBlend(6, 0, 0, 0, 0.0f), 1.0f);
}

TEST(Resample, FixedGivesFivePerSpanStartingOnTheFirstPoint) {
    Host host(200, 100);
    ResampledPoints r;
    const std::vector<PaintPoint> pts = {{0, 0.1f, 0.2f, 1}, {1, 0.5f, 0.9f, 1}, {2, 0.7f, 0.1f, 1}};
    ASSERT_TRUE(resampleStroke(&host.in, pts.data(), 2, false, &r));
    EXPECT_EQ(r.count, (2 + 2) * 5);
    EXPECT_NEAR(r.points[0].x, 0.1f, 1e-6);
    EXPECT_NEAR(r.points[0].y, 0.2f, 1e-6);
    // The last sample blends P1, P2, P2, P2 at t = 2/3.
    EXPECT_FLOAT_EQ(r.points[19].x, bsplineBlend(0.5f, 0.7f, 0.7f, 0.7f, 0.6666667f));
    host.utils.unlockHandle(r.handle);
    host.utils.disposeHandle(r.handle);
}

TEST(Resample, AdaptiveShortSpansGiveOnePointEach) {
    Host host(1000, 1000);
    std::vector<PaintPoint> pts;
    for (int i = 0; i < 12; ++i) pts.push_back({i * 0.1f, 0.5f + i * 0.002f, 0.5f, 1.0f});  // 2 px apart
    ResampledPoints r;
    ASSERT_TRUE(resampleStroke(&host.in, pts.data(), 11, true, &r));
    EXPECT_EQ(r.count, 11 + 3);
    EXPECT_NEAR(r.points[r.count - 1].x, pts.back().x, 1e-6);  // last span sits on the last point
    host.utils.unlockHandle(r.handle);
    host.utils.disposeHandle(r.handle);

    // A 31.25 px span: k = 11 samples; the three end spans one each.
    std::vector<PaintPoint> far = {{0, 0.25f, 0.5f, 1}, {1, 0.28125f, 0.5f, 1}};
    ASSERT_TRUE(resampleStroke(&host.in, far.data(), 1, true, &r));
    EXPECT_EQ(r.count, 1 + 11 + 1 + 1);
    host.utils.unlockHandle(r.handle);
    host.utils.disposeHandle(r.handle);
}

TEST(Resample, FailureFallsBackToTheStoredPoints) {
    Host host(200, 100);
    host.failNextHandle();
    int32_t reached = 0;
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f), RasterBrush{}, &reached);
    ASSERT_FALSE(dabs.empty());
    EXPECT_FLOAT_EQ(dabs[0].cx, 19.5f);
    // Unsmoothed: the walk reaches the second stored point.
    EXPECT_EQ(reached, 2);
    EXPECT_NEAR(dabs.back().cx, 19.5f + 7.0f * (dabs.size() - 1), 1e-3);
    EXPECT_EQ(host.newLiveHandles(), 0);
}

TEST(Walk, SoftSpacingIsSevenPixels) {
    Host host(200, 100);
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f));
    ASSERT_GT(dabs.size(), 5u);
    EXPECT_FLOAT_EQ(dabs[0].radius, 20.0f);
    EXPECT_FLOAT_EQ(dabs[0].cx, 19.5f);  // first point, minus half a pixel
    EXPECT_FLOAT_EQ(dabs[0].cy, 49.5f);
    for (size_t i = 1; i < dabs.size(); ++i) EXPECT_NEAR(distance(dabs[i - 1], dabs[i]), 7.0f, 2e-3) << i;
    // The smoothed path ends short of the second point.
    EXPECT_LT(dabs.back().cx, 119.5f);
    EXPECT_EQ(host.newLiveHandles(), 0);
}

TEST(Walk, RoundSpacingGrowsWithSoftness) {
    Host host(200, 100);
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_ROUND, 10.0f, 1.0f, 0.5f));
    ASSERT_GT(dabs.size(), 5u);
    EXPECT_FLOAT_EQ(dabs[0].radius, 10.0f);
    for (size_t i = 1; i < dabs.size(); ++i) EXPECT_NEAR(distance(dabs[i - 1], dabs[i]), 4.75f, 2e-3) << i;
}

TEST(Walk, PixelAspectNarrowsDabsAndSpacing) {
    Host host(200, 100);
    host.in.pixelAspect = {2, 1};
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f));
    ASSERT_GT(dabs.size(), 5u);
    EXPECT_FLOAT_EQ(dabs[0].aspect, 0.5f);
    EXPECT_FLOAT_EQ(dabs[0].radius, 20.0f);
    EXPECT_NEAR(distance(dabs[0], dabs[1]), 20.0f * 0.15f + 1.0f, 2e-3);
}

TEST(Walk, HalfResolutionHalvesAllButTheFixedPixel) {
    Host host(200, 100);
    host.in.downsampleX = {1, 2};
    host.in.downsampleY = {1, 2};
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f));
    ASSERT_GT(dabs.size(), 5u);
    EXPECT_FLOAT_EQ(dabs[0].radius, 10.0f);
    EXPECT_FLOAT_EQ(dabs[0].cx, 9.5f);
    EXPECT_FLOAT_EQ(dabs[0].cy, 24.5f);
    EXPECT_NEAR(distance(dabs[0], dabs[1]), 4.0f, 2e-3);
}

TEST(Walk, LayerOriginShiftsEveryDab) {
    Host host(200, 100);
    host.in.originX = 5;
    host.in.originY = -3;
    auto dabs = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SQUARE, 4.0f));
    ASSERT_FALSE(dabs.empty());
    EXPECT_FLOAT_EQ(dabs[0].cx, 24.5f);
    EXPECT_FLOAT_EQ(dabs[0].cy, 46.5f);
    EXPECT_FLOAT_EQ(dabs[0].radius, 4.0f);  // softness 0: (0 x 0.5 + 1) x R
}

TEST(Walk, PressureScalesSizeAndClampsOpacity) {
    Host host(200, 100);
    std::vector<PaintPoint> pts = kLine;
    pts[0].pressure = pts[1].pressure = 1.5f;
    auto dabs = dabsOf(host, pts, raster_test::brush(BRUSH_KIND_SOFT, 10.0f, 1.0f, 0.0f, 3));
    ASSERT_FALSE(dabs.empty());
    EXPECT_EQ(dabs[0].alpha, 255u);
    EXPECT_FLOAT_EQ(dabs[0].radius, 30.0f);

    pts[0].pressure = pts[1].pressure = 0.0f;
    dabs = dabsOf(host, pts, raster_test::brush(BRUSH_KIND_SOFT, 10.0f, 1.0f, 0.0f, 2));
    for (const Dab &d : dabs) EXPECT_EQ(d.alpha, 0u);

    pts[0].pressure = pts[1].pressure = 0.5f;
    dabs = dabsOf(host, pts, raster_test::brush(BRUSH_KIND_SOFT, 10.0f, 1.0f, 0.0f, 2));
    EXPECT_EQ(dabs[0].alpha, 127u);
    EXPECT_FLOAT_EQ(dabs[0].radius, 20.0f);  // size untouched without bit 0
}

TEST(Walk, AnimateCutsOffAtTheStrokeAge) {
    Host host(200, 100);
    RasterBrush base{};
    base.animate = 1;
    base.strokeAge = 0.3f;
    auto all = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f));
    auto cut = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f), base);
    ASSERT_GT(all.size(), cut.size());
    ASSERT_GE(cut.size(), 2u);
    const Dab &last = cut.back();
    const Dab &before = cut[cut.size() - 2];
    EXPECT_GT(last.time, base.strokeAge);
    EXPECT_LE(before.time, base.strokeAge);
    for (size_t i = 0; i + 1 < cut.size(); ++i) EXPECT_EQ(cut[i].alpha, 255u);
    const float f = (base.strokeAge - before.time) / (last.time - before.time);
    EXPECT_EQ(last.alpha, static_cast<uint32_t>(static_cast<float>(255) * f));

    // An age before the first dab still draws the first dab only.
    base.strokeAge = -1.0f;
    cut = dabsOf(host, kLine, raster_test::brush(BRUSH_KIND_SOFT, 10.0f), base);
    EXPECT_EQ(cut.size(), 1u);
}

TEST(Walk, UnknownKindWalksWithoutPainting) {
    Host host(200, 100);
    auto dabs = dabsOf(host, kLine, raster_test::brush(4, 10.0f));
    EXPECT_GT(dabs.size(), 5u);
    EXPECT_EQ(dabs[0].selector, 4);
}

TEST(Walk, SinglePointGivesOneDab) {
    Host host(200, 100);
    host.failNextHandle();  // no resampling: the walk sees one point
    int32_t reached = 0;
    auto dabs = dabsOf(host, {{0, 0.5f, 0.5f, 1.0f}}, raster_test::brush(BRUSH_KIND_ROUND, 3.0f), RasterBrush{},
                       &reached);
    ASSERT_EQ(dabs.size(), 1u);
    EXPECT_EQ(reached, 1);
    EXPECT_FLOAT_EQ(dabs[0].cx, 99.5f);
}

}  // namespace
