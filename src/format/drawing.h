// The drawing in memory: one PaintSequence block owning its stroke table,
// every stroke's samples, the draw order, the undo record and the
// edit-state block. Every block is locked only while its bytes are read or
// written.
#pragma once

#include "format/records.h"

namespace pennaro {

// A new empty drawing (with its edit-state block when there is memory for
// it), or null when there is no memory for the record itself.
MemoryHandle createDrawing(Allocator &memory);

// Frees whatever the handle holds, in either form. Always null.
MemoryHandle disposeDrawing(Allocator &memory, MemoryHandle drawing);

// The handle is the size of the memory-form record.
bool isDrawingRecord(Allocator &memory, MemoryHandle drawing);
// The handle holds a flattened block (or is too short to be the memory
// form); false for null.
bool isFlattened(Allocator &memory, MemoryHandle drawing);
// The record's stroke count, -1 when the handle is not a drawing record.
int32_t strokeCount(Allocator &memory, MemoryHandle drawing);

// Number of whole records of `recordSize` bytes that fit in a block, capped
// at `count`: every walk over a table is capped by it, so a count that
// disagrees with the table's size can never take us past its end.
int32_t recordsIn(Allocator &memory, MemoryHandle table, int32_t count, uint64_t recordSize);

void freeDrawOrder(Allocator &memory, DrawOrderCache &cache);
// The parts that only live at run time: draw order, undo record and
// edit-state block. Never saved.
void freeRunTimeParts(Allocator &memory, PaintSequence &drawing);
MemoryHandle newEditStateBlock(Allocator &memory);

// Brings a memory-form drawing of an earlier format version up to date:
// re-stamped, or, up to the version whose brush kinds were numbered one
// higher, every stroke's brush converted (each change saved in the undo
// record first). True when brushes were converted, which changes how the
// drawing looks.
bool convertDrawingVersion(Allocator &memory, MemoryHandle drawing);

}  // namespace pennaro
