#include "host/drawing_commands.h"

#include <cstdint>

#include "catalog/messages.h"
#include "format/block.h"
#include "format/drawing.h"
#include "host/allocator.h"
#include "host/message_lookup.h"
#include "pennaro/errors.h"

namespace pennaro {

HostHandle openBlock(HostInData *in, HostOutData *out) {
    if (!in->sequenceData) return nullptr;
    HostAllocator memory(*in->utils);
    const ReadResult read = readBlock(memory, in->sequenceData);
    switch (read.status) {
        case ReadStatus::Read:
        case ReadStatus::AlreadyInMemory:
            break;
        case ReadStatus::UnknownFormat:
            reportMessage(in, out, MSG_UNKNOWN_FORMAT, false);
            break;
        case ReadStatus::NoMemoryForHeader:
            reportMessage(in, out, MSG_NO_MEMORY_TO_OPEN, true);
            break;
        case ReadStatus::NoMemoryAfterSwap:
            reportMessage(in, out, MSG_NO_MEMORY_TO_OPEN_SWAPPED, false);
            break;
        case ReadStatus::OtherVersion:
            reportMessage(in, out, MSG_CANNOT_CONVERT_OLD, true);
            break;
        case ReadStatus::NoMemoryForDrawing:
            reportMessage(in, out, MSG_NO_MEMORY_DO_NOT_SAVE, true);
            break;
    }
    return read.drawing;
}

int32_t sequenceSetUp(HostInData *in, HostOutData *out) {
    HostAllocator memory(*in->utils);
    in->sequenceData = createDrawing(memory);
    if (!in->sequenceData) {
        reportMessage(in, out, MSG_NOT_ENOUGH_MEMORY, true);
        return HOST_ERR_OUT_OF_MEMORY;
    }
    out->flatSize = SEQUENCE_RECORD_SIZE;
    return 0;
}

int32_t sequenceReSetUp(HostInData *in, HostOutData *out) {
    if (!in->sequenceData) return sequenceSetUp(in, out);
    HostAllocator memory(*in->utils);
    in->sequenceData = openBlock(in, out);
    if (!in->sequenceData) {
        // The reader has said why; the instance carries on with an empty
        // drawing (or none, if even that cannot be had).
        in->sequenceData = createDrawing(memory);
        return 0;
    }
    if (convertDrawingVersion(memory, in->sequenceData)) reportMessage(in, out, MSG_DRAWING_CONVERTED, false);
    return 0;
}

int32_t sequenceSetDown(HostInData *in) {
    if (in->sequenceData) {
        HostAllocator memory(*in->utils);
        in->sequenceData = disposeDrawing(memory, in->sequenceData);
    }
    return 0;
}

int32_t flattenCommand(HostInData *in, HostOutData *out) {
    if (!in->sequenceData) {
        reportMessage(in, out, MSG_DRAWING_DAMAGED_RESTART, true);
        return HOST_ERR_DATA_MISSING;
    }
    HostAllocator memory(*in->utils);
    HostHandle block = writeBlock(memory, in->sequenceData);
    in->sequenceData = block;
    if (!block) {
        out->flatSize = 0;
        reportMessage(in, out, MSG_NO_MEMORY_TO_SAVE, true);
        return HOST_ERR_OUT_OF_MEMORY;
    }
    const uint64_t size = memory.size(block);
    out->flatSize = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
    if (size < 1) {
        out->flatSize = 0;
        memory.dispose(block);
        in->sequenceData = nullptr;
        reportMessage(in, out, MSG_DRAWING_DAMAGED_STROKES_LOST, true);
        return HOST_ERR_OUT_OF_MEMORY;
    }
    return 0;
}

}  // namespace pennaro
