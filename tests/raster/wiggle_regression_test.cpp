// Wiggle pressure lookup: the horizontal coordinate is rounded to float and
// only then moved by the 173-cell offset, in double. Adding the offset in
// float instead loses up to half a float step near 240 cells, which shifted
// the pressure of wiggled strokes enough to move their edges by a level or
// more in 16-bit frames (non-square pixels and individual seeds made it
// show most).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "render/noise.h"
#include "render/wiggle.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Host;

namespace {

// The pressure factor for a noise value, as the perturbation applies it.
float pressureFactor(double noise, float amount) {
    const float n = static_cast<float>(noise);
    const float g = static_cast<float>(1.0 - static_cast<double>(std::fabs(n) * amount));
    return std::max(0.0f, g);
}

TEST(WigglePressure, OffsetLookupIsAddedInDoubleAfterRounding) {
    Host host(160, 120);
    host.in.pixelAspect = {4, 3};
    host.setWiggle(true, 0, 5, 100, 100, 10, true);
    WiggleSettings w{};
    setupWiggle(&host.in, host.params(), &w);
    ASSERT_EQ(w.pressureOn, 1);
    setWiggleSeedOffsets(&w, 3);

    std::vector<PaintPoint> pts;
    for (int i = 0; i < 64; ++i)
        pts.push_back(PaintPoint{0.0f, 0.05f + 0.9f * static_cast<float>(i) / 63.0f, 0.37f, 1.0f});
    const auto before = pts;
    perturbPoints(w, pts.data(), static_cast<int32_t>(pts.size()));

    int floatSumDiffers = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        const float xm = before[i].x - 0.5f;
        const float ym = before[i].y - 0.5f;
        const float u = xm * w.pressureScaleX + w.seedOffsetX;
        const float v = ym * w.pressureScaleY + w.seedOffsetY;
        const float expected = pressureFactor(noiseS(static_cast<double>(u) + 173.0, v), w.pressureAmount);
        EXPECT_EQ(pts[i].pressure, expected) << "point " << i;
        if (pressureFactor(noiseS(u + 173.0f, v), w.pressureAmount) != expected) ++floatSumDiffers;
    }
    // The two ways of adding the offset really do disagree on these points,
    // so the check above tells them apart.
    EXPECT_GT(floatSumDiffers, 0);
}

}  // namespace
