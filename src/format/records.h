// The drawing as it lives in memory (the sequence data of one effect
// instance) and as it is saved (the flattened block). These layouts are part
// of saved projects: sizes and offsets are checked at compile time and must
// never drift. The memory form and the saved form share their sub-records,
// so moving a drawing between them copies a few whole records.
#pragma once

#include <cstddef>
#include <cstdint>

#include "format/memory.h"

namespace pennaro {

inline constexpr uint32_t FORMAT_VERSION = 272;
inline constexpr uint32_t BYTE_ORDER_MARK = 0x01000000u;
inline constexpr uint32_t FLAT_HEADER_SIZE = 232;
inline constexpr uint32_t FLAT_STROKE_RECORD_SIZE = 68;
inline constexpr uint32_t SEQUENCE_RECORD_SIZE = 256;
inline constexpr uint32_t STROKE_RECORD_SIZE = 72;
inline constexpr uint32_t POINT_RECORD_SIZE = 16;
inline constexpr uint32_t EDIT_STATE_BLOCK_SIZE = 284;

inline constexpr uint32_t BRUSH_KIND_MASK = 7;
inline constexpr uint32_t BRUSH_KIND_ROUND = 1;
inline constexpr uint32_t BRUSH_KIND_SOFT = 2;
inline constexpr uint32_t BRUSH_KIND_SQUARE = 3;
inline constexpr uint32_t BRUSH_ERASE = 8;

inline constexpr uint32_t PRESSURE_SCALES_SIZE = 1;
inline constexpr uint32_t PRESSURE_SCALES_OPACITY = 2;

struct BrushSettings {
    float red;
    float green;
    float blue;
    float opacity;
    float size;
    uint32_t brushMode;
    float softness;
    uint32_t pressureFlags;
};

struct BrushAttributeMask {
    uint32_t color;
    uint32_t opacity;
    uint32_t size;
    uint32_t brushMode;
    uint32_t softness;
    uint32_t pressureFlags;
};

// The brush a new drawing starts with: opaque white, round, size 5, the
// pressure scaling the size.
inline constexpr BrushSettings DEFAULT_BRUSH = {1.0f, 1.0f, 1.0f, 1.0f, 5.0f, BRUSH_KIND_ROUND, 0.0f,
                                               PRESSURE_SCALES_SIZE};
inline constexpr BrushAttributeMask FULL_BRUSH_MASK = {1, 1, 1, 1, 1, 1};

struct PaintPoint {
    float time;  // seconds since the stroke's start
    float x;     // fractions of the layer's width and height
    float y;
    float pressure;
};

// ---- shared by both forms

// The words that say how the rest of the drawing is laid out.
struct DrawingLayout {
    uint32_t formatVersion;
    uint32_t byteOrderMark;
    uint32_t flatHeaderSize;  // 0 in the memory form
    uint32_t strokeRecordSize;
    uint32_t pointRecordSize;
    int32_t strokeCount;
};

// The drawing tool's state, saved with the drawing and otherwise unused.
struct ToolState {
    int32_t toolMode;
    int32_t previousToolMode;
    int32_t toolModeSwapped;
    int32_t toolOption;
    uint32_t reservedSettings[4];
    BrushSettings currentBrush;
    BrushAttributeMask currentBrushMask;
    int32_t selectionActive;
    BrushSettings alternateBrush;
    BrushAttributeMask alternateBrushMask;
};

struct StrokeInfo {
    int32_t strokeId;
    float startTime;  // layer time in seconds
    float duration;
    BrushSettings brush;
    int32_t drawCount;  // set by every render's selection
    int32_t selected;
    int32_t pointCount;
};

// ---- the memory form

struct PaintStroke {
    StrokeInfo info;
    MemoryHandle points;  // pointCount PaintPoints
    uint32_t flatPointBytes;
    uint32_t flatPointOffset;
};

struct DrawOrderCache {
    int32_t orderValid;
    int32_t orderCount;
    MemoryHandle order;  // one stroke index per drawing position
    double lastSelectionTime;
};

struct StrokeUndoRecord {
    int32_t undoActive;
    uint32_t reserved;
    MemoryHandle undoAux;
    int32_t undoCount;
    MemoryHandle undoStrokes;
};

struct PaintSequence {
    DrawingLayout layout;
    MemoryHandle strokeTable;
    uint32_t strokeTableSize;
    uint32_t strokeTableOffset;
    ToolState tools;
    DrawOrderCache drawOrder;
    StrokeUndoRecord undoRecord;
    MemoryHandle editState;  // EDIT_STATE_BLOCK_SIZE bytes
};

// ---- the flattened block: 32-bit words only, so reversing every word's
// bytes converts it between byte orders.

struct FlatDrawingHeader {
    DrawingLayout layout;
    uint32_t hasStrokeTable;
    uint32_t strokeTableSize;
    uint32_t strokeTableOffset;
    ToolState tools;
    uint32_t reserved[12];
};

struct FlatStrokeRecord {
    StrokeInfo info;
    uint32_t hasPoints;
    uint32_t flatPointBytes;
    uint32_t flatPointOffset;
};

static_assert(sizeof(MemoryHandle) == 8, "the memory form is laid out for 64-bit hosts");
static_assert(sizeof(BrushSettings) == 32);
static_assert(sizeof(BrushAttributeMask) == 24);
static_assert(sizeof(PaintPoint) == POINT_RECORD_SIZE);
static_assert(sizeof(DrawingLayout) == 24);
static_assert(sizeof(ToolState) == 148);
static_assert(offsetof(ToolState, currentBrush) == 32);
static_assert(offsetof(ToolState, selectionActive) == 88);
static_assert(offsetof(ToolState, alternateBrushMask) == 124);
static_assert(sizeof(StrokeInfo) == 56);
static_assert(offsetof(StrokeInfo, brush) == 12);
static_assert(offsetof(StrokeInfo, drawCount) == 44);
static_assert(offsetof(StrokeInfo, pointCount) == 52);
static_assert(sizeof(PaintStroke) == STROKE_RECORD_SIZE);
static_assert(offsetof(PaintStroke, points) == 56);
static_assert(offsetof(PaintStroke, flatPointBytes) == 64);
static_assert(offsetof(PaintStroke, flatPointOffset) == 68);
static_assert(sizeof(DrawOrderCache) == 24);
static_assert(sizeof(StrokeUndoRecord) == 32);
static_assert(sizeof(PaintSequence) == SEQUENCE_RECORD_SIZE);
static_assert(offsetof(PaintSequence, strokeTable) == 24);
static_assert(offsetof(PaintSequence, strokeTableSize) == 32);
static_assert(offsetof(PaintSequence, tools) == 40);
static_assert(offsetof(PaintSequence, drawOrder) == 192);
static_assert(offsetof(PaintSequence, undoRecord) == 216);
static_assert(offsetof(PaintSequence, editState) == 248);
static_assert(sizeof(FlatDrawingHeader) == FLAT_HEADER_SIZE);
static_assert(offsetof(FlatDrawingHeader, hasStrokeTable) == 24);
static_assert(offsetof(FlatDrawingHeader, strokeTableOffset) == 32);
static_assert(offsetof(FlatDrawingHeader, tools) == 36);
static_assert(offsetof(FlatDrawingHeader, reserved) == 184);
static_assert(sizeof(FlatStrokeRecord) == FLAT_STROKE_RECORD_SIZE);
static_assert(offsetof(FlatStrokeRecord, hasPoints) == 56);
static_assert(offsetof(FlatStrokeRecord, flatPointOffset) == 64);

}  // namespace pennaro
