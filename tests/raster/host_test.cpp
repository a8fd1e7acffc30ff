// The rasterizer and wiggle set-up on the stand-in host: handle discipline
// under relocation, the parameter timeline of "Wiggles/sec", and host
// failures on the way.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "minihost/minihost.h"
#include "params/param_ids.h"
#include "raster/rasterize.h"
#include "raster_support.h"
#include "render/noise.h"
#include "render/wiggle.h"

using namespace pennaro;

namespace {

using HostRig = raster_test::Host;

// One stroke painted through the driver; returns the output's pixels.
struct Painter {
    HostRig &rig;
    minihost::Image scratch, out;
    std::vector<RowSpan> spans;
    RasterBrush tmpl{};

    Painter(HostRig &r, bool deep) : rig(r), scratch(120, 80, deep, 12), out(120, 80, deep, 12) {
        spans.resize(80);
        tmpl.deep = deep;
        tmpl.rows = PaintedRows{80, 79, 0, spans.data()};
    }

    std::vector<uint8_t> paint(uint32_t mode, int32_t strokeIndex) {
        const std::vector<PaintPoint> pts = {
            {0.0f, 0.1f, 0.2f, 1.0f}, {0.1f, 0.4f, 0.6f, 0.7f}, {0.2f, 0.8f, 0.4f, 1.2f}, {0.3f, 0.85f, 0.9f, 1.0f}};
        PaintStroke stroke{};
        stroke.brush = BrushSettings{0.2f, 0.6f, 0.9f, 0.75f, 6.0f, mode, 0.5f, 3};
        stroke.pointCount = 4;
        stroke.points = minihost::newHandle(sizeof(PaintPoint) * 4);
        std::memcpy(minihost::lockHandle(stroke.points), pts.data(), sizeof(PaintPoint) * 4);
        minihost::unlockHandle(stroke.points);
        RasterBrush copy = tmpl;
        copy.strokeIndex = strokeIndex;
        rasterizeStroke(&rig.mh.in, &rig.mh.out, &stroke, nullptr, &out.world(), &scratch.world(), &copy);
        EXPECT_EQ(minihost::handleInfo(stroke.points).lockCount, 0);
        minihost::disposeHandle(stroke.points);
        EXPECT_TRUE(scratch.paddingIntact());
        EXPECT_TRUE(out.paddingIntact());
        return out.packedPixels();
    }
};

TEST(RasterOnHost, StrictRelocatingHandlesChangeNothing) {
    for (bool deep : {false, true}) {
        HostRig rig(120, 80);
        Painter relaxed(rig, deep), strict(rig, deep);
        setupWiggle(&rig.mh.in, rig.mh.params(), &relaxed.tmpl.wiggle);
        strict.tmpl.wiggle = relaxed.tmpl.wiggle;
        const minihost::HandleStats before = minihost::handleStats();
        for (uint32_t mode : {1u, 2u, 3u, 10u}) {
            minihost::setStrictHandles(false);
            auto a = relaxed.paint(mode, 3);
            minihost::setStrictHandles(true);
            auto b = strict.paint(mode, 3);
            minihost::setStrictHandles(false);
            EXPECT_EQ(a, b) << mode;
        }
        const minihost::HandleStats after = minihost::handleStats();
        EXPECT_EQ(after.live, before.live);
        EXPECT_EQ(after.locked, before.locked);
        EXPECT_GT(after.allocations, before.allocations + 8);  // resampled blocks were made
    }
}

TEST(RasterOnHost, NoMemoryForResamplingStillDraws) {
    HostRig rig(120, 80);
    Painter p(rig, false);
    const uint64_t live = minihost::handleStats().live;
    rig.mh.faults.newHandle.arm(2);  // the stroke's own block first, then the resampled one
    auto pixels = p.paint(BRUSH_KIND_SOFT, 0);
    bool painted = false;
    for (size_t i = 0; i < pixels.size(); i += 4) painted = painted || pixels[i] != 0;
    EXPECT_TRUE(painted);
    EXPECT_EQ(minihost::handleStats().live, live);
}

TEST(RasterOnHost, NoPixelAddressLeavesTheOutput) {
    HostRig rig(120, 80);
    Painter p(rig, false);
    const auto before = p.out.packedPixels();
    rig.mh.faults.pixelAddress.arm(1, 0, true);
    EXPECT_EQ(p.paint(BRUSH_KIND_SQUARE, 0), before);
}

TEST(WiggleOnHost, ChecksOutEveryFrameFromZero) {
    HostRig rig(120, 80);
    rig.setWiggle(true, 30, 5, 100, 70, 50, true);
    rig.mh.setTime(7 * 100 + 40, 100, 2400);  // 7 whole frames and a part
    rig.mh.setKeyframes(PARAM_WIGGLES_PER_SEC, {{0, 24.0}, {300, 24.0}, {301, 48.0}});
    const size_t logged = rig.mh.checkouts().size();
    WiggleSettings w{};
    setupWiggle(&rig.mh.in, rig.mh.params(), &w);
    EXPECT_EQ(w.wiggleEnabled, 1);
    std::vector<int32_t> times;
    for (size_t i = logged; i < rig.mh.checkouts().size(); ++i) {
        const minihost::CheckoutRecord &c = rig.mh.checkouts()[i];
        if (c.index != PARAM_WIGGLES_PER_SEC) continue;
        EXPECT_EQ(c.timeStep, 0);
        EXPECT_EQ(c.timeScale, 2400u);
        times.push_back(c.time);
    }
    EXPECT_EQ(times, (std::vector<int32_t>{0, 100, 200, 300, 400, 500, 600, 700}));
    // Frames 0..3 at 24, 4..6 at 48, and 0.4 of frame 7 at 48:
    // (4 x 24 + 3 x 48 + 0.4 x 48) x 100 / 2400 = 10.8 wiggles.
    const WigglePhase phase = integrateWigglePhase(&rig.mh.in, rig.mh.params());
    EXPECT_EQ(phase.K, 10 * 2400);
    EXPECT_NEAR(phase.f, 0.8f, 1e-4f);
}

TEST(WiggleOnHost, FailedCheckoutUsesTheCurrentValue) {
    HostRig rig(120, 80);
    rig.mh.setTime(500, 100, 2400);
    rig.mh.setParam(PARAM_WIGGLES_PER_SEC, 12.0);
    const WigglePhase good = integrateWigglePhase(&rig.mh.in, rig.mh.params());
    rig.mh.faults.checkoutIndex = PARAM_WIGGLES_PER_SEC;
    rig.mh.faults.checkout.arm(1, 1, true);
    const WigglePhase failed = integrateWigglePhase(&rig.mh.in, rig.mh.params());
    EXPECT_EQ(good.K, failed.K);
    EXPECT_EQ(good.f, failed.f);
    EXPECT_EQ(good.K, 2400 * 2);  // 5 frames at 12/s and 24 fps: 2.5 wiggles
    EXPECT_FLOAT_EQ(good.f, 0.5f);
}

}  // namespace
