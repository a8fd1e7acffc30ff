#include "render_fixture.h"

#include <cstring>

#include <gtest/gtest.h>

#include "params/param_ids.h"

namespace render_test {

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

Rig::Rig(int32_t width, int32_t height, bool deep)
    : plugin(std::make_unique<minihost::Plugin>(PENNARO_PLUGIN_PATH)),
      layer(width, height, deep, 12),
      output(width, height, deep, 4) {
    misuseAtStart_ = minihost::handleStats().misuse;
    plugin->registerEffect();
    host.setLayer(&layer.world());
    setLayerPattern();
    send(HOST_CMD_GLOBAL_SETUP);
    send(HOST_CMD_PARAMS_SETUP);
    send(HOST_CMD_SEQUENCE_SETUP);
}

Rig::~Rig() {
    host.faults = minihost::Faults{};
    send(HOST_CMD_SEQUENCE_SETDOWN);
    send(HOST_CMD_GLOBAL_SETDOWN);
    // Every handle operation of the instance's life was well formed.
    EXPECT_EQ(minihost::handleStats().misuse, misuseAtStart_);
}

int32_t Rig::send(int32_t command) { return host.send(plugin->entry(), command, &output.world()); }
int32_t Rig::render() { return send(HOST_CMD_RENDER); }

void Rig::setLayerPattern() {
    for (int32_t y = 0; y < layer.height(); ++y)
        for (int32_t x = 0; x < layer.width(); ++x) {
            const uint16_t v = uint16_t(40 + (x * 7 + y * 13) % 150);
            if (layer.deep())
                layer.pixel16(x, y) = {32768, uint16_t(v * 128), uint16_t(v * 64), uint16_t(v * 100)};
            else
                layer.pixel8(x, y) = {255, uint8_t(v), uint8_t(v / 2), uint8_t(255 - v)};
        }
}

void Rig::setStrokes(const std::vector<TestStroke> &list) {
    HostHandle seqHandle = host.in.sequenceData;
    auto *seq = static_cast<PaintSequence *>(minihost::lockHandle(seqHandle));
    if (seq->strokeTable) {
        auto *old = static_cast<PaintStroke *>(minihost::lockHandle(seq->strokeTable));
        for (int32_t i = 0; i < seq->strokeCount; ++i)
            if (old[i].points) minihost::disposeHandle(old[i].points);
        minihost::unlockHandle(seq->strokeTable);
        minihost::disposeHandle(seq->strokeTable);
        seq->strokeTable = nullptr;
    }
    seq->strokeCount = int32_t(list.size());
    seq->drawOrder.orderValid = 0;
    if (!list.empty()) {
        seq->strokeTable = minihost::newHandle(list.size() * sizeof(PaintStroke));
        auto *table = static_cast<PaintStroke *>(minihost::lockHandle(seq->strokeTable));
        for (size_t i = 0; i < list.size(); ++i) {
            PaintStroke s{};
            s.strokeId = list[i].id;
            s.startTime = list[i].startTime;
            s.duration = list[i].points.empty() ? 0.0f : list[i].points.back().time;
            s.brush = list[i].brush;
            s.pointCount = int32_t(list[i].points.size());
            if (!list[i].points.empty()) {
                s.points = minihost::newHandle(list[i].points.size() * sizeof(PaintPoint));
                std::memcpy(minihost::lockHandle(s.points), list[i].points.data(),
                            list[i].points.size() * sizeof(PaintPoint));
                minihost::unlockHandle(s.points);
            }
            table[i] = s;
        }
        minihost::unlockHandle(seq->strokeTable);
    }
    minihost::unlockHandle(seqHandle);
}

std::vector<PaintStroke> Rig::strokes() {
    HostHandle seqHandle = host.in.sequenceData;
    auto *seq = static_cast<PaintSequence *>(minihost::lockHandle(seqHandle));
    std::vector<PaintStroke> result;
    if (seq->strokeTable && seq->strokeCount > 0) {
        auto *table = static_cast<PaintStroke *>(minihost::lockHandle(seq->strokeTable));
        result.assign(table, table + seq->strokeCount);
        minihost::unlockHandle(seq->strokeTable);
    }
    minihost::unlockHandle(seqHandle);
    return result;
}

std::vector<int32_t> Rig::drawCounts() {
    std::vector<int32_t> counts;
    for (const PaintStroke &s : strokes()) counts.push_back(s.drawCount);
    return counts;
}

std::vector<int32_t> Rig::order(bool *valid) {
    HostHandle seqHandle = host.in.sequenceData;
    auto *seq = static_cast<PaintSequence *>(minihost::lockHandle(seqHandle));
    std::vector<int32_t> result;
    if (valid) *valid = seq->drawOrder.orderValid != 0;
    if (seq->drawOrder.order) {
        auto *order = static_cast<int32_t *>(minihost::lockHandle(seq->drawOrder.order));
        result.assign(order, order + seq->drawOrder.orderCount);
        minihost::unlockHandle(seq->drawOrder.order);
    }
    minihost::unlockHandle(seqHandle);
    return result;
}

void Rig::setFrame(int32_t frame, int32_t fps) { host.setTime(frame, 1, uint32_t(fps)); }

bool Rig::outputIsZero() const {
    for (uint8_t b : output.packedPixels())
        if (b != 0) return false;
    return true;
}

}  // namespace render_test
