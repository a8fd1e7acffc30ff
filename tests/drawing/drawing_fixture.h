// A stand-in host with the effect's global set-up done in process, and
// helpers to build drawings in memory and hand them over like the host.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "drawing/lifecycle.h"
#include "drawing/records.h"
#include "drawing/sequence.h"
#include "host/entry.h"
#include "host/globals.h"
#include "minihost/minihost.h"

namespace drawing_test {

using namespace pennaro;

struct StrokeSpec {
    int32_t strokeId;
    float startTime;
    BrushSettings brush;
    std::vector<PaintPoint> points;
};

inline BrushSettings brushOf(uint32_t mode, float size, float softness = 0.0f) {
    BrushSettings b;
    makeDefaultBrush(&b);
    b.brushMode = mode;
    b.size = size;
    b.softness = softness;
    return b;
}

inline std::vector<PaintPoint> samples(int n, float t0 = 0.0f) {
    std::vector<PaintPoint> v;
    for (int i = 0; i < n; ++i)
        v.push_back({t0 + 0.04f * static_cast<float>(i), 0.1f + 0.05f * static_cast<float>(i),
                     0.9f - 0.03f * static_cast<float>(i), 0.5f + 0.1f * static_cast<float>(i % 5)});
    return v;
}

class DrawingHost : public ::testing::Test {
protected:
    minihost::Host host;
    HostInData *in = &host.in;
    HostOutData *out = &host.out;

    void SetUp() override {
        minihost::disposeAllHandles();
        baseline_ = minihost::handleStats().live;
        ASSERT_EQ(send(HOST_CMD_GLOBAL_SETUP), 0);
        // PaintGlobals is the one handle that lives across the test.
        baseline_ = minihost::handleStats().live;
    }

    void TearDown() override {
        host.faults.newHandle.disarm();
        host.faults.resizeHandle.disarm();
        if (host.in.sequenceData) {
            // Drawings built in process are unlocked; the host keeps them
            // locked between commands.
            if (minihost::handleInfo(host.in.sequenceData).lockCount == 0) minihost::lockHandle(host.in.sequenceData);
            send(HOST_CMD_SEQUENCE_SETDOWN);
        }
        send(HOST_CMD_GLOBAL_SETDOWN);
        EXPECT_EQ(minihost::handleStats().live, 0u) << "handles leaked";
        EXPECT_TRUE(host.protocolErrors().empty()) << host.protocolErrors().front();
        minihost::disposeAllHandles();
        minihost::setStrictHandles(false);
    }

    // A command through the effect's FilterMain, as the host sends it.
    int32_t send(int32_t command) { return host.send(&pennaro::filterMain, command); }

    // Handles alive besides PaintGlobals.
    uint64_t drawingHandles() const { return minihost::handleStats().live - baseline_; }

    std::string message() const { return std::string(host.out.message); }
    bool displayed() const { return (host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR) != 0; }
    void clearMessage() {
        host.out.message[0] = '\0';
        host.out.outFlags = 0;
    }
    std::string text(int32_t n) { return std::string(host.in.lookupString(globals()->stringTable, n, 0, 0)) + " : Pennaro"; }
    PaintGlobals *globals() { return static_cast<PaintGlobals *>(*host.in.globalData); }

    // Builds a memory-form drawing with the given strokes as the instance's
    // sequence data (unlocked, for in-process calls).
    void makeDrawing(const std::vector<StrokeSpec> &strokes) {
        HostHandle seq = createSequence(in);
        ASSERT_NE(seq, nullptr);
        auto *s = static_cast<PaintSequence *>(minihost::lockHandle(seq));
        s->strokeCount = static_cast<int32_t>(strokes.size());
        s->strokeTable = minihost::newHandle(strokes.size() * sizeof(PaintStroke));
        auto *table = static_cast<PaintStroke *>(minihost::lockHandle(s->strokeTable));
        for (size_t i = 0; i < strokes.size(); ++i) {
            PaintStroke &st = table[i];
            std::memset(&st, 0, sizeof st);
            st.strokeId = strokes[i].strokeId;
            st.startTime = strokes[i].startTime;
            st.duration = strokes[i].points.empty() ? 0.0f : strokes[i].points.back().time;
            st.brush = strokes[i].brush;
            st.pointCount = static_cast<int32_t>(strokes[i].points.size());
            st.selected = static_cast<int32_t>(i % 2);
            st.drawCount = 7;
            st.points = minihost::newHandle(strokes[i].points.size() * sizeof(PaintPoint));
            if (!strokes[i].points.empty())
                std::memcpy(minihost::lockHandle(st.points), strokes[i].points.data(),
                            strokes[i].points.size() * sizeof(PaintPoint));
            else
                minihost::lockHandle(st.points);
            minihost::unlockHandle(st.points);
        }
        minihost::unlockHandle(s->strokeTable);
        s->toolMode = 3;
        s->toolOption = 4;
        s->reservedSettings[2] = 0xABCD;
        s->selectionActive = 1;
        s->currentBrush = brushOf(2, 12.5f, 0.25f);
        s->alternateBrushMask.size = 0;
        minihost::unlockHandle(seq);
        host.in.sequenceData = seq;
    }

    void makeThreeAndFive() {
        makeDrawing({{11, 0.5f, brushOf(BRUSH_KIND_SOFT, 8.0f, 0.5f), samples(3)},
                     {12, 1.25f, brushOf(BRUSH_KIND_SQUARE | BRUSH_ERASE, 20.0f), samples(5, 0.01f)}});
    }

    // Hands a handle to the effect as the sequence data between commands
    // (the host keeps it locked then).
    void handOver(HostHandle h) {
        minihost::lockHandle(h);
        host.in.sequenceData = h;
        host.out.sequenceData = h;
    }

    HostHandle handleWith(const std::vector<uint8_t> &bytes) {
        HostHandle h = minihost::newHandle(bytes.size());
        if (!bytes.empty()) std::memcpy(minihost::lockHandle(h), bytes.data(), bytes.size());
        else minihost::lockHandle(h);
        minihost::unlockHandle(h);
        return h;
    }

    static std::vector<uint8_t> bytesOf(HostHandle h) {
        const uint64_t size = minihost::getHandleSize(h);
        auto *p = static_cast<const uint8_t *>(minihost::lockHandle(h));
        std::vector<uint8_t> v(p, p + size);
        minihost::unlockHandle(h);
        return v;
    }

    // Flattens the instance's drawing through FilterMain and returns the
    // block's bytes (the block stays the sequence data).
    std::vector<uint8_t> flattenedBytes() {
        EXPECT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 0) << message();
        if (!host.in.sequenceData) return {};
        return bytesOf(host.in.sequenceData);
    }

    // The memory-form record of the instance (a copy).
    PaintSequence sequence() {
        PaintSequence s;
        std::memcpy(&s, minihost::lockHandle(host.in.sequenceData), sizeof s);
        minihost::unlockHandle(host.in.sequenceData);
        return s;
    }

    std::vector<PaintStroke> strokes() {
        PaintSequence s = sequence();
        std::vector<PaintStroke> v;
        if (!s.strokeTable) return v;
        auto *t = static_cast<PaintStroke *>(minihost::lockHandle(s.strokeTable));
        v.assign(t, t + s.strokeCount);
        minihost::unlockHandle(s.strokeTable);
        return v;
    }

    static std::vector<PaintPoint> pointsOf(const PaintStroke &s) {
        auto *p = static_cast<PaintPoint *>(minihost::lockHandle(s.points));
        std::vector<PaintPoint> v(p, p + s.pointCount);
        minihost::unlockHandle(s.points);
        return v;
    }

private:
    uint64_t baseline_ = 0;
};

inline void swapWords(std::vector<uint8_t> &b) {
    for (size_t i = 0; i + 4 <= b.size(); i += 4) {
        std::swap(b[i], b[i + 3]);
        std::swap(b[i + 1], b[i + 2]);
    }
}

template <typename T>
T recordAt(const std::vector<uint8_t> &b, size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

template <typename T>
void putRecord(std::vector<uint8_t> &b, size_t offset, const T &v) {
    std::memcpy(b.data() + offset, &v, sizeof v);
}

}  // namespace drawing_test
