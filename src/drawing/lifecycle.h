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

// Turns the instance's drawing into one flattened block and always frees
// the memory form. Returns the block, the same handle when it is already
// flattened, or null when memory ran out (the drawing is then lost).
HostHandle flattenSequence(HostInData *in);

// A new handle holding a copy of `count` bytes at `source`: 0, or 4 when the
// host has no memory (then *out is untouched).
int32_t copyToNewHandle(const HostInData *in, const void *source, uint64_t count, HostHandle *out);

// Grows *destination by the size of `source` and copies source's bytes to
// the old end. The caller keeps `source` locked. 0, or the host's error from
// growing the destination (then nothing changes).
int32_t appendHandle(const HostInData *in, HostHandle source, HostHandle *destination);

// Brings a memory-form drawing of an earlier format version up to date
// (re-stamps it, or converts every stroke's brush and reports the
// conversion). Does nothing to a current drawing.
void convertSequenceVersion(HostInData *in, HostOutData *out);

}  // namespace pennaro
