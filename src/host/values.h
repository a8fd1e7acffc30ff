// Reading the host's records into the plain values the layers below take.
#pragma once

#include "pennaro/host_records.h"
#include "pixels/image.h"
#include "raster/raster_records.h"
#include "render/timing.h"

namespace pennaro {

// The image through the host's pixel-address callback for the given depth;
// no pixels (null data) when the host gives no address.
ImageView pixelView(const HostInData *in, HostWorld *world, bool deep);

LayerGeometry layerGeometry(const HostInData *in);
TimeBase timeBase(const HostInData *in);

// Checks out parameter `index` at `time` (with the host's time scale), reads
// the first word of its value area into `*value` and checks it back in. On a
// failed checkout `*value` is left as it was and the error is returned.
int32_t checkOutParamValue(const HostInData *in, int32_t index, int32_t time, int32_t timeStep, int32_t *value);

// A slider's value in real units.
inline double sliderValue(const HostParam *p) { return static_cast<double>(p->u.slider.value) / 65536.0; }

}  // namespace pennaro
