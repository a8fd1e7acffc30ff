// The drawing in memory: creation, disposal and the accessors the render,
// the rasterizer and persistence use. All take the command's HostInData for
// the sequence data handle and the host's handle operations.
#pragma once

#include "drawing/records.h"

namespace pennaro {

HostHandle createSequence(const HostInData *in);
// Frees whatever the sequence data handle holds, in either form. Always null.
HostHandle disposeSequence(const HostInData *in);
bool sequenceIsValid(const HostInData *in);
bool sequenceIsFlat(const HostInData *in, HostHandle sequence);
int32_t getStrokeCount(const HostInData *in);
HostHandle getStrokeTable(const HostInData *in);
int32_t getSelectionActive(const HostInData *in);
bool getStrokeBrush(const HostInData *in, int32_t index, BrushSettings *out);
void setStrokeBrush(const HostInData *in, int32_t index, const BrushSettings &brush);
void makeDefaultBrush(BrushSettings *out);
void makeFullBrushMask(BrushAttributeMask *out);
void freeDrawOrder(const HostInData *in, DrawOrderCache *cache);
void invalidateDrawOrder(const HostInData *in);
void pushUndoStroke(const HostInData *in, PaintStroke copy);
void freeUndoRecord(const HostInData *in);
HostHandle newEditStateBlock(const HostInData *in);
void freeEditStateBlock(const HostInData *in);

// Frees one drawing handle in either form (the instance's, or one being
// built that is not the instance's yet). Always null.
HostHandle disposeSequenceHandle(const HostInData *in, HostHandle sequence);

// The same operations on a sequence record the caller has locked, for code
// that already holds the record (a second lock of the same handle is never
// taken).
void freeDrawOrderOf(const HostInData *in, PaintSequence *sequence);
void freeUndoRecordOf(const HostInData *in, PaintSequence *sequence);
void freeEditStateBlockOf(const HostInData *in, PaintSequence *sequence);
void pushUndoStrokeOf(const HostInData *in, PaintSequence *sequence, PaintStroke copy);

}  // namespace pennaro
