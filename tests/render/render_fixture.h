// A drawing in test memory for the render's steps: a stroke table with
// every stroke's samples, built from a short list.
#pragma once

#include "format/drawing.h"
#include "raster/raster_fixture.h"
#include "render/selection.h"

namespace render_test {

using namespace raster_test;

struct StrokeSpec {
    int32_t id;
    float start;
    std::vector<PaintPoint> points;  // times relative to the start
    BrushSettings brush;
};

// `count` samples at (x, y), 0.1 s apart; an opaque square brush of
// radius 2 in the given colour.
inline StrokeSpec dot(int32_t id, float start, float x = 0.5f, float y = 0.5f, int32_t count = 1,
                      float red = 1, float green = 1, float blue = 1) {
    StrokeSpec s{id, start, {}, {red, green, blue, 1.0f, 2.0f, BRUSH_KIND_SQUARE, 0.0f, 0}};
    for (int32_t i = 0; i < count; ++i) s.points.push_back({0.1f * float(i), x, y, 1.0f});
    return s;
}

class Drawing {
public:
    TestMemory &memory;
    PaintSequence seq{};

    Drawing(TestMemory &m, const std::vector<StrokeSpec> &list) : memory(m) {
        // No order built yet: each position draws the stroke at that index.
        seq.layout.strokeCount = seq.drawOrder.orderCount = int32_t(list.size());
        if (list.empty()) return;
        seq.strokeTable = m.newHandle(list.size() * sizeof(PaintStroke));
        Locked<PaintStroke> table(m, seq.strokeTable);
        for (size_t i = 0; i < list.size(); ++i) {
            table[i] = newStroke(m, list[i].points, list[i].brush, list[i].points.size());
            table[i].info.strokeId = list[i].id;
            table[i].info.startTime = list[i].start;
        }
    }
    ~Drawing() {
        freeDrawOrder(memory, seq.drawOrder);
        if (!seq.strokeTable) return;
        {
            Locked<PaintStroke> table(memory, seq.strokeTable);
            for (int32_t i = 0; i < seq.layout.strokeCount; ++i) memory.dispose(table[i].points);
        }
        memory.dispose(seq.strokeTable);
    }

    void setDrawCounts(const std::vector<int32_t> &counts) {
        Locked<PaintStroke> table(memory, seq.strokeTable);
        for (size_t i = 0; i < counts.size(); ++i) table[i].info.drawCount = counts[i];
    }
    // Selects for a drawing time in seconds and frames of `frame` seconds;
    // the draw counts.
    std::vector<int32_t> select(int32_t mode, double time, double frame, const OnionSkinPrefs &onion = {},
                                bool selectionActive = false) {
        Locked<PaintStroke> table(memory, seq.strokeTable);
        selectStrokes(memory, table.get(), seq.layout.strokeCount, selectionActive, SelectionTime{mode, time, frame},
                      onion);
        std::vector<int32_t> counts;
        for (int32_t i = 0; i < seq.layout.strokeCount; ++i) counts.push_back(table[i].info.drawCount);
        return counts;
    }
    // A valid stored order.
    void setOrder(const std::vector<int32_t> &order) {
        freeDrawOrder(memory, seq.drawOrder);
        seq.drawOrder.order = memory.newHandle(order.size() * sizeof(int32_t));
        std::memcpy(Locked<int32_t>(memory, seq.drawOrder.order).get(), order.data(), order.size() * sizeof(int32_t));
        seq.drawOrder.orderCount = int32_t(order.size());
        seq.drawOrder.orderValid = 1;
    }
};

}  // namespace render_test
