// Sequence data commands: set-up, re-set-up, flatten and set-down.
#pragma once

#include "pennaro/host_records.h"

namespace pennaro {

int32_t sequenceSetUp(HostInData *in, HostOutData *out);
int32_t sequenceReSetUp(HostInData *in, HostOutData *out);
int32_t sequenceSetDown(HostInData *in);
// The flatten command: replaces the sequence data by its flattened block.
int32_t flattenCommand(HostInData *in, HostOutData *out);
// Rebuilds a flattened block into the memory form (no version conversion).
// Returns the new handle, the same handle when already in memory form, or
// null after a reported failure (the block is then disposed).
HostHandle unflattenSequence(HostInData *in, HostOutData *out);

}  // namespace pennaro
