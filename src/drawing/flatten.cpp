// The saved form of a drawing: one self-contained block of 32-bit words
// (header, every stroke's samples, then the stroke table) that the host keeps
// in the project. The writer always frees the memory form; the reader always
// disposes the block, whether it succeeds or not, and frees whatever it had
// built when it fails.
#include <cstring>

#include "drawing/flat_layout.h"
#include "drawing/host_memory.h"
#include "drawing/lifecycle.h"
#include "drawing/sequence.h"
#include "host/messages.h"

namespace pennaro {

namespace {

constexpr int32_t MSG_DRAWING_DAMAGED_RESTART = 2;
constexpr int32_t MSG_NO_MEMORY_TO_SAVE = 3;
constexpr int32_t MSG_DRAWING_DAMAGED_STROKES_LOST = 4;
constexpr int32_t MSG_NO_MEMORY_TO_OPEN = 26;
constexpr int32_t MSG_NO_MEMORY_TO_OPEN_SWAPPED = 28;
constexpr int32_t MSG_UNKNOWN_FORMAT = 29;
constexpr int32_t MSG_CANNOT_CONVERT_OLD = 30;
constexpr int32_t MSG_NO_MEMORY_DO_NOT_SAVE = 33;

constexpr int32_t ERR_OUT_OF_MEMORY = 4;
constexpr int32_t ERR_DATA_MISSING = 517;

// Bytes needed to read flatHeaderSize, the field that tells the two forms
// apart.
constexpr uint64_t FORM_FIELD_END = offsetof(FlatDrawingHeader, flatHeaderSize) + sizeof(uint32_t);

bool holdsMemoryForm(const HostInData *in, HostHandle h) {
    if (handleSize(in, h) != SEQUENCE_RECORD_SIZE) return false;
    const bool memory = lockHandle<PaintSequence>(in, h)->flatHeaderSize == 0;
    unlockHandle(in, h);
    return memory;
}

void swapWordsInPlace(uint8_t *bytes, uint64_t size) {
    for (uint64_t i = 0; i + 4 <= size; i += 4) {
        uint8_t b0 = bytes[i], b1 = bytes[i + 1];
        bytes[i] = bytes[i + 3];
        bytes[i + 1] = bytes[i + 2];
        bytes[i + 2] = b1;
        bytes[i + 3] = b0;
    }
}

FlatDrawingHeader readHeaderCopy(const HostInData *in, HostHandle copy) {
    FlatDrawingHeader header;
    std::memcpy(&header, lockHandle(in, copy), sizeof header);
    unlockHandle(in, copy);
    return header;
}

// Refuses the block: dispose it (it is locked) and report.
HostHandle refuseBlock(HostInData *in, HostOutData *out, HostHandle block, int32_t message,
                       bool display) {
    unlockHandle(in, block);
    disposeHandle(in, block);
    reportMessage(in, out, message, display);
    return nullptr;
}

// Builds the stroke table of `seq` from the (locked, checked) block. On
// failure everything built here is freed again and strokeTable is null.
bool rebuildStrokeTable(const HostInData *in, PaintSequence *seq, const uint8_t *block) {
    const int32_t count = seq->strokeCount;
    HostHandle table = newHandle(in, static_cast<uint64_t>(count) * STROKE_RECORD_SIZE);
    if (!table) return false;
    seq->strokeTable = table;
    auto *strokes = lockHandle<PaintStroke>(in, table);
    for (int32_t i = 0; i < count; ++i) {
        const auto flat = readFlatRecord<FlatStrokeRecord>(
            block, seq->strokeTableOffset + static_cast<uint64_t>(i) * FLAT_STROKE_RECORD_SIZE);
        PaintStroke &s = strokes[i];
        s.strokeId = flat.strokeId;
        s.startTime = flat.startTime;
        s.duration = flat.duration;
        s.brush = flat.brush;
        s.drawCount = flat.drawCount;
        s.selected = flat.selected;
        s.pointCount = flat.pointCount;
        s.points = nullptr;
        s.flatPointBytes = flat.flatPointBytes;
        s.flatPointOffset = flat.flatPointOffset;
    }
    for (int32_t i = 0; i < count; ++i) {
        PaintStroke &s = strokes[i];
        if (copyToNewHandle(in, block + s.flatPointOffset, s.flatPointBytes, &s.points) != 0) {
            for (int32_t j = 0; j < i; ++j) disposeHandle(in, strokes[j].points);
            unlockHandle(in, table);
            disposeHandle(in, table);
            seq->strokeTable = nullptr;
            return false;
        }
    }
    unlockHandle(in, table);
    return true;
}

}  // namespace

int32_t copyToNewHandle(const HostInData *in, const void *source, uint64_t count, HostHandle *out) {
    HostHandle h = newHandle(in, count);
    if (!h) return ERR_OUT_OF_MEMORY;
    if (count > 0) std::memcpy(lockHandle(in, h), source, count);
    else lockHandle(in, h);
    unlockHandle(in, h);
    *out = h;
    return 0;
}

int32_t appendHandle(const HostInData *in, HostHandle source, HostHandle *destination) {
    const uint64_t sourceSize = handleSize(in, source);
    const uint64_t oldSize = handleSize(in, *destination);
    if (int32_t err = resizeHandle(in, destination, oldSize + sourceSize)) return err;
    uint8_t *dest = lockHandle(in, *destination);
    if (sourceSize > 0) std::memcpy(dest + oldSize, *source, sourceSize);
    unlockHandle(in, *destination);
    return 0;
}

HostHandle flattenSequence(HostInData *in) {
    HostHandle seqHandle = in->sequenceData;
    if (!seqHandle) return nullptr;
    if (!holdsMemoryForm(in, seqHandle)) return seqHandle;

    HostHandle block = newHandle(in, FLAT_HEADER_SIZE);
    if (!block) return disposeSequenceHandle(in, seqHandle);

    auto *seq = lockHandle<PaintSequence>(in, seqHandle);
    {
        FlatDrawingHeader header{};
        header.formatVersion = seq->formatVersion;
        header.byteOrderMark = seq->byteOrderMark;
        header.flatHeaderSize = seq->flatHeaderSize;
        header.strokeRecordSize = seq->strokeRecordSize;
        header.pointRecordSize = seq->pointRecordSize;
        header.strokeCount = seq->strokeCount;
        header.hasStrokeTable = 1;
        header.toolMode = seq->toolMode;
        header.previousToolMode = seq->previousToolMode;
        header.toolModeSwapped = seq->toolModeSwapped;
        header.toolOption = seq->toolOption;
        std::memcpy(header.reservedSettings, seq->reservedSettings, sizeof header.reservedSettings);
        header.currentBrush = seq->currentBrush;
        header.currentBrushMask = seq->currentBrushMask;
        header.selectionActive = seq->selectionActive;
        header.alternateBrush = seq->alternateBrush;
        header.alternateBrushMask = seq->alternateBrushMask;
        std::memcpy(lockHandle(in, block), &header, sizeof header);
        unlockHandle(in, block);
    }
    // The run-time parts are never saved.
    freeDrawOrderOf(in, seq);
    freeUndoRecordOf(in, seq);
    freeEditStateBlockOf(in, seq);

    uint32_t tableSize = 0;
    uint32_t tableOffset = 0;
    HostHandle tableHandle = seq->strokeTable;
    if (tableHandle) {
        const uint64_t fits = handleSize(in, tableHandle) / STROKE_RECORD_SIZE;
        const int32_t count =
            seq->strokeCount < 1 ? 0
                                 : (fits < static_cast<uint64_t>(seq->strokeCount) ? static_cast<int32_t>(fits)
                                                                                  : seq->strokeCount);
        auto *strokes = lockHandle<PaintStroke>(in, tableHandle);
        for (int32_t i = 0; i < count; ++i) {
            PaintStroke &s = strokes[i];
            s.flatPointOffset = static_cast<uint32_t>(handleSize(in, block));
            if (!s.points) {
                s.flatPointBytes = 0;
                continue;
            }
            lockHandle(in, s.points);
            s.flatPointBytes = static_cast<uint32_t>(handleSize(in, s.points));
            if (appendHandle(in, s.points, &block) != 0) {
                unlockHandle(in, s.points);
                unlockHandle(in, tableHandle);
                unlockHandle(in, seqHandle);
                disposeHandle(in, block);
                return disposeSequenceHandle(in, seqHandle);
            }
            unlockHandle(in, s.points);
        }
        tableSize = static_cast<uint32_t>(static_cast<uint64_t>(seq->strokeCount) * FLAT_STROKE_RECORD_SIZE);
        tableOffset = static_cast<uint32_t>(handleSize(in, block));
        {
            auto *header = lockHandle<FlatDrawingHeader>(in, block);
            header->strokeTableSize = tableSize;
            header->strokeTableOffset = tableOffset;
            unlockHandle(in, block);
        }
        for (int32_t i = 0; i < count; ++i) {
            const PaintStroke &s = strokes[i];
            const uint64_t end = handleSize(in, block);
            if (resizeHandle(in, &block, end + FLAT_STROKE_RECORD_SIZE) != 0) {
                unlockHandle(in, tableHandle);
                unlockHandle(in, seqHandle);
                disposeHandle(in, block);
                return disposeSequenceHandle(in, seqHandle);
            }
            FlatStrokeRecord record{};
            record.strokeId = s.strokeId;
            record.startTime = s.startTime;
            record.duration = s.duration;
            record.brush = s.brush;
            record.drawCount = s.drawCount;
            record.selected = s.selected;
            record.pointCount = s.pointCount;
            record.hasPoints = 1;
            record.flatPointBytes = s.flatPointBytes;
            record.flatPointOffset = s.flatPointOffset;
            std::memcpy(lockHandle(in, block) + end, &record, sizeof record);
            unlockHandle(in, block);
        }
        unlockHandle(in, tableHandle);
    }
    unlockHandle(in, seqHandle);
    disposeSequenceHandle(in, seqHandle);

    lockHandle<FlatDrawingHeader>(in, block)->flatHeaderSize = FLAT_HEADER_SIZE;
    unlockHandle(in, block);
    return block;
}

int32_t flattenCommand(HostInData *in, HostOutData *out) {
    if (!in->sequenceData) {
        reportMessage(in, out, MSG_DRAWING_DAMAGED_RESTART, true);
        return ERR_DATA_MISSING;
    }
    HostHandle block = flattenSequence(in);
    in->sequenceData = block;
    if (!block) {
        out->flatSize = 0;
        reportMessage(in, out, MSG_NO_MEMORY_TO_SAVE, true);
        return ERR_OUT_OF_MEMORY;
    }
    const uint64_t size = handleSize(in, block);
    out->flatSize = size > INT32_MAX ? INT32_MAX : static_cast<int32_t>(size);
    if (size < 1) {
        out->flatSize = 0;
        disposeHandle(in, block);
        in->sequenceData = nullptr;
        reportMessage(in, out, MSG_DRAWING_DAMAGED_STROKES_LOST, true);
        return ERR_OUT_OF_MEMORY;
    }
    return 0;
}

HostHandle unflattenSequence(HostInData *in, HostOutData *out) {
    HostHandle block = in->sequenceData;
    if (!block) return nullptr;
    const uint64_t size = handleSize(in, block);
    uint8_t *bytes = lockHandle(in, block);
    if (size < FORM_FIELD_END) return refuseBlock(in, out, block, MSG_UNKNOWN_FORMAT, false);
    if (readFlatRecord<uint32_t>(bytes, offsetof(FlatDrawingHeader, flatHeaderSize)) == 0) {
        unlockHandle(in, block);
        return block;
    }
    // Never read a header that is not all there.
    if (size < FLAT_HEADER_SIZE) return refuseBlock(in, out, block, MSG_UNKNOWN_FORMAT, false);

    HostHandle headerCopy = nullptr;
    if (copyToNewHandle(in, bytes, FLAT_HEADER_SIZE, &headerCopy) != 0)
        return refuseBlock(in, out, block, MSG_NO_MEMORY_TO_OPEN, true);
    // Byte 4 is the low byte of the byte-order mark where we run; a writer of
    // the other byte order put its high byte there.
    if (lockHandle(in, headerCopy)[offsetof(FlatDrawingHeader, byteOrderMark)] != 0) {
        unlockHandle(in, headerCopy);
        disposeHandle(in, headerCopy);
        headerCopy = nullptr;
        swapWordsInPlace(bytes, size);
        if (copyToNewHandle(in, bytes, FLAT_HEADER_SIZE, &headerCopy) != 0)
            return refuseBlock(in, out, block, MSG_NO_MEMORY_TO_OPEN_SWAPPED, false);
        if ((readHeaderCopy(in, headerCopy).byteOrderMark >> 24) == 0) {
            disposeHandle(in, headerCopy);
            return refuseBlock(in, out, block, MSG_UNKNOWN_FORMAT, false);
        }
    } else {
        unlockHandle(in, headerCopy);
    }
    const FlatDrawingHeader header = readHeaderCopy(in, headerCopy);
    if (header.formatVersion != FORMAT_VERSION) {
        disposeHandle(in, headerCopy);
        return refuseBlock(in, out, block, MSG_CANNOT_CONVERT_OLD, true);
    }
    // The render and the rasterizer trust every count and offset of an
    // accepted drawing, so a block that does not hold together is refused
    // here, before anything is built from it.
    if (checkFlatBlock(bytes, size).problem != FlatBlockProblem::None) {
        disposeHandle(in, headerCopy);
        return refuseBlock(in, out, block, MSG_UNKNOWN_FORMAT, false);
    }

    HostHandle seqHandle = newHandle(in, SEQUENCE_RECORD_SIZE);
    if (!seqHandle) {
        disposeHandle(in, headerCopy);
        return refuseBlock(in, out, block, MSG_NO_MEMORY_DO_NOT_SAVE, true);
    }
    auto *seq = lockHandle<PaintSequence>(in, seqHandle);
    std::memset(seq, 0, sizeof(PaintSequence));
    seq->formatVersion = header.formatVersion;
    seq->byteOrderMark = header.byteOrderMark;
    seq->flatHeaderSize = header.flatHeaderSize;
    seq->strokeRecordSize = header.strokeRecordSize;
    seq->pointRecordSize = header.pointRecordSize;
    seq->strokeCount = header.strokeCount;
    seq->strokeTable = nullptr;
    seq->strokeTableSize = header.strokeTableSize;
    seq->strokeTableOffset = header.strokeTableOffset;
    seq->toolMode = header.toolMode;
    seq->previousToolMode = header.previousToolMode;
    seq->toolModeSwapped = header.toolModeSwapped;
    seq->toolOption = header.toolOption;
    std::memcpy(seq->reservedSettings, header.reservedSettings, sizeof seq->reservedSettings);
    seq->currentBrush = header.currentBrush;
    seq->currentBrushMask = header.currentBrushMask;
    seq->selectionActive = header.selectionActive;
    seq->alternateBrush = header.alternateBrush;
    seq->alternateBrushMask = header.alternateBrushMask;
    seq->drawOrder = DrawOrderCache{};
    seq->drawOrder.orderValid = 0;
    seq->drawOrder.orderCount = header.strokeCount;
    seq->undoRecord = StrokeUndoRecord{};
    seq->editState = newEditStateBlock(in);
    disposeHandle(in, headerCopy);

    if (header.hasStrokeTable != 0 && !rebuildStrokeTable(in, seq, bytes)) {
        // The new record still carries the block's flatHeaderSize; clear it
        // so the handle is freed as the memory form it is.
        seq->flatHeaderSize = 0;
        unlockHandle(in, seqHandle);
        disposeSequenceHandle(in, seqHandle);
        return refuseBlock(in, out, block, MSG_NO_MEMORY_DO_NOT_SAVE, true);
    }
    unlockHandle(in, block);
    disposeHandle(in, block);
    seq->flatHeaderSize = 0;
    unlockHandle(in, seqHandle);
    return seqHandle;
}

}  // namespace pennaro
