// Combining the painted output with the source layer by the composite mode.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

// Rewrites `output` in place from itself (the paint) and `input` (the layer).
// Both do nothing when the host gives no pixel address for either image.
void composite8(const HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                int32_t compositeMode);
void composite16(const HostInData *in, HostOutData *out, HostWorld *input, HostWorld *output,
                 int32_t compositeMode);

}  // namespace pennaro
