// Drawings built in memory and blocks as bytes, for the format's tests. Every
// test runs on TestMemory and must end with nothing leaked, nothing locked and
// no call on a block that was not there.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <vector>

#include "support/drawing_content.h"
#include "format/block.h"
#include "format/drawing.h"
#include "support/memory.h"

namespace format_test {

using namespace pennaro;
using Bytes = std::vector<uint8_t>;
using test_support::drawingContent;

// Stroke i of a drawing is numbered 11 + i and starts at 0.5 + 0.75 i s; its
// samples are 0.04 s apart.
struct StrokeDef {
    BrushSettings brush;
    int points;
};

inline BrushSettings brushOf(uint32_t mode, float size, float softness = 0.0f) {
    BrushSettings b = DEFAULT_BRUSH;
    b.brushMode = mode;
    b.size = size;
    b.softness = softness;
    return b;
}

template <typename T>
void putRecord(Bytes &b, size_t offset, const T &v) {
    std::memcpy(b.data() + offset, &v, sizeof v);
}
// The block as a machine of the other byte order has it (trailing bytes that
// are no whole word stay), written out here rather than with the format's own.
inline Bytes swapped(Bytes b) {
    for (size_t i = 0; i + 4 <= b.size(); i += 4) std::reverse(b.begin() + long(i), b.begin() + long(i) + 4);
    return b;
}

class FormatTest : public ::testing::Test {
protected:
    test_support::TestMemory memory;

    void TearDown() override {
        EXPECT_EQ(memory.live(), 0u) << "blocks leaked";
        EXPECT_EQ(memory.locked(), 0u) << "blocks left locked";
        EXPECT_EQ(memory.misuse(), 0) << "calls on blocks that were not there, or unlocks too many";
    }

    MemoryHandle handleWith(const Bytes &bytes) {
        MemoryHandle h = memory.newHandle(bytes.size());
        if (!bytes.empty()) std::memcpy(Locked<>(memory, h).get(), bytes.data(), bytes.size());
        return h;
    }
    Bytes bytesOf(MemoryHandle h) {
        Locked<> p(memory, h);
        return Bytes(p.get(), p.get() + memory.size(h));
    }
    Bytes contentOf(MemoryHandle drawing) {
        std::string problem;
        Bytes content = drawingContent(memory, drawing, problem);
        EXPECT_EQ(problem, "");
        return content;
    }
    PaintSequence recordOf(MemoryHandle drawing) { return *Locked<PaintSequence>(memory, drawing); }
    std::vector<PaintStroke> strokesOf(MemoryHandle drawing) {
        Locked<PaintStroke> t(memory, recordOf(drawing).strokeTable);
        return std::vector<PaintStroke>(t.get(), t.get() + recordOf(drawing).layout.strokeCount);
    }

    // A memory-form drawing of `version` with these strokes, and tool state
    // unlike a new drawing's.
    MemoryHandle makeDrawing(const std::vector<StrokeDef> &strokes, uint32_t version = FORMAT_VERSION) {
        MemoryHandle h = createDrawing(memory);
        Locked<PaintSequence> s(memory, h);
        s->layout.formatVersion = version;
        s->layout.strokeCount = static_cast<int32_t>(strokes.size());
        s->strokeTable = memory.newHandle(strokes.size() * sizeof(PaintStroke));
        Locked<PaintStroke> table(memory, s->strokeTable);
        for (size_t i = 0; i < strokes.size(); ++i) {
            const int32_t n = strokes[i].points;
            table[i] = {{int32_t(11 + i), 0.5f + 0.75f * float(i), 0.04f * float(n), strokes[i].brush, 7, int32_t(i % 2), n},
                        memory.newHandle(n * sizeof(PaintPoint)), 0, 0};
            Locked<PaintPoint> points(memory, table[i].points);
            for (float k = 0; k < float(n); ++k)
                points[size_t(k)] = {0.01f * float(i) + 0.04f * k, 0.1f + 0.05f * k, 0.9f - 0.03f * k, 0.5f + 0.1f * k};
        }
        uint32_t tools[sizeof(ToolState) / 4];  // every word different
        for (uint32_t w = 0; w < std::size(tools); ++w) tools[w] = 0x3F800000u + w;
        std::memcpy(&s->tools, tools, sizeof tools);
        return h;
    }
};

}  // namespace format_test
