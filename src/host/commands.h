// The command handlers the dispatcher calls, besides the drawing's and the
// render's.
#pragma once

#include "catalog/prefs.h"
#include "pennaro/host_records.h"

namespace pennaro {

// Command 4: adds the 13 definitions in index order, registers the control
// area and sets the parameter count. The first add-parameter failure is
// returned as it is; otherwise the control-area registration's result.
int32_t setupParams(HostInData *in, HostOutData *out);

// Commands 13 and 14. The command's result is 0 whatever happens here.
void superviseParams(HostInData *in, HostOutData *out, HostParam *params[]);

// Command 18.
int32_t queryDynamicFlags(HostInData *in, HostOutData *out);

// Preferences from the host's application store, validated; all defaults
// when the store is missing or any read fails. A missing suite leaves its
// message and display flag in `out`; the caller carries on either way.
PaintPrefs readPrefs(const HostInData *in, HostOutData *out);

}  // namespace pennaro
