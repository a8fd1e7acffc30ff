#include "cli/drawings/expansion.h"

#include <algorithm>
#include <utility>

#include "format/block.h"
#include "cli/core/errors.h"
#include "cli/core/memory_budget.h"

namespace pennaro_cli {

DrawingExpansion measureExpansion(const std::vector<uint8_t> &block) {
    DrawingExpansion e;
    const pennaro::BlockInspection seen = pennaro::inspectBlock(block.data(), block.size());
    if (seen.status != pennaro::ReadStatus::Read) return e;
    auto read = [&](auto record, uint64_t offset) {
        using T = decltype(record);
        return seen.otherByteOrder ? pennaro::readSwappedRecord<T>(block.data(), block.size(), offset)
                                   : pennaro::readRecord<T>(block.data(), offset);
    };
    const auto header = read(pennaro::FlatDrawingHeader{}, 0);
    e.readable = true;
    e.strokes = header.hasStrokeTable ? header.layout.strokeCount : 0;
    // The stroke table lies inside the block (the inspection checked it), so
    // this list is bounded by the file's size.
    std::vector<std::pair<uint64_t, uint64_t>> ranges;
    ranges.reserve(size_t(e.strokes));
    for (int32_t i = 0; i < e.strokes; ++i) {
        const auto s = read(pennaro::FlatStrokeRecord{},
                            header.strokeTableOffset + uint64_t(i) * pennaro::FLAT_STROKE_RECORD_SIZE);
        e.samples += uint64_t(s.info.pointCount);
        e.sampleBytes += s.flatPointBytes;
        if (s.flatPointBytes) ranges.emplace_back(s.flatPointOffset, uint64_t(s.flatPointOffset) + s.flatPointBytes);
    }
    std::sort(ranges.begin(), ranges.end());
    uint64_t coveredTo = 0;
    for (const auto &[begin, end] : ranges) {
        if (begin < coveredTo) e.shared = true;
        e.heldSampleBytes += end > std::max(begin, coveredTo) ? end - std::max(begin, coveredTo) : 0;
        coveredTo = std::max(coveredTo, end);
    }
    e.memoryBytes = pennaro::SEQUENCE_RECORD_SIZE + pennaro::EDIT_STATE_BLOCK_SIZE +
                    uint64_t(e.strokes) * pennaro::STROKE_RECORD_SIZE + e.sampleBytes;
    return e;
}

uint64_t bytesNeeded(const DrawingExpansion &e, Expansion what) {
    switch (what) {
    case Expansion::Render: return e.memoryBytes;
    case Expansion::Resave:
        // The drawing in memory and the block saved from it, side by side.
        return e.memoryBytes + pennaro::FLAT_HEADER_SIZE + uint64_t(e.strokes) * pennaro::FLAT_STROKE_RECORD_SIZE +
               e.sampleBytes;
    case Expansion::Json: return e.samples * JSON_BYTES_PER_SAMPLE + uint64_t(e.strokes) * JSON_BYTES_PER_STROKE;
    }
    return 0;
}

std::string describeSharing(const DrawingExpansion &e) {
    if (!e.shared) return {};
    return "strokes share sample bytes: " + std::to_string(e.strokes) + " strokes claim " +
           formatMemorySize(e.sampleBytes) + " of samples held in " + formatMemorySize(e.heldSampleBytes);
}

void refuseBeyondBudget(const DrawingExpansion &e, Expansion what, const std::string &name) {
    const uint64_t needed = bytesNeeded(e, what), budget = memoryBudget();
    if (!e.readable || needed <= budget) return;
    static const char *const verbs[] = {"rendering it", "saving it again", "converting it to JSON"};
    const std::string sharing = describeSharing(e);
    throw ToolError(name + ": refused: " + verbs[int(what)] + " would take " + formatMemorySize(needed) +
                    ", beyond the memory budget of " + formatMemorySize(budget) +
                    (sharing.empty() ? "" : " (" + sharing + ")") + "; --max-memory sets the budget");
}

}  // namespace pennaro_cli
