#include "render/wiggle_setup.h"

namespace pennaro {

WiggleSettings wiggleSettings(const WiggleControls &c, int32_t width, int32_t height, const Rational &pixelAspect,
                              const NoiseTable *noise) {
    const double W = width;
    const double H = height;
    const double aspect = static_cast<double>(pixelAspect.den) / static_cast<double>(pixelAspect.num);
    const double Dv = c.displacementVariation;
    const double Dd = c.displacementDetail;
    const double Pv = c.pressureVariation;
    const double Pd = c.pressureDetail;

    WiggleSettings out{};
    out.wiggleEnabled = 1;
    out.displaceScaleX = static_cast<float>(static_cast<double>(static_cast<float>(W * Dd * 0.001)) / aspect);
    out.displaceScaleY = static_cast<float>(H * Dd * 0.001);
    out.displaceAmountX = static_cast<float>(static_cast<double>(static_cast<float>(Dv / W)) * aspect);
    out.displaceAmountY = static_cast<float>(Dv / H);
    out.displaceOn = (out.displaceAmountX != 0.0f || out.displaceAmountY != 0.0f) ? 1 : 0;
    out.pressureScaleX = static_cast<float>(static_cast<double>(static_cast<float>(W * Pd * 0.001)) / aspect);
    out.pressureScaleY = static_cast<float>(H * Pd * 0.001);
    out.pressureAmount = static_cast<float>(Pv * 0.015);
    out.pressureOn = out.pressureAmount != 0.0f ? 1 : 0;
    out.individualSeeds = c.individualSeeds ? 1 : 0;
    out.noise = noise;
    return out;
}

void buildNoiseTable(NoiseTable &table, const WigglePhase &phase) {
    buildNoiseTable(table, phase.K, phase.S, 1000.0 * static_cast<double>(phase.S), phase.f);
}

}  // namespace pennaro
