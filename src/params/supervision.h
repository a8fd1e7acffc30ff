// Keeping the controls' enabled state in step with the values, and telling
// the host whether the output varies with time.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

// Commands 13 and 14. The command's result is 0 whatever happens here.
void superviseParams(HostInData *in, HostOutData *out, HostParam *params[]);
// Command 18.
int32_t queryDynamicFlags(HostInData *in, HostOutData *out);

}  // namespace pennaro
