// Wiggle: the time-varying noise that displaces stroke points and lowers
// their pressure.
#pragma once

#include "drawing/records.h"
#include "raster/raster_records.h"

namespace pennaro {

// Derives the wiggle settings from the parameters and host values and
// rebuilds the process-wide noise table for the current time. With the
// wiggle switch off only `wiggleEnabled` (0) is set.
void setupWiggle(const HostInData *in, HostParam *params[], WiggleSettings *out);

// Sets the per-stroke seed offsets from the stroke's table index.
void setWiggleSeedOffsets(WiggleSettings *settings, int32_t strokeIndex);

// Displaces x, y and lowers pressure of `count` points in place.
void perturbPoints(const WiggleSettings &settings, PaintPoint *points, int32_t count);

// The wiggle phase at the current time: K = whole wiggle count x time scale,
// f the fractional count, S the time scale the table is built with.
struct WigglePhase {
    int32_t K;
    uint32_t S;
    float f;
};

// Integrates "Wiggles/sec" (checked out at every frame time from 0 to the
// current time) into the phase.
WigglePhase integrateWigglePhase(const HostInData *in, HostParam *params[]);

// The settings block from the parameter values and layer size (no noise).
void fillWiggleSettings(const HostInData *in, HostParam *params[], WiggleSettings *out);

}  // namespace pennaro
