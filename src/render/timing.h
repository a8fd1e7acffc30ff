// Time as the render sees it: the host's integer times, the frame they
// fall in, and the integrals of the controls that vary over the shot (the
// playback speed behind the drawing time, the wiggle rate behind the wiggle
// phase). The controls' values at other times come from the caller, one
// call per frame time, in the order the sums need them.
#pragma once

#include <cmath>
#include <cstdint>

#include "pixels/numeric.h"

namespace pennaro {

struct TimeBase {
    int32_t currentTime;
    int32_t timeStep;
    int32_t localTimeStep;
    uint32_t timeScale;
};

// The layer time in seconds.
inline double layerSeconds(const TimeBase &t) {
    return static_cast<double>(t.currentTime) / static_cast<double>(t.timeScale);
}

// The frame duration in seconds: the local time step, else the time step,
// else one second.
double frameSeconds(const TimeBase &t);

// The drawing time of the modes that follow an animated playback speed: the
// integral of the speed from 0 to the current time, as a left Riemann sum
// with one step per frame; the last, partial step runs at the speed of its
// start. speedAt(time) gives the speed at a host time; it is asked for the
// partial step first, then for every whole frame from 0 on.
template <typename SpeedAt>
double integratedDrawingTime(const TimeBase &t, SpeedAt speedAt) {
    int64_t step = t.localTimeStep > 0 ? t.localTimeStep
                   : t.timeStep > 0    ? t.timeStep
                                       : static_cast<int64_t>(t.timeScale / 30u);
    if (step == 0) step = t.timeScale;
    if (step == 0) return static_cast<double>(t.currentTime) / static_cast<double>(t.timeScale);
    const int64_t current = t.currentTime;
    const int64_t q = current / step;
    const double partial =
        speedAt(static_cast<int32_t>(q * step)) * static_cast<double>(current - q * step) / static_cast<double>(step);
    double whole = 0.0;
    for (int64_t j = 0; j < q; ++j) whole += speedAt(static_cast<int32_t>(j * step));
    const double steps = partial + whole;
    return static_cast<double>(step) * steps / static_cast<double>(t.timeScale);
}

// The wiggle phase at the current time: K = whole wiggle count x time scale,
// f the fractional count, S the time scale the noise table is built with.
struct WigglePhase {
    int32_t K;
    uint32_t S;
    float f;
};

// Frame duration in host time units for the wiggle: local time step, else
// time step, else a thirtieth of a second, else one time-scale unit. Never
// 0, so the phase integration can divide by it even for a host that gives no
// time base.
int64_t wiggleFrameStep(const TimeBase &t);

// Integrates the wiggle rate ("Wiggles/sec", rateAt(time)) from 0 to the
// current time: the whole frames first, then the partial current frame.
WigglePhase wigglePhaseFromSum(const TimeBase &t, int64_t step, double sigma);

template <typename RateAt>
WigglePhase integrateWigglePhase(const TimeBase &t, RateAt rateAt) {
    const int64_t step = wiggleFrameStep(t);
    const int64_t now = t.currentTime;
    const int64_t q = now / step;
    // The whole frames' sum is exact in double (multiples of 1/65536).
    double whole = 0.0;
    for (int64_t j = 0; j < q; ++j) whole += rateAt(static_cast<int32_t>(j * step));
    const double partial =
        rateAt(static_cast<int32_t>(q * step)) * static_cast<double>(now - q * step) / static_cast<double>(step);
    return wigglePhaseFromSum(t, step, partial + whole);
}

}  // namespace pennaro
