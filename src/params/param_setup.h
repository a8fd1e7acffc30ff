// Declaring the effect's controls to the host (command 4).
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

// Adds the 13 definitions in index order, registers the control area and
// sets the parameter count. The first add-parameter failure is returned as
// it is; otherwise the control-area registration's result.
int32_t setupParams(HostInData *in, HostOutData *out, HostParam *params[], HostWorld *output);

}  // namespace pennaro
