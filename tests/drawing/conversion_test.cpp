// Drawings of earlier versions that come back in memory form at re-set-up.
#include "drawing_fixture.h"

namespace drawing_test {
namespace {

class Conversion : public DrawingHost {
protected:
    void setVersion(uint32_t v) {
        auto *s = static_cast<PaintSequence *>(minihost::lockHandle(host.in.sequenceData));
        s->formatVersion = v;
        minihost::unlockHandle(host.in.sequenceData);
    }
    int32_t reSetUp() {
        handOver(host.in.sequenceData);
        const int32_t r = send(HOST_CMD_SEQUENCE_RESETUP);
        minihost::unlockHandle(host.in.sequenceData);
        return r;
    }
    void TearDown() override {
        if (host.in.sequenceData) minihost::lockHandle(host.in.sequenceData);
        DrawingHost::TearDown();
    }
};

// The current version is left byte for byte; later ones only get the
// current version stamped, in place.
TEST_F(Conversion, VersionsAfter264AreOnlyReStamped) {
    for (uint32_t v : {FORMAT_VERSION, 265u, 270u, 271u, 273u, 0x7FFFFFFFu}) {
        SCOPED_TRACE(v);
        makeThreeAndFive();
        setVersion(v);
        const HostHandle h = host.in.sequenceData;
        auto before = bytesOf(h);
        ASSERT_EQ(reSetUp(), 0);
        EXPECT_EQ(host.in.sequenceData, h);
        EXPECT_EQ(message(), "");
        putRecord(before, 0, FORMAT_VERSION);
        EXPECT_EQ(bytesOf(h), before);
        host.in.sequenceData = disposeSequence(in);
    }
}

TEST_F(Conversion, Version264BrushesAreConverted) {
    makeDrawing({{1, 0.0f, brushOf(1, 5.0f, 0.4f), samples(2)},
                 {2, 0.0f, brushOf(2, 10.0f, 0.5f), samples(2)},
                 {3, 0.0f, brushOf(3, 10.0f, 0.3f), samples(2)},
                 {4, 0.0f, brushOf(4, 10.0f, 0.3f), samples(2)},
                 {5, 0.0f, brushOf(11, 10.0f), samples(2)},
                 {6, 0.0f, brushOf(0, 7.0f), samples(2)},
                 {7, 0.0f, brushOf(10, 3.0f, 0.2f), samples(2)}});
    const auto pointsBefore = strokes()[0].points;
    setVersion(264);
    ASSERT_EQ(reSetUp(), 0);
    EXPECT_EQ(message(), "Drawing has been converted from an older version.#{cr}This can result in slight "
                         "changes in appearance. : Pennaro");
    EXPECT_FALSE(displayed());
    const PaintSequence s = sequence();
    EXPECT_EQ(s.formatVersion, 272u);
    EXPECT_EQ(s.undoRecord.undoCount, 7);
    const auto got = strokes();
    struct Want {
        uint32_t mode;
        float size, softness;
    };
    const Want want[] = {
        {1, 6.5f, 0.0f},
        {1, 7.5f, 0.5f},
        {2, 5.0f, 0.3f},
        {3, 10.0f, 0.3f},
        {10, 5.0f, 0.0f},
        {0xFFFFFFFFu, 7.0f, 0.0f},
        {9, static_cast<float>((1.0 - static_cast<double>(0.2f) * 0.5) * 3.0), 0.2f},
    };
    for (size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].brush.brushMode, want[i].mode);
        EXPECT_EQ(got[i].brush.size, want[i].size);
        EXPECT_EQ(got[i].brush.softness, want[i].softness);
        EXPECT_EQ(got[i].brush.red, 1.0f);
    }
    EXPECT_EQ(got[0].points, pointsBefore);
    // The undo record holds the brushes as they were.
    const auto copies = bytesOf(s.undoRecord.undoStrokes);
    EXPECT_EQ(recordAt<PaintStroke>(copies, 0).brush.size, 5.0f);
    EXPECT_EQ(recordAt<PaintStroke>(copies, 72).brush.brushMode, 2u);
}

TEST_F(Conversion, OldDrawingWithoutStrokesStillReportsTheConversion) {
    for (uint32_t v : {264u, 0u, 0x80000000u}) {
        SCOPED_TRACE(v);
        makeDrawing({});
        setVersion(v);
        clearMessage();
        ASSERT_EQ(reSetUp(), 0);
        EXPECT_EQ(message(), text(35));
        EXPECT_EQ(sequence().formatVersion, 272u);
        host.in.sequenceData = disposeSequence(in);
    }
}

}  // namespace
}  // namespace drawing_test
