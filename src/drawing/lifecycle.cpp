// The host's sequence data commands for one effect instance. Each keeps the
// instance's handle in HostInData up to date; the dispatcher hands it back.
#include "drawing/lifecycle.h"

#include "drawing/sequence.h"
#include "host/messages.h"

namespace pennaro {

namespace {
constexpr int32_t MSG_NOT_ENOUGH_MEMORY = 1;
constexpr int32_t ERR_OUT_OF_MEMORY = 4;
}  // namespace

int32_t sequenceSetUp(HostInData *in, HostOutData *out) {
    in->sequenceData = createSequence(in);
    if (!in->sequenceData) {
        reportMessage(in, out, MSG_NOT_ENOUGH_MEMORY, true);
        return ERR_OUT_OF_MEMORY;
    }
    out->flatSize = SEQUENCE_RECORD_SIZE;
    return 0;
}

int32_t sequenceReSetUp(HostInData *in, HostOutData *out) {
    if (!in->sequenceData) return sequenceSetUp(in, out);
    in->sequenceData = unflattenSequence(in, out);
    if (!in->sequenceData) {
        // The reader has said why; the instance carries on with an empty
        // drawing (or none, if even that cannot be had).
        in->sequenceData = createSequence(in);
        return 0;
    }
    convertSequenceVersion(in, out);
    return 0;
}

int32_t sequenceSetDown(HostInData *in) {
    if (in->sequenceData) in->sequenceData = disposeSequence(in);
    return 0;
}

}  // namespace pennaro
