// The drawing in memory: set-up defaults, accessors, brush changes with
// their undo copies, and freeing.
#include "drawing_fixture.h"

namespace drawing_test {
namespace {

using Model = DrawingHost;

TEST_F(Model, SetUpGivesAnEmptyDrawingWithDefaults) {
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_SETUP), 0);
    EXPECT_EQ(host.out.flatSize, 256);
    EXPECT_EQ(minihost::getHandleSize(host.in.sequenceData), 256u);
    EXPECT_EQ(minihost::handleInfo(host.in.sequenceData).lockCount, 1) << "locked between commands";
    minihost::unlockHandle(host.in.sequenceData);
    PaintSequence s = sequence();
    EXPECT_EQ(s.formatVersion, 272u);
    EXPECT_EQ(s.byteOrderMark, 0x01000000u);
    EXPECT_EQ(s.flatHeaderSize, 0u);
    EXPECT_EQ(s.strokeRecordSize, 72u);
    EXPECT_EQ(s.pointRecordSize, 16u);
    EXPECT_EQ(s.strokeCount, 0);
    EXPECT_EQ(s.strokeTable, nullptr);
    EXPECT_EQ(s.toolMode, 1);
    EXPECT_EQ(s.toolOption, 1);
    EXPECT_EQ(s.currentBrush.size, 5.0f);
    EXPECT_EQ(s.currentBrush.brushMode, 1u);
    EXPECT_EQ(s.currentBrush.pressureFlags, 1u);
    EXPECT_EQ(s.alternateBrushMask.pressureFlags, 1u);
    ASSERT_NE(s.editState, nullptr);
    EXPECT_EQ(bytesOf(s.editState), std::vector<uint8_t>(284, 0));
    EXPECT_EQ(getStrokeCount(in), 0);
    BrushSettings b{};
    EXPECT_FALSE(getStrokeBrush(in, 0, &b));
    minihost::lockHandle(host.in.sequenceData);
}

TEST_F(Model, AccessorsAnswerNeutrallyWithoutAMemoryForm) {
    BrushSettings untouched = brushOf(3, 42.0f), b = untouched;
    EXPECT_EQ(getStrokeCount(in), -1);
    EXPECT_EQ(getStrokeTable(in), nullptr);
    EXPECT_EQ(getSelectionActive(in), 0);
    EXPECT_FALSE(sequenceIsValid(in));
    makeThreeAndFive();
    handOver(host.in.sequenceData);
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 0);
    minihost::unlockHandle(host.in.sequenceData);
    EXPECT_TRUE(sequenceIsFlat(in, host.in.sequenceData));
    EXPECT_EQ(getStrokeCount(in), -1);
    EXPECT_EQ(getStrokeTable(in), nullptr);
    EXPECT_FALSE(getStrokeBrush(in, 0, &b));
    setStrokeBrush(in, 0, brushOf(1, 1.0f));
    EXPECT_EQ(std::memcmp(&b, &untouched, sizeof b), 0);
    minihost::lockHandle(host.in.sequenceData);
}

TEST_F(Model, StrokeBrushesByIndex) {
    makeThreeAndFive();
    BrushSettings b = brushOf(7, 1.0f);
    EXPECT_FALSE(getStrokeBrush(in, -1, &b));
    EXPECT_FALSE(getStrokeBrush(in, 2, &b));
    EXPECT_EQ(b.brushMode, 7u);
    ASSERT_TRUE(getStrokeBrush(in, 1, &b));
    EXPECT_EQ(b.brushMode, BRUSH_KIND_SQUARE | BRUSH_ERASE);
    EXPECT_EQ(b.size, 20.0f);
    EXPECT_EQ(getSelectionActive(in), 1);
}

TEST_F(Model, ChangingABrushKeepsUndoCopiesWithoutSamples) {
    makeThreeAndFive();
    const HostHandle ownPoints = strokes()[0].points;
    setStrokeBrush(in, 0, brushOf(1, 3.0f));
    setStrokeBrush(in, 0, brushOf(2, 4.0f));
    setStrokeBrush(in, 5, brushOf(2, 4.0f));  // out of range: nothing
    PaintSequence s = sequence();
    EXPECT_EQ(s.undoRecord.undoCount, 2);
    EXPECT_EQ(s.undoRecord.undoActive, 1);
    ASSERT_EQ(minihost::getHandleSize(s.undoRecord.undoStrokes), 144u);
    auto copies = bytesOf(s.undoRecord.undoStrokes);
    const auto first = recordAt<PaintStroke>(copies, 0), second = recordAt<PaintStroke>(copies, 72);
    EXPECT_EQ(first.points, nullptr);
    EXPECT_EQ(second.points, nullptr);
    EXPECT_EQ(first.brush.size, 8.0f) << "oldest first";
    EXPECT_EQ(second.brush.size, 3.0f);
    EXPECT_EQ(strokes()[0].points, ownPoints);
    EXPECT_EQ(strokes()[0].brush.size, 4.0f);

    // The undo record goes with a failed grow, but the change still happens.
    host.faults.resizeHandle.arm(1);
    setStrokeBrush(in, 1, brushOf(1, 9.0f));
    EXPECT_EQ(sequence().undoRecord.undoCount, 2);
    EXPECT_EQ(strokes()[1].brush.size, 9.0f);

    freeUndoRecord(in);
    s = sequence();
    const StrokeUndoRecord zero{};
    EXPECT_EQ(std::memcmp(&s.undoRecord, &zero, sizeof zero), 0);
    freeUndoRecord(in);  // an empty record only zeroes
}

TEST_F(Model, FreeingTheDrawOrderZeroesEveryField) {
    DrawOrderCache cache{1, 4, nullptr, 2.5};
    freeDrawOrder(in, &cache);
    EXPECT_EQ(cache.orderValid, 0);
    EXPECT_EQ(cache.orderCount, 0);
    EXPECT_EQ(cache.order, nullptr);
    EXPECT_EQ(cache.lastSelectionTime, 0.0);
    cache.order = minihost::newHandle(16);
    freeDrawOrder(in, &cache);
    EXPECT_EQ(drawingHandles(), 0u);
}

TEST_F(Model, SetDownFreesEveryHandleOfTheDrawing) {
    makeDrawing({{1, 0.0f, brushOf(1, 5.0f), samples(2)},
                 {2, 0.0f, brushOf(2, 5.0f), samples(4)},
                 {3, 0.0f, brushOf(3, 5.0f), samples(1)}});
    setStrokeBrush(in, 2, brushOf(1, 2.0f));
    // Three sample blocks, the table, the sequence, its edit state, the undo copies.
    EXPECT_EQ(drawingHandles(), 7u);
    handOver(host.in.sequenceData);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    EXPECT_EQ(host.in.sequenceData, nullptr);
    EXPECT_EQ(host.out.sequenceData, nullptr);
    EXPECT_EQ(drawingHandles(), 0u);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0) << "nothing to free";
}

TEST_F(Model, SetDownOfAFlattenedBlockDisposesThatOneHandle) {
    makeThreeAndFive();
    handOver(host.in.sequenceData);
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 0);
    EXPECT_EQ(drawingHandles(), 1u);
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    EXPECT_EQ(drawingHandles(), 0u);
}

}  // namespace
}  // namespace drawing_test
