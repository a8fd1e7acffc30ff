// Combining the painted output with the source layer by the composite mode.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

// Straight-alpha "over" of `top` onto `bottom`, as the two depths define it.
// The two differ on purpose in their shortcuts: the 8-bit form tests the top
// first and returns an opaque top as it stands; the 16-bit form tests the
// bottom first and has no opaque shortcut.
HostPixel8 over8(HostPixel8 top, HostPixel8 bottom);
HostPixel16 over16(HostPixel16 top, HostPixel16 bottom);

// Rewrites `output` in place from itself (the paint) and `input` (the layer).
// Both do nothing when the host gives no pixel address for either image.
void composite8(const HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                int32_t compositeMode);
void composite16(const HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                 int32_t compositeMode);

}  // namespace pennaro
