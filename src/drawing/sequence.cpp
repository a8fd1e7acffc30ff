// The drawing in memory: one PaintSequence handle owning its stroke table,
// every stroke's samples, the draw order, the undo record and the edit-state
// block. Every handle is locked only while its bytes are read or written.
#include "drawing/sequence.h"

#include <cstring>

#include "drawing/host_memory.h"

namespace pennaro {

namespace {

// Number of whole records of `recordSize` bytes that fit in a handle: caps
// every walk over a table so a count that disagrees with the table's size
// can never take us past its end.
int32_t recordsIn(const HostInData *in, HostHandle h, int32_t count, uint64_t recordSize) {
    if (!h || count < 1) return 0;
    const uint64_t fits = handleSize(in, h) / recordSize;
    return fits < static_cast<uint64_t>(count) ? static_cast<int32_t>(fits) : count;
}

// The stroke at `index` is there to read and write: the same conditions under
// which getStrokeBrush answers false make every stroke operation a no-op.
bool strokeIndexUsable(const HostInData *in, const PaintSequence *seq, int32_t index) {
    if (index < 0 || seq->strokeCount < 1 || index >= seq->strokeCount) return false;
    return index < recordsIn(in, seq->strokeTable, seq->strokeCount, STROKE_RECORD_SIZE);
}

}  // namespace

void makeDefaultBrush(BrushSettings *out) {
    out->red = 1.0f;
    out->green = 1.0f;
    out->blue = 1.0f;
    out->opacity = 1.0f;
    out->size = 5.0f;
    out->brushMode = BRUSH_KIND_ROUND;
    out->softness = 0.0f;
    out->pressureFlags = PRESSURE_SCALES_SIZE;
}

void makeFullBrushMask(BrushAttributeMask *out) {
    out->color = 1;
    out->opacity = 1;
    out->size = 1;
    out->brushMode = 1;
    out->softness = 1;
    out->pressureFlags = 1;
}

HostHandle newEditStateBlock(const HostInData *in) {
    HostHandle h = newHandle(in, EDIT_STATE_BLOCK_SIZE);
    if (!h) return nullptr;
    std::memset(lockHandle(in, h), 0, EDIT_STATE_BLOCK_SIZE);
    unlockHandle(in, h);
    return h;
}

HostHandle createSequence(const HostInData *in) {
    HostHandle h = newHandle(in, SEQUENCE_RECORD_SIZE);
    if (!h) return nullptr;
    auto *seq = lockHandle<PaintSequence>(in, h);
    std::memset(seq, 0, sizeof(PaintSequence));
    seq->formatVersion = FORMAT_VERSION;
    seq->byteOrderMark = BYTE_ORDER_MARK;
    seq->flatHeaderSize = 0;
    seq->strokeRecordSize = STROKE_RECORD_SIZE;
    seq->pointRecordSize = POINT_RECORD_SIZE;
    seq->strokeCount = 0;
    seq->strokeTable = nullptr;
    seq->strokeTableSize = 0;
    seq->strokeTableOffset = 0;
    seq->toolMode = 1;
    seq->previousToolMode = 0;
    seq->toolModeSwapped = 0;
    seq->toolOption = 1;
    makeDefaultBrush(&seq->currentBrush);
    makeFullBrushMask(&seq->currentBrushMask);
    seq->selectionActive = 0;
    makeDefaultBrush(&seq->alternateBrush);
    makeFullBrushMask(&seq->alternateBrushMask);
    seq->drawOrder = DrawOrderCache{};
    seq->undoRecord = StrokeUndoRecord{};
    // A drawing without its edit-state block is still a drawing.
    seq->editState = newEditStateBlock(in);
    unlockHandle(in, h);
    return h;
}

void freeDrawOrder(const HostInData *in, DrawOrderCache *cache) {
    if (cache->order) disposeHandle(in, cache->order);
    cache->orderValid = 0;
    cache->orderCount = 0;
    cache->order = nullptr;
    cache->lastSelectionTime = 0.0;
}

void freeDrawOrderOf(const HostInData *in, PaintSequence *sequence) {
    freeDrawOrder(in, &sequence->drawOrder);
}

void freeUndoRecordOf(const HostInData *in, PaintSequence *seq) {
    StrokeUndoRecord &undo = seq->undoRecord;
    if (undo.undoAux) disposeHandle(in, undo.undoAux);
    if (undo.undoStrokes) {
        const int32_t n = recordsIn(in, undo.undoStrokes, undo.undoCount, STROKE_RECORD_SIZE);
        if (n > 0) {
            auto *copies = lockHandle<PaintStroke>(in, undo.undoStrokes);
            for (int32_t i = 0; i < n; ++i)
                if (copies[i].points) disposeHandle(in, copies[i].points);
            unlockHandle(in, undo.undoStrokes);
        }
        disposeHandle(in, undo.undoStrokes);
    }
    undo = StrokeUndoRecord{};
}

void freeEditStateBlockOf(const HostInData *in, PaintSequence *seq) {
    if (seq->editState) disposeHandle(in, seq->editState);
    seq->editState = nullptr;
}

void pushUndoStrokeOf(const HostInData *in, PaintSequence *seq, PaintStroke copy) {
    StrokeUndoRecord &undo = seq->undoRecord;
    if (!undo.undoStrokes) {
        undo.undoStrokes = newHandle(in, STROKE_RECORD_SIZE);
        if (!undo.undoStrokes) return;
        undo.undoCount = 0;
    } else {
        const uint64_t before = handleSize(in, undo.undoStrokes);
        if (resizeHandle(in, &undo.undoStrokes, before + STROKE_RECORD_SIZE) != 0) return;
        if (handleSize(in, undo.undoStrokes) != before + STROKE_RECORD_SIZE) return;
    }
    if (undo.undoCount < 0 ||
        static_cast<uint64_t>(undo.undoCount) >= handleSize(in, undo.undoStrokes) / STROKE_RECORD_SIZE)
        return;
    if (undo.undoActive == 0) undo.undoActive = 1;
    // A saved copy never owns samples: the stroke keeps its own.
    copy.points = nullptr;
    auto *copies = lockHandle<PaintStroke>(in, undo.undoStrokes);
    copies[undo.undoCount] = copy;
    unlockHandle(in, undo.undoStrokes);
    ++undo.undoCount;
}

HostHandle disposeSequenceHandle(const HostInData *in, HostHandle h) {
    if (!h) return nullptr;
    // Only a 256-byte handle with a zero flatHeaderSize holds the handle tree;
    // anything else is one block of bytes.
    if (handleSize(in, h) != SEQUENCE_RECORD_SIZE) {
        disposeHandle(in, h);
        return nullptr;
    }
    auto *seq = lockHandle<PaintSequence>(in, h);
    if (seq->flatHeaderSize != 0) {
        unlockHandle(in, h);
        disposeHandle(in, h);
        return nullptr;
    }
    freeDrawOrderOf(in, seq);
    freeUndoRecordOf(in, seq);
    freeEditStateBlockOf(in, seq);
    if (seq->strokeTable) {
        const int32_t n = recordsIn(in, seq->strokeTable, seq->strokeCount, STROKE_RECORD_SIZE);
        auto *strokes = lockHandle<PaintStroke>(in, seq->strokeTable);
        for (int32_t i = 0; i < n; ++i)
            if (strokes[i].points) disposeHandle(in, strokes[i].points);
        unlockHandle(in, seq->strokeTable);
        disposeHandle(in, seq->strokeTable);
        seq->strokeTable = nullptr;
    }
    unlockHandle(in, h);
    disposeHandle(in, h);
    return nullptr;
}

HostHandle disposeSequence(const HostInData *in) { return disposeSequenceHandle(in, in->sequenceData); }

bool sequenceIsValid(const HostInData *in) {
    return in->sequenceData && handleSize(in, in->sequenceData) == SEQUENCE_RECORD_SIZE;
}

bool sequenceIsFlat(const HostInData *in, HostHandle sequence) {
    if (!sequence) return false;
    // Too short to hold the field at all: certainly not the memory form.
    if (handleSize(in, sequence) < offsetof(PaintSequence, flatHeaderSize) + sizeof(uint32_t))
        return true;
    const bool flat = lockHandle<PaintSequence>(in, sequence)->flatHeaderSize != 0;
    unlockHandle(in, sequence);
    return flat;
}

int32_t getStrokeCount(const HostInData *in) {
    if (!sequenceIsValid(in)) return -1;
    const int32_t count = lockHandle<PaintSequence>(in, in->sequenceData)->strokeCount;
    unlockHandle(in, in->sequenceData);
    return count;
}

HostHandle getStrokeTable(const HostInData *in) {
    if (!sequenceIsValid(in)) return nullptr;
    HostHandle table = lockHandle<PaintSequence>(in, in->sequenceData)->strokeTable;
    unlockHandle(in, in->sequenceData);
    return table;
}

int32_t getSelectionActive(const HostInData *in) {
    if (!sequenceIsValid(in)) return 0;
    const int32_t active = lockHandle<PaintSequence>(in, in->sequenceData)->selectionActive;
    unlockHandle(in, in->sequenceData);
    return active;
}

bool getStrokeBrush(const HostInData *in, int32_t index, BrushSettings *out) {
    if (index < 0 || !sequenceIsValid(in)) return false;
    auto *seq = lockHandle<PaintSequence>(in, in->sequenceData);
    const bool ok = strokeIndexUsable(in, seq, index);
    if (ok) {
        *out = lockHandle<PaintStroke>(in, seq->strokeTable)[index].brush;
        unlockHandle(in, seq->strokeTable);
    }
    unlockHandle(in, in->sequenceData);
    return ok;
}

void setStrokeBrush(const HostInData *in, int32_t index, const BrushSettings &brush) {
    if (index < 0 || !sequenceIsValid(in)) return;
    auto *seq = lockHandle<PaintSequence>(in, in->sequenceData);
    if (strokeIndexUsable(in, seq, index)) {
        auto *strokes = lockHandle<PaintStroke>(in, seq->strokeTable);
        pushUndoStrokeOf(in, seq, strokes[index]);
        // The change happens whether or not the copy could be saved.
        strokes[index].brush = brush;
        unlockHandle(in, seq->strokeTable);
    }
    unlockHandle(in, in->sequenceData);
}

void invalidateDrawOrder(const HostInData *in) {
    if (!sequenceIsValid(in)) return;
    auto *seq = lockHandle<PaintSequence>(in, in->sequenceData);
    seq->drawOrder.orderValid = 0;
    seq->drawOrder.orderCount = seq->strokeCount;
    unlockHandle(in, in->sequenceData);
}

void pushUndoStroke(const HostInData *in, PaintStroke copy) {
    if (!sequenceIsValid(in)) return;
    pushUndoStrokeOf(in, lockHandle<PaintSequence>(in, in->sequenceData), copy);
    unlockHandle(in, in->sequenceData);
}

void freeUndoRecord(const HostInData *in) {
    if (!sequenceIsValid(in)) return;
    freeUndoRecordOf(in, lockHandle<PaintSequence>(in, in->sequenceData));
    unlockHandle(in, in->sequenceData);
}

void freeEditStateBlock(const HostInData *in) {
    if (!sequenceIsValid(in)) return;
    freeEditStateBlockOf(in, lockHandle<PaintSequence>(in, in->sequenceData));
    unlockHandle(in, in->sequenceData);
}

}  // namespace pennaro
