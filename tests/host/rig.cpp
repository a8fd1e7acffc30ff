#include "rig.h"

#include <cstring>

#include "catalog/params.h"

namespace host_test {

using namespace pennaro;

TestStroke dotStroke(int32_t id, float start, float x, float y, float red, float green, float blue,
                     int32_t count) {
    TestStroke s;
    s.id = id;
    s.startTime = start;
    for (int32_t i = 0; i < count; ++i) s.points.push_back({0.1f * float(i), x, y, 1.0f});
    s.brush = {red, green, blue, 1.0f, 2.0f, BRUSH_KIND_SQUARE, 0.0f, 0};
    return s;
}

Rig::Rig(int32_t width, int32_t height, bool deep, bool setUp)
    : layer(width, height, deep, 12), output(width, height, deep, 4) {
    liveAtStart = minihost::handleStats().live;
    EXPECT_EQ(plugin.registerEffect(), 0);
    host.setLayer(&layer.world());
    for (int32_t y = 0; y < layer.height(); ++y)
        for (int32_t x = 0; x < layer.width(); ++x) {
            const uint16_t v = uint16_t(40 + (x * 7 + y * 13) % 150);
            if (deep)
                layer.pixel16(x, y) = {32768, uint16_t(v * 128), uint16_t(v * 64), uint16_t(v * 100)};
            else
                layer.pixel8(x, y) = {255, uint8_t(v), uint8_t(v / 2), uint8_t(255 - v)};
        }
    if (!setUp) return;
    EXPECT_EQ(send(HOST_CMD_GLOBAL_SETUP), 0) << message();
    EXPECT_EQ(send(HOST_CMD_PARAMS_SETUP), 0) << message();
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETUP), 0) << message();
}

Rig::~Rig() {
    host.faults = minihost::Faults{};
    minihost::setStrictHandles(false);
    if (host.in.sequenceData) send(HOST_CMD_SEQUENCE_SETDOWN);
    if (host.in.globalData) send(HOST_CMD_GLOBAL_SETDOWN);
    // The instance's whole life left no memory behind and misused nothing
    // (images and suites a failing host kept are the tests' to judge).
    EXPECT_EQ(minihost::handleStats().live, liveAtStart);
    EXPECT_EQ(host.openStringTables(), 0);
    EXPECT_EQ(host.outstandingCheckouts(), 0);
    EXPECT_TRUE(host.protocolErrors().empty()) << host.protocolErrors().front();
}

int32_t Rig::send(int32_t command) { return host.send(plugin.entry(), command, &output.world()); }

void Rig::setStrokes(const std::vector<TestStroke> &list) {
    HostHandle handle = host.in.sequenceData;
    auto *drawing = static_cast<PaintSequence *>(minihost::lockHandle(handle));
    if (drawing->strokeTable) {
        auto *old = static_cast<PaintStroke *>(minihost::lockHandle(drawing->strokeTable));
        for (int32_t i = 0; i < drawing->layout.strokeCount; ++i)
            if (old[i].points) minihost::disposeHandle(old[i].points);
        minihost::unlockHandle(drawing->strokeTable);
        minihost::disposeHandle(drawing->strokeTable);
        drawing->strokeTable = nullptr;
    }
    drawing->layout.strokeCount = int32_t(list.size());
    drawing->drawOrder.orderValid = 0;
    if (!list.empty()) {
        drawing->strokeTable = minihost::newHandle(list.size() * sizeof(PaintStroke));
        auto *table = static_cast<PaintStroke *>(minihost::lockHandle(drawing->strokeTable));
        for (size_t i = 0; i < list.size(); ++i) {
            PaintStroke s{};
            s.info.strokeId = list[i].id;
            s.info.startTime = list[i].startTime;
            s.info.duration = list[i].points.empty() ? 0.0f : list[i].points.back().time;
            s.info.brush = list[i].brush;
            s.info.pointCount = int32_t(list[i].points.size());
            if (!list[i].points.empty()) {
                s.points = minihost::newHandle(list[i].points.size() * sizeof(PaintPoint));
                std::memcpy(minihost::lockHandle(s.points), list[i].points.data(),
                            list[i].points.size() * sizeof(PaintPoint));
                minihost::unlockHandle(s.points);
            }
            table[i] = s;
        }
        minihost::unlockHandle(drawing->strokeTable);
    }
    minihost::unlockHandle(handle);
}

std::vector<PaintStroke> Rig::strokes() {
    HostHandle handle = host.in.sequenceData;
    auto *drawing = static_cast<PaintSequence *>(minihost::lockHandle(handle));
    std::vector<PaintStroke> result;
    if (drawing->strokeTable && drawing->layout.strokeCount > 0) {
        auto *table = static_cast<PaintStroke *>(minihost::lockHandle(drawing->strokeTable));
        result.assign(table, table + drawing->layout.strokeCount);
        minihost::unlockHandle(drawing->strokeTable);
    }
    minihost::unlockHandle(handle);
    return result;
}

bool Rig::orderValid() { return static_cast<const PaintSequence *>(*host.in.sequenceData)->drawOrder.orderValid != 0; }

void Rig::setFrame(int32_t frame, int32_t fps) { host.setTime(frame, 1, uint32_t(fps)); }

bool Rig::outputIsZero() const {
    for (uint8_t b : output.packedPixels())
        if (b != 0) return false;
    return true;
}

}  // namespace host_test
