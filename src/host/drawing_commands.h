// The host's sequence data commands for one effect instance: the drawing's
// creation, its rebuilding from the saved block, its flattening for a save
// and its disposal. Each keeps the instance's handle in HostInData up to
// date; the dispatcher hands it back.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

int32_t sequenceSetUp(HostInData *in, HostOutData *out);
int32_t sequenceReSetUp(HostInData *in, HostOutData *out);
int32_t sequenceSetDown(HostInData *in);
int32_t flattenCommand(HostInData *in, HostOutData *out);

// Rebuilds the instance's flattened block into the memory form (no version
// conversion), reporting why when it cannot. Returns the new handle, the
// same handle when it already holds the memory form, or null (the block is
// then gone).
HostHandle openBlock(HostInData *in, HostOutData *out);

}  // namespace pennaro
