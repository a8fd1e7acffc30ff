#include "render/timing.h"

namespace pennaro {

double frameSeconds(const TimeBase &t) {
    const double scale = static_cast<double>(t.timeScale);
    double duration = static_cast<double>(t.localTimeStep) / scale;
    if (!(duration > 0.0)) duration = static_cast<double>(t.timeStep) / scale;
    if (!(duration > 0.0)) duration = 1.0;
    return duration;
}

int64_t wiggleFrameStep(const TimeBase &t) {
    if (t.localTimeStep > 0) return t.localTimeStep;
    if (t.timeStep > 0) return t.timeStep;
    uint32_t step = t.timeScale / 30u;
    if (step == 0) step = t.timeScale;
    return step == 0 ? 1 : step;
}

WigglePhase wigglePhaseFromSum(const TimeBase &t, int64_t step, double sigma) {
    WigglePhase phase;
    phase.S = t.timeScale;
    const int32_t total = truncToInt32(sigma * static_cast<double>(step));
    if (t.timeScale == 0) {
        phase.K = 0;
        phase.f = 0.0f;
        return phase;
    }
    const double scale = static_cast<double>(t.timeScale);
    const double count = std::floor(static_cast<double>(total) / scale);
    // |count x S| <= |total|, so K fits.
    phase.K = static_cast<int32_t>(static_cast<int64_t>(count) * static_cast<int64_t>(t.timeScale));
    phase.f = static_cast<float>(static_cast<double>(static_cast<int64_t>(total) - phase.K) / scale);
    return phase;
}

}  // namespace pennaro
