// The drawing as it lives in memory (the sequence data of one effect
// instance) and as it is saved (the flattened block). These layouts are part
// of saved projects: sizes and offsets are checked at compile time and must
// never drift. Private to the effect and its tools.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pennaro/host_records.h"

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

struct PaintPoint {
    float time;
    float x;
    float y;
    float pressure;
};

struct PaintStroke {
    int32_t strokeId;
    float startTime;
    float duration;
    BrushSettings brush;
    int32_t drawCount;
    int32_t selected;
    int32_t pointCount;
    HostHandle points;
    uint32_t flatPointBytes;
    uint32_t flatPointOffset;
};

struct DrawOrderCache {
    int32_t orderValid;
    int32_t orderCount;
    HostHandle order;
    double lastSelectionTime;
};

struct StrokeUndoRecord {
    int32_t undoActive;
    uint32_t reserved;
    HostHandle undoAux;
    int32_t undoCount;
    HostHandle undoStrokes;
};

struct EditStateBlock {
    uint8_t bytes[EDIT_STATE_BLOCK_SIZE];
};

struct PaintSequence {
    uint32_t formatVersion;
    uint32_t byteOrderMark;
    uint32_t flatHeaderSize;
    uint32_t strokeRecordSize;
    uint32_t pointRecordSize;
    int32_t strokeCount;
    HostHandle strokeTable;
    uint32_t strokeTableSize;
    uint32_t strokeTableOffset;
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
    DrawOrderCache drawOrder;
    StrokeUndoRecord undoRecord;
    HostHandle editState;
};

// ---- the flattened block: 32-bit words only, so reversing every word's bytes
// converts it between byte orders.

struct FlatDrawingHeader {
    uint32_t formatVersion;
    uint32_t byteOrderMark;
    uint32_t flatHeaderSize;
    uint32_t strokeRecordSize;
    uint32_t pointRecordSize;
    int32_t strokeCount;
    uint32_t hasStrokeTable;
    uint32_t strokeTableSize;
    uint32_t strokeTableOffset;
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
    uint32_t reserved[12];
};

struct FlatStrokeRecord {
    int32_t strokeId;
    float startTime;
    float duration;
    BrushSettings brush;
    int32_t drawCount;
    int32_t selected;
    int32_t pointCount;
    uint32_t hasPoints;
    uint32_t flatPointBytes;
    uint32_t flatPointOffset;
};

static_assert(sizeof(BrushSettings) == 32);
static_assert(sizeof(BrushAttributeMask) == 24);
static_assert(sizeof(PaintPoint) == POINT_RECORD_SIZE);
static_assert(sizeof(PaintStroke) == STROKE_RECORD_SIZE);
static_assert(offsetof(PaintStroke, brush) == 12);
static_assert(offsetof(PaintStroke, drawCount) == 44);
static_assert(offsetof(PaintStroke, pointCount) == 52);
static_assert(offsetof(PaintStroke, points) == 56);
static_assert(offsetof(PaintStroke, flatPointBytes) == 64);
static_assert(offsetof(PaintStroke, flatPointOffset) == 68);
static_assert(sizeof(DrawOrderCache) == 24);
static_assert(sizeof(StrokeUndoRecord) == 32);
static_assert(sizeof(PaintSequence) == SEQUENCE_RECORD_SIZE);
static_assert(offsetof(PaintSequence, strokeCount) == 20);
static_assert(offsetof(PaintSequence, strokeTable) == 24);
static_assert(offsetof(PaintSequence, strokeTableSize) == 32);
static_assert(offsetof(PaintSequence, toolMode) == 40);
static_assert(offsetof(PaintSequence, currentBrush) == 72);
static_assert(offsetof(PaintSequence, currentBrushMask) == 104);
static_assert(offsetof(PaintSequence, selectionActive) == 128);
static_assert(offsetof(PaintSequence, alternateBrush) == 132);
static_assert(offsetof(PaintSequence, alternateBrushMask) == 164);
static_assert(offsetof(PaintSequence, drawOrder) == 192);
static_assert(offsetof(PaintSequence, undoRecord) == 216);
static_assert(offsetof(PaintSequence, editState) == 248);
static_assert(sizeof(FlatDrawingHeader) == FLAT_HEADER_SIZE);
static_assert(offsetof(FlatDrawingHeader, hasStrokeTable) == 24);
static_assert(offsetof(FlatDrawingHeader, toolMode) == 36);
static_assert(offsetof(FlatDrawingHeader, reservedSettings) == 52);
static_assert(offsetof(FlatDrawingHeader, currentBrush) == 68);
static_assert(offsetof(FlatDrawingHeader, currentBrushMask) == 100);
static_assert(offsetof(FlatDrawingHeader, selectionActive) == 124);
static_assert(offsetof(FlatDrawingHeader, alternateBrush) == 128);
static_assert(offsetof(FlatDrawingHeader, alternateBrushMask) == 160);
static_assert(offsetof(FlatDrawingHeader, reserved) == 184);
static_assert(sizeof(FlatStrokeRecord) == FLAT_STROKE_RECORD_SIZE);
static_assert(offsetof(FlatStrokeRecord, brush) == 12);
static_assert(offsetof(FlatStrokeRecord, hasPoints) == 56);
static_assert(offsetof(FlatStrokeRecord, flatPointOffset) == 64);

}  // namespace pennaro
