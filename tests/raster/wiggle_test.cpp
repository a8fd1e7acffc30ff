// Wiggle: settings from the parameters, the phase, the noise table and the
// perturbation of points.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "render/noise.h"
#include "render/wiggle.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Host;

namespace {

std::vector<double> tableCopy() { return std::vector<double>(noiseTable(), noiseTable() + NOISE_TABLE_SIZE); }

TEST(WiggleSettings, FromParametersAndLayer) {
    Host host(640, 480);
    host.setWiggle(true, 30, 5, 100, 70, 50, true);
    WiggleSettings w{};
    fillWiggleSettings(&host.in, host.params(), &w);
    EXPECT_EQ(w.wiggleEnabled, 1);
    EXPECT_EQ(w.pressureAmount, 1.05f);
    EXPECT_EQ(w.displaceAmountY, static_cast<float>(5.0 / 480));
    EXPECT_EQ(w.displaceScaleY, static_cast<float>(480 * 100 * 0.001));
    EXPECT_EQ(w.displaceOn, 1);
    EXPECT_EQ(w.pressureOn, 1);
    EXPECT_EQ(w.individualSeeds, 1);

    // Non-square pixels: half the horizontal amplitude, twice the frequency.
    host.in.pixelAspect = {2, 1};
    WiggleSettings wide{};
    fillWiggleSettings(&host.in, host.params(), &wide);
    EXPECT_FLOAT_EQ(wide.displaceAmountX, w.displaceAmountX * 0.5f);
    EXPECT_FLOAT_EQ(wide.displaceScaleX, w.displaceScaleX * 2.0f);
    EXPECT_FLOAT_EQ(wide.pressureScaleX, w.pressureScaleX * 2.0f);
    EXPECT_EQ(wide.displaceScaleY, w.displaceScaleY);

    host.setWiggle(false, 30, 5, 100, 70, 50, true);
    WiggleSettings none{};
    none.wiggleEnabled = 7;
    setupWiggle(&host.in, host.params(), &none);
    EXPECT_EQ(none.wiggleEnabled, 0);
}

TEST(WiggleSettings, ZeroVariationLeavesPointsAlone) {
    Host host(640, 480);
    host.setWiggle(true, 30, 0, 100, 0, 50, true);
    WiggleSettings w{};
    setupWiggle(&host.in, host.params(), &w);
    EXPECT_EQ(w.displaceOn, 0);
    EXPECT_EQ(w.pressureOn, 0);
    setWiggleSeedOffsets(&w, 3);
    std::vector<PaintPoint> pts = {{0, 0.2f, 0.3f, 0.9f}, {1, 0.7f, 0.1f, 1.0f}};
    auto before = pts;
    perturbPoints(w, pts.data(), 2);
    for (size_t i = 0; i < pts.size(); ++i) {
        EXPECT_EQ(pts[i].x, before[i].x);
        EXPECT_EQ(pts[i].pressure, before[i].pressure);
    }
}

TEST(WigglePhase, IntegratesWigglesPerSecond) {
    Host host(100, 100);
    host.setWiggle(true, 30, 5, 100, 70, 50, true);
    host.in.timeScale = 30;
    host.in.localTimeStep = 1;
    host.in.currentTime = 45;  // 1.5 s at 30 wiggles/s
    WigglePhase ph = integrateWigglePhase(&host.in, host.params());
    EXPECT_EQ(ph.K, 45 * 30);
    EXPECT_EQ(ph.f, 0.0f);

    host.setWigglesPerSec(0.25);
    host.in.currentTime = 300;  // 10 s: 2.5 wiggles
    ph = integrateWigglePhase(&host.in, host.params());
    EXPECT_EQ(ph.K, 2 * 30);
    EXPECT_FLOAT_EQ(ph.f, 0.5f);

    // Speed changes are integrated frame by frame.
    host.setWigglesPerSec({{0, 2.0}, {14, 2.0}, {15, 4.0}});
    host.in.currentTime = 30;
    ph = integrateWigglePhase(&host.in, host.params());
    EXPECT_EQ(ph.K, 3 * 30);  // 15 x 2 + 15 x 4 = 90 frames worth = 3 wiggles
    EXPECT_EQ(ph.f, 0.0f);

    // Backward: the phase goes negative, f stays in [0, 1).
    host.setWigglesPerSec(-0.5);
    host.in.currentTime = 35;
    ph = integrateWigglePhase(&host.in, host.params());
    EXPECT_EQ(ph.K, -1 * 30);
    EXPECT_GE(ph.f, 0.0f);
    EXPECT_LT(ph.f, 1.0f);
}

TEST(WigglePhase, FrozenAtZeroWigglesPerSecond) {
    Host host(100, 100);
    host.setWiggle(true, 0, 5, 100, 70, 50, true);
    host.setWigglesPerSec(0.0);
    WiggleSettings w{};
    host.in.currentTime = 3;
    setupWiggle(&host.in, host.params(), &w);
    auto early = tableCopy();
    host.in.currentTime = 300;
    setupWiggle(&host.in, host.params(), &w);
    EXPECT_EQ(early, tableCopy());
    EXPECT_EQ(w.displaceOn, 1);  // still wiggled, just not moving
    bool anyNonZero = false;
    for (double v : early) anyNonZero = anyNonZero || v != 0.0;
    EXPECT_TRUE(anyNonZero);
}

TEST(Noise, GeneratorAndTableBounds) {
    NoiseGenerator g{0};
    const double first = drawNoise(&g);
    EXPECT_EQ(g.state, 12345u);
    EXPECT_EQ(first, ((12345u >> 16) & 0x7FFF) * 6.103515625e-5 - 1.0);

    buildNoiseTable(0, 30, 30000.0, 0.0f);
    for (double v : tableCopy()) {
        EXPECT_GE(v, -1.0);
        EXPECT_LT(v, 1.0);
    }
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> coord(-500.0, 500.0);
    for (int i = 0; i < 2000; ++i) {
        const double a = noise2(coord(rng), coord(rng));
        const double b = noiseS(coord(rng), coord(rng));
        EXPECT_LE(std::fabs(a), 1.0);
        EXPECT_LE(std::fabs(b), 1.0);
    }
    // At lattice points noiseS is the table value.
    EXPECT_EQ(noiseS(3.0, 5.0), noiseTable()[32 * ((3 ^ (5 >> 5)) & 31) + ((5 ^ (3 >> 5)) & 31)]);
}

TEST(Noise, ContinuousAcrossWholeWiggleCounts) {
    buildNoiseTable(30 * 7, 30, 30000.0, 0.99999f);
    auto before = tableCopy();
    buildNoiseTable(30 * 8, 30, 30000.0, 0.0f);
    auto after = tableCopy();
    for (int i = 0; i < NOISE_TABLE_SIZE; ++i) EXPECT_NEAR(before[i], after[i], 1e-3) << i;
    // Seeds repeat every 1000 wiggles.
    buildNoiseTable(30 * 1008, 30, 30000.0, 0.0f);
    EXPECT_EQ(after, tableCopy());
    buildNoiseTable(-30 * 992, 30, 30000.0, 0.0f);
    EXPECT_EQ(after, tableCopy());
}

TEST(Perturb, SeedsAndAmplitude) {
    Host host(640, 480);
    host.setWiggle(true, 30, 5, 100, 70, 50, false);
    WiggleSettings w{};
    host.in.currentTime = 17;
    setupWiggle(&host.in, host.params(), &w);
    std::vector<PaintPoint> base;
    for (int i = 0; i < 200; ++i) base.push_back({0, i / 200.0f, 0.3f + i / 1000.0f, 1.0f});

    // Without individual seeds, strokes with the same points wiggle alike.
    auto a = base, b = base;
    setWiggleSeedOffsets(&w, 0);
    perturbPoints(w, a.data(), 200);
    setWiggleSeedOffsets(&w, 5);
    perturbPoints(w, b.data(), 200);
    bool moved = false;
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(a[i].x, b[i].x);
        EXPECT_EQ(a[i].y, b[i].y);
        EXPECT_EQ(a[i].pressure, b[i].pressure);
        EXPECT_EQ(a[i].time, base[i].time);
        EXPECT_LE(std::fabs(a[i].x - base[i].x) * 640, 5.0f + 1e-3f);  // Dv 5: at most 5 px
        EXPECT_LE(std::fabs(a[i].y - base[i].y) * 480, 5.0f + 1e-3f);
        EXPECT_GE(a[i].pressure, 0.0f);
        EXPECT_LE(a[i].pressure, 1.0f);  // pressure never grows
        moved = moved || a[i].x != base[i].x;
    }
    EXPECT_TRUE(moved);

    // With them, stroke k samples the noise elsewhere.
    w.individualSeeds = 1;
    setWiggleSeedOffsets(&w, 2);
    EXPECT_EQ(w.seedOffsetX, static_cast<float>(2 * 7.1));
    EXPECT_EQ(w.seedOffsetY, static_cast<float>(2 * 17.3));
    a = base;
    perturbPoints(w, a.data(), 200);
    int differ = 0;
    for (int i = 0; i < 200; ++i) differ += a[i].x != b[i].x;
    EXPECT_GT(differ, 100);
}

}  // namespace
