#include "format/drawing.h"

#include <cstring>

namespace pennaro {

namespace {

// Up to this version the brush kinds were numbered one higher and sizes
// meant something slightly different; later versions only need
// re-stamping.
constexpr uint32_t LAST_VERSION_WITH_OLD_BRUSHES = 264;

void freeUndoRecord(Allocator &memory, PaintSequence &drawing) {
    StrokeUndoRecord &undo = drawing.undoRecord;
    if (undo.undoAux) memory.dispose(undo.undoAux);
    if (undo.undoStrokes) {
        const int32_t n = recordsIn(memory, undo.undoStrokes, undo.undoCount, STROKE_RECORD_SIZE);
        if (n > 0) {
            Locked<PaintStroke> copies(memory, undo.undoStrokes);
            for (int32_t i = 0; i < n; ++i)
                if (copies[i].points) memory.dispose(copies[i].points);
        }
        memory.dispose(undo.undoStrokes);
    }
    undo = StrokeUndoRecord{};
}

// Saves a copy of a stroke in the undo record; a copy that cannot be saved
// is simply not saved.
void pushUndoStroke(Allocator &memory, PaintSequence &drawing, PaintStroke copy) {
    StrokeUndoRecord &undo = drawing.undoRecord;
    if (!undo.undoStrokes) {
        undo.undoStrokes = memory.newHandle(STROKE_RECORD_SIZE);
        if (!undo.undoStrokes) return;
        undo.undoCount = 0;
    } else {
        const uint64_t before = memory.size(undo.undoStrokes);
        if (memory.resize(&undo.undoStrokes, before + STROKE_RECORD_SIZE) != 0) return;
        if (memory.size(undo.undoStrokes) != before + STROKE_RECORD_SIZE) return;
    }
    if (undo.undoCount < 0 ||
        static_cast<uint64_t>(undo.undoCount) >= memory.size(undo.undoStrokes) / STROKE_RECORD_SIZE)
        return;
    if (undo.undoActive == 0) undo.undoActive = 1;
    // A saved copy never owns samples: the stroke keeps its own.
    copy.points = nullptr;
    Locked<PaintStroke>(memory, undo.undoStrokes)[undo.undoCount] = copy;
    ++undo.undoCount;
}

// Converts one brush of an old drawing. The size arithmetic follows the old
// renderer exactly: single precision for the round brush, double precision
// rounded back to single for the rest.
void convertBrush(BrushSettings &brush) {
    if ((brush.brushMode & BRUSH_KIND_MASK) == BRUSH_KIND_ROUND) {
        brush.size = brush.size + 1.5f;
        brush.softness = 0.0f;
        return;
    }
    brush.brushMode = brush.brushMode - 1u;  // wraps for kind 0, keeps the erase bit
    const uint32_t kind = brush.brushMode & BRUSH_KIND_MASK;
    if (kind == BRUSH_KIND_ROUND) {
        brush.size = static_cast<float>((1.0 - static_cast<double>(brush.softness) * 0.5) *
                                        static_cast<double>(brush.size));
    } else if (kind == BRUSH_KIND_SOFT) {
        brush.size = static_cast<float>(static_cast<double>(brush.size) * 0.5);
    }
}

}  // namespace

int32_t recordsIn(Allocator &memory, MemoryHandle table, int32_t count, uint64_t recordSize) {
    if (!table || count < 1) return 0;
    const uint64_t fits = memory.size(table) / recordSize;
    return fits < static_cast<uint64_t>(count) ? static_cast<int32_t>(fits) : count;
}

MemoryHandle newEditStateBlock(Allocator &memory) {
    MemoryHandle h = memory.newHandle(EDIT_STATE_BLOCK_SIZE);
    if (!h) return nullptr;
    std::memset(Locked<>(memory, h).get(), 0, EDIT_STATE_BLOCK_SIZE);
    return h;
}

MemoryHandle createDrawing(Allocator &memory) {
    MemoryHandle h = memory.newHandle(SEQUENCE_RECORD_SIZE);
    if (!h) return nullptr;
    Locked<PaintSequence> drawing(memory, h);
    std::memset(drawing.get(), 0, sizeof(PaintSequence));
    drawing->layout = DrawingLayout{FORMAT_VERSION, BYTE_ORDER_MARK, 0, STROKE_RECORD_SIZE, POINT_RECORD_SIZE, 0};
    drawing->tools.toolMode = 1;
    drawing->tools.toolOption = 1;
    drawing->tools.currentBrush = DEFAULT_BRUSH;
    drawing->tools.currentBrushMask = FULL_BRUSH_MASK;
    drawing->tools.alternateBrush = DEFAULT_BRUSH;
    drawing->tools.alternateBrushMask = FULL_BRUSH_MASK;
    // A drawing without its edit-state block is still a drawing.
    drawing->editState = newEditStateBlock(memory);
    return h;
}

void freeDrawOrder(Allocator &memory, DrawOrderCache &cache) {
    if (cache.order) memory.dispose(cache.order);
    cache.orderValid = 0;
    cache.orderCount = 0;
    cache.order = nullptr;
    cache.lastSelectionTime = 0.0;
}

void freeRunTimeParts(Allocator &memory, PaintSequence &drawing) {
    freeDrawOrder(memory, drawing.drawOrder);
    freeUndoRecord(memory, drawing);
    if (drawing.editState) memory.dispose(drawing.editState);
    drawing.editState = nullptr;
}

MemoryHandle disposeDrawing(Allocator &memory, MemoryHandle h) {
    if (!h) return nullptr;
    // Only a record-sized handle with a zero flatHeaderSize holds the tree
    // of blocks; anything else is one block of bytes.
    if (memory.size(h) != SEQUENCE_RECORD_SIZE) {
        memory.dispose(h);
        return nullptr;
    }
    {
        Locked<PaintSequence> drawing(memory, h);
        if (drawing->layout.flatHeaderSize == 0) {
            freeRunTimeParts(memory, *drawing);
            if (drawing->strokeTable) {
                const int32_t n =
                    recordsIn(memory, drawing->strokeTable, drawing->layout.strokeCount, STROKE_RECORD_SIZE);
                {
                    Locked<PaintStroke> strokes(memory, drawing->strokeTable);
                    for (int32_t i = 0; i < n; ++i)
                        if (strokes[i].points) memory.dispose(strokes[i].points);
                }
                memory.dispose(drawing->strokeTable);
                drawing->strokeTable = nullptr;
            }
        }
    }
    memory.dispose(h);
    return nullptr;
}

bool isDrawingRecord(Allocator &memory, MemoryHandle h) { return h && memory.size(h) == SEQUENCE_RECORD_SIZE; }

bool isFlattened(Allocator &memory, MemoryHandle h) {
    if (!h) return false;
    // Too short to hold the field at all: certainly not the memory form.
    if (memory.size(h) < offsetof(DrawingLayout, flatHeaderSize) + sizeof(uint32_t)) return true;
    return Locked<PaintSequence>(memory, h)->layout.flatHeaderSize != 0;
}

int32_t strokeCount(Allocator &memory, MemoryHandle h) {
    if (!isDrawingRecord(memory, h)) return -1;
    return Locked<PaintSequence>(memory, h)->layout.strokeCount;
}

bool convertDrawingVersion(Allocator &memory, MemoryHandle h) {
    if (!isDrawingRecord(memory, h)) return false;
    const auto version = static_cast<int32_t>(Locked<PaintSequence>(memory, h)->layout.formatVersion);
    if (version == static_cast<int32_t>(FORMAT_VERSION)) return false;
    const bool convert = version <= static_cast<int32_t>(LAST_VERSION_WITH_OLD_BRUSHES);
    Locked<PaintSequence> drawing(memory, h);
    if (convert) {
        const int32_t count = drawing->layout.strokeCount;
        const int32_t usable = recordsIn(memory, drawing->strokeTable, count, STROKE_RECORD_SIZE);
        for (int32_t i = 0; i < usable; ++i) {
            Locked<PaintStroke> strokes(memory, drawing->strokeTable);
            BrushSettings brush = strokes[i].info.brush;
            convertBrush(brush);
            pushUndoStroke(memory, *drawing, strokes[i]);
            // The change happens whether or not the copy could be saved.
            strokes[i].info.brush = brush;
        }
    }
    drawing->layout.formatVersion = FORMAT_VERSION;
    return convert;
}

}  // namespace pennaro
