#include "raster/point_wiggle.h"

#include <algorithm>
#include <cmath>

#include "raster/noise.h"

namespace pennaro {

void setWiggleSeedOffsets(WiggleSettings *settings, int32_t strokeIndex) {
    if (settings->individualSeeds) {
        settings->seedOffsetX = static_cast<float>(static_cast<double>(strokeIndex) * 7.1);
        settings->seedOffsetY = static_cast<float>(static_cast<double>(strokeIndex) * 17.3);
    } else {
        settings->seedOffsetX = 67.9f;
        settings->seedOffsetY = 17.3f;
    }
}

void perturbPoints(const WiggleSettings &s, PaintPoint *points, int32_t count) {
    if (!s.wiggleEnabled || !s.noise) return;
    const NoiseTable &noise = *s.noise;
    for (int32_t i = 0; i < count; ++i) {
        PaintPoint &p = points[i];
        const float xm = p.x - 0.5f;
        const float ym = p.y - 0.5f;
        if (s.displaceOn) {
            const float a = ym * s.displaceScaleY + s.seedOffsetY;
            const float b = xm * s.displaceScaleX + s.seedOffsetX;
            double n[2];
            noise2Pair(noise, b, a, a + 177.0f, n);
            p.x = static_cast<float>(n[0] * static_cast<double>(s.displaceAmountX) + static_cast<double>(p.x));
            p.y = static_cast<float>(n[1] * static_cast<double>(s.displaceAmountY) + static_cast<double>(p.y));
        }
        if (s.pressureOn) {
            // The horizontal coordinate is rounded to float before the 173
            // cells are added, and that sum stays in double; the vertical
            // one is plain float arithmetic.
            const double u = static_cast<double>(xm * s.pressureScaleX + s.seedOffsetX) + 173.0;
            const float v = ym * s.pressureScaleY + s.seedOffsetY;
            const float n = static_cast<float>(noiseS(noise, u, v));
            const float g = static_cast<float>(1.0 - static_cast<double>(std::fabs(n) * s.pressureAmount));
            p.pressure = std::max(0.0f, g) * p.pressure;
        }
    }
}

}  // namespace pennaro
