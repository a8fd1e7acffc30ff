// What a memory-form drawing holds that is saved (layout, tool state, each
// stroke's record and sample block) as one byte string: two drawings with the
// same string draw the same. The walk reads everything the render relies on,
// so a drawing that breaks a promise of the reader is named, never read past
// its end. Shared with the reader's fuzz target: standard C++ only.
#pragma once

#include <string>
#include <vector>

#include "format/drawing.h"

namespace test_support {

// `problem` is empty when the drawing keeps every promise.
inline std::vector<uint8_t> drawingContent(pennaro::Allocator &memory, pennaro::MemoryHandle h, std::string &problem) {
    using namespace pennaro;
    std::vector<uint8_t> out;
    auto append = [&out](const void *p, uint64_t n) {
        out.insert(out.end(), static_cast<const uint8_t *>(p), static_cast<const uint8_t *>(p) + n);
    };
    problem = !isDrawingRecord(memory, h) || isFlattened(memory, h) ? "not a memory-form drawing" : "";
    if (!problem.empty()) return out;
    Locked<PaintSequence> drawing(memory, h);
    const int32_t count = drawing->layout.strokeCount;
    append(&drawing->layout, sizeof(DrawingLayout));
    append(&drawing->tools, sizeof(ToolState));
    if (count < 0) problem = "negative stroke count";
    if (count <= 0) return out;
    if (!drawing->strokeTable || memory.size(drawing->strokeTable) < uint64_t(count) * STROKE_RECORD_SIZE) {
        problem = "stroke table shorter than its count";
        return out;
    }
    Locked<PaintStroke> strokes(memory, drawing->strokeTable);
    for (int32_t i = 0; i < count && problem.empty(); ++i) {
        append(&strokes[i].info, sizeof(StrokeInfo));
        const uint64_t held = strokes[i].points ? memory.size(strokes[i].points) : 0;
        if (strokes[i].info.pointCount < 0 || held < uint64_t(strokes[i].info.pointCount) * POINT_RECORD_SIZE)
            problem = "stroke " + std::to_string(i) + " holds fewer samples than it counts";
        else if (held > 0)
            append(Locked<>(memory, strokes[i].points).get(), held);
    }
    return out;
}

}  // namespace test_support
