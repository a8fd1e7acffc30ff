// Which strokes a frame shows, and at what drawing time.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

// Checks out parameter `index` at `time` (with the host's time scale), reads
// the first word of its value area into `*value` and checks it back in. On a
// failed checkout `*value` is left as it was and the error is returned.
int32_t checkOutParamValue(const HostInData *in, int32_t index, int32_t time, int32_t timeStep,
                           int32_t *value);

// The drawing time in seconds for the host's current time: the layer time,
// or for "Past", "Hold" and "Animate Strokes" the layer time run through the
// playback speed.
double drawingTime(const HostInData *in, HostOutData *out);

// Sets every stroke's draw count for the current time and stores the drawing
// time (before its rounding to the frame grid) in `*time`. Returns the error
// of the playback-mode checkout, 0 normally.
int32_t selectStrokes(HostInData *in, HostOutData *out, double *time);

}  // namespace pennaro
