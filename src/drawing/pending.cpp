// Placeholders until the drawing subsystem lands.
#include "drawing/lifecycle.h"
#include "drawing/sequence.h"

namespace pennaro {

int32_t sequenceSetUp(HostInData *, HostOutData *) { return 0; }
int32_t sequenceReSetUp(HostInData *, HostOutData *) { return 0; }
int32_t sequenceSetDown(HostInData *) { return 0; }
int32_t flattenCommand(HostInData *, HostOutData *) { return 0; }
HostHandle unflattenSequence(HostInData *, HostOutData *) { return nullptr; }
int32_t getStrokeCount(const HostInData *) { return -1; }
HostHandle getStrokeTable(const HostInData *) { return nullptr; }

}  // namespace pennaro
