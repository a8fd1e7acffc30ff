// Wiggle set-up (once per render) and the perturbation of resampled points
// (once per stroke).
#include "render/wiggle.h"

#include <algorithm>
#include <cmath>

#include "params/param_ids.h"
#include "pixels/numeric.h"
#include "render/noise.h"

namespace pennaro {
namespace {

double sliderValue(const HostParam *p) { return static_cast<double>(p->u.slider.value) / 65536.0; }

// Frame duration in host time units: local time step, else time step, else a
// thirtieth of a second, else one time-scale unit. Never 0, so the phase
// integration can divide by it even for a host that gives no time base.
int64_t frameStep(const HostInData *in) {
    if (in->localTimeStep > 0) return in->localTimeStep;
    if (in->timeStep > 0) return in->timeStep;
    uint32_t step = in->timeScale / 30u;
    if (step == 0) step = in->timeScale;
    return step == 0 ? 1 : step;
}

// "Wiggles/sec" at host time t. A failed checkout falls back to the value in
// the parameter array (the value at the current time), so the integration and
// the render go on.
double wigglesPerSecAt(const HostInData *in, HostParam *params[], int32_t t) {
    HostParam p{};
    if (in->checkoutParam &&
        in->checkoutParam(in->effectRef, PARAM_WIGGLES_PER_SEC, t, 0, in->timeScale, &p) == 0) {
        const double w = sliderValue(&p);
        if (in->checkinParam) in->checkinParam(in->effectRef, &p);
        return w;
    }
    return sliderValue(params[PARAM_WIGGLES_PER_SEC]);
}

}  // namespace

WigglePhase integrateWigglePhase(const HostInData *in, HostParam *params[]) {
    const int64_t step = frameStep(in);
    const int64_t now = in->currentTime;
    const int64_t q = now / step;
    // The whole frames first: their sum is exact in double (multiples of
    // 1/65536), then the partial current frame.
    double whole = 0.0;
    for (int64_t j = 0; j < q; ++j) whole += wigglesPerSecAt(in, params, static_cast<int32_t>(j * step));
    const double partial = wigglesPerSecAt(in, params, static_cast<int32_t>(q * step)) *
                           static_cast<double>(now - q * step) / static_cast<double>(step);
    const double sigma = partial + whole;

    WigglePhase phase;
    phase.S = in->timeScale;
    const int32_t total = truncToInt32(sigma * static_cast<double>(step));
    const double scale = static_cast<double>(in->timeScale);
    if (in->timeScale == 0) {
        phase.K = 0;
        phase.f = 0.0f;
        return phase;
    }
    const double count = std::floor(static_cast<double>(total) / scale);
    // |count x S| <= |total|, so K fits.
    phase.K = static_cast<int32_t>(static_cast<int64_t>(count) * static_cast<int64_t>(in->timeScale));
    phase.f = static_cast<float>(static_cast<double>(static_cast<int64_t>(total) - phase.K) / scale);
    return phase;
}

void fillWiggleSettings(const HostInData *in, HostParam *params[], WiggleSettings *out) {
    const double W = in->width;
    const double H = in->height;
    const double aspect = static_cast<double>(in->pixelAspect.den) / static_cast<double>(in->pixelAspect.num);
    const double Dv = sliderValue(params[PARAM_DISPLACEMENT_VARIATION]);
    const double Dd = sliderValue(params[PARAM_DISPLACEMENT_DETAIL]);
    const double Pv = sliderValue(params[PARAM_PRESSURE_VARIATION]);
    const double Pd = sliderValue(params[PARAM_PRESSURE_DETAIL]);

    out->wiggleEnabled = 1;
    out->displaceScaleX = static_cast<float>(static_cast<double>(static_cast<float>(W * Dd * 0.001)) / aspect);
    out->displaceScaleY = static_cast<float>(H * Dd * 0.001);
    out->displaceAmountX = static_cast<float>(static_cast<double>(static_cast<float>(Dv / W)) * aspect);
    out->displaceAmountY = static_cast<float>(Dv / H);
    out->displaceOn = (out->displaceAmountX != 0.0f || out->displaceAmountY != 0.0f) ? 1 : 0;
    out->pressureScaleX = static_cast<float>(static_cast<double>(static_cast<float>(W * Pd * 0.001)) / aspect);
    out->pressureScaleY = static_cast<float>(H * Pd * 0.001);
    out->pressureAmount = static_cast<float>(Pv * 0.015);
    out->pressureOn = out->pressureAmount != 0.0f ? 1 : 0;
    out->individualSeeds = params[PARAM_INDIVIDUAL_SEEDS]->u.checkbox.value != 0 ? 1 : 0;
}

void setupWiggle(const HostInData *in, HostParam *params[], WiggleSettings *out) {
    if (!params[PARAM_WIGGLE_ENABLE] || params[PARAM_WIGGLE_ENABLE]->u.checkbox.value == 0) {
        out->wiggleEnabled = 0;
        return;
    }
    const WigglePhase phase = integrateWigglePhase(in, params);
    buildNoiseTable(phase.K, phase.S, 1000.0 * static_cast<double>(phase.S), phase.f);
    fillWiggleSettings(in, params, out);
}

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
    if (!s.wiggleEnabled) return;
    for (int32_t i = 0; i < count; ++i) {
        PaintPoint &p = points[i];
        const float xm = p.x - 0.5f;
        const float ym = p.y - 0.5f;
        if (s.displaceOn) {
            const float a = ym * s.displaceScaleY + s.seedOffsetY;
            const float b = xm * s.displaceScaleX + s.seedOffsetX;
            p.x = static_cast<float>(noise2(b, a) * static_cast<double>(s.displaceAmountX) + static_cast<double>(p.x));
            p.y = static_cast<float>(noise2(b, a + 177.0f) * static_cast<double>(s.displaceAmountY) +
                                     static_cast<double>(p.y));
        }
        if (s.pressureOn) {
            // The horizontal coordinate is rounded to float before the 173
            // cells are added, and that sum stays in double; the vertical
            // one is plain float arithmetic.
            const double u = static_cast<double>(xm * s.pressureScaleX + s.seedOffsetX) + 173.0;
            const float v = ym * s.pressureScaleY + s.seedOffsetY;
            const float n = static_cast<float>(noiseS(u, v));
            const float g = static_cast<float>(1.0 - static_cast<double>(std::fabs(n) * s.pressureAmount));
            p.pressure = std::max(0.0f, g) * p.pressure;
        }
    }
}

}  // namespace pennaro
