// The render command: one output frame.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

int32_t renderFrame(HostInData *in, HostOutData *out, HostParam *params[], HostWorld *output);

}  // namespace pennaro
