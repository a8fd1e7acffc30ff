// Structural check of a flattened block, shared by the effect's reader and
// the tools so both refuse exactly the same blocks. Header-only and free of
// host calls: it only looks at bytes that lie inside the block.
#pragma once

#include <cstdint>
#include <cstring>

#include "drawing/records.h"

namespace pennaro {

enum class FlatBlockProblem : int32_t {
    None = 0,
    ShortHeader,           // fewer than 232 bytes
    NegativeStrokeCount,   // strokeCount < 0
    StrokesWithoutTable,   // hasStrokeTable 0 but strokeCount > 0
    TablePastEnd,          // the stroke records reach past the block's end
    NegativePointCount,    // a stroke with pointCount < 0
    SamplesPastEnd,        // a stroke's sample block reaches past the end
    SamplesTooShort,       // pointCount x 16 > flatPointBytes
};

struct FlatBlockCheck {
    FlatBlockProblem problem = FlatBlockProblem::None;
    int32_t stroke = -1;  // the stroke concerned, for the per-stroke problems
};

// Reads one record at any byte offset without assuming alignment.
template <typename T>
inline T readFlatRecord(const uint8_t *block, uint64_t offset) {
    T value;
    std::memcpy(&value, block + offset, sizeof(T));
    return value;
}

// `block` is in this machine's byte order. Everything is computed in 64 bits
// so that no offset + size can wrap around.
inline FlatBlockCheck checkFlatBlock(const uint8_t *block, uint64_t size) {
    FlatBlockCheck result;
    if (size < FLAT_HEADER_SIZE) {
        result.problem = FlatBlockProblem::ShortHeader;
        return result;
    }
    const auto header = readFlatRecord<FlatDrawingHeader>(block, 0);
    if (header.strokeCount < 0) {
        result.problem = FlatBlockProblem::NegativeStrokeCount;
        return result;
    }
    if (header.hasStrokeTable == 0) {
        if (header.strokeCount > 0) result.problem = FlatBlockProblem::StrokesWithoutTable;
        return result;
    }
    const uint64_t count = static_cast<uint64_t>(header.strokeCount);
    const uint64_t tableOffset = header.strokeTableOffset;
    if (tableOffset + count * FLAT_STROKE_RECORD_SIZE > size) {
        result.problem = FlatBlockProblem::TablePastEnd;
        return result;
    }
    for (uint64_t i = 0; i < count; ++i) {
        const auto stroke =
            readFlatRecord<FlatStrokeRecord>(block, tableOffset + i * FLAT_STROKE_RECORD_SIZE);
        result.stroke = static_cast<int32_t>(i);
        if (stroke.pointCount < 0) {
            result.problem = FlatBlockProblem::NegativePointCount;
            return result;
        }
        if (static_cast<uint64_t>(stroke.flatPointOffset) + stroke.flatPointBytes > size) {
            result.problem = FlatBlockProblem::SamplesPastEnd;
            return result;
        }
        if (static_cast<uint64_t>(stroke.pointCount) * POINT_RECORD_SIZE > stroke.flatPointBytes) {
            result.problem = FlatBlockProblem::SamplesTooShort;
            return result;
        }
    }
    result.stroke = -1;
    return result;
}

}  // namespace pennaro
