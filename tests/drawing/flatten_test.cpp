// The saved block: its exact layout, the flatten command, and reading it
// back in both byte orders.
#include "drawing_fixture.h"

namespace drawing_test {
namespace {

using Flatten = DrawingHost;

TEST_F(Flatten, TwoStrokesLayOutAsDocumented) {
    makeThreeAndFive();
    const std::vector<PaintPoint> first = samples(3), second = samples(5, 0.01f);
    handOver(host.in.sequenceData);
    const std::vector<uint8_t> b = flattenedBytes();
    ASSERT_EQ(b.size(), 496u);
    EXPECT_EQ(host.out.flatSize, 496);
    EXPECT_EQ(drawingHandles(), 1u) << "only the block is left";
    const auto h = recordAt<FlatDrawingHeader>(b, 0);
    EXPECT_EQ(h.formatVersion, 272u);
    EXPECT_EQ(h.byteOrderMark, 0x01000000u);
    EXPECT_EQ(b[4], 0);
    EXPECT_EQ(h.flatHeaderSize, 232u);
    EXPECT_EQ(h.strokeRecordSize, 72u);
    EXPECT_EQ(h.pointRecordSize, 16u);
    EXPECT_EQ(h.strokeCount, 2);
    EXPECT_EQ(h.hasStrokeTable, 1u);
    EXPECT_EQ(h.strokeTableSize, 136u);
    EXPECT_EQ(h.strokeTableOffset, 360u);
    EXPECT_EQ(h.toolMode, 3);
    EXPECT_EQ(h.toolOption, 4);
    EXPECT_EQ(h.reservedSettings[2], 0xABCDu);
    EXPECT_EQ(h.selectionActive, 1);
    EXPECT_EQ(h.currentBrush.size, 12.5f);
    EXPECT_EQ(h.alternateBrushMask.size, 0u);
    EXPECT_EQ(std::vector<uint8_t>(b.begin() + 184, b.begin() + 232), std::vector<uint8_t>(48, 0));
    EXPECT_EQ(std::memcmp(b.data() + 232, first.data(), 48), 0);
    EXPECT_EQ(std::memcmp(b.data() + 280, second.data(), 80), 0);
    const auto r0 = recordAt<FlatStrokeRecord>(b, 360), r1 = recordAt<FlatStrokeRecord>(b, 428);
    EXPECT_EQ(r0.strokeId, 11);
    EXPECT_EQ(r0.flatPointOffset, 232u);
    EXPECT_EQ(r0.flatPointBytes, 48u);
    EXPECT_EQ(r0.pointCount, 3);
    EXPECT_EQ(r0.hasPoints, 1u);
    EXPECT_EQ(r0.drawCount, 7);
    EXPECT_EQ(r1.flatPointOffset, 280u);
    EXPECT_EQ(r1.flatPointBytes, 80u);
    EXPECT_EQ(r1.brush.brushMode, BRUSH_KIND_SQUARE | BRUSH_ERASE);
    EXPECT_EQ(r1.selected, 1);
    EXPECT_EQ(r1.duration, second.back().time);
}

// Reading the 496-byte block back gives the same drawing, in either byte
// order, with fresh run-time parts.
class ReadBack : public DrawingHost, public ::testing::WithParamInterface<bool> {};

TEST_P(ReadBack, RestoresTheDrawing) {
    const bool reversed = GetParam();
    makeThreeAndFive();
    setStrokeBrush(in, 0, brushOf(BRUSH_KIND_SOFT, 8.0f, 0.5f));  // leaves an undo copy behind
    const PaintSequence before = sequence();
    const std::vector<PaintStroke> beforeStrokes = strokes();
    handOver(host.in.sequenceData);
    std::vector<uint8_t> b = flattenedBytes();
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    if (reversed) swapWords(b);
    handOver(handleWith(b));
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(message(), "");
    minihost::unlockHandle(host.in.sequenceData);

    const PaintSequence after = sequence();
    EXPECT_EQ(after.flatHeaderSize, 0u);
    EXPECT_EQ(after.formatVersion, 272u);
    EXPECT_EQ(after.byteOrderMark, 0x01000000u);
    EXPECT_EQ(after.strokeCount, 2);
    EXPECT_EQ(after.strokeTableSize, 136u);
    EXPECT_EQ(after.strokeTableOffset, 360u);
    // Header fields from toolMode to alternateBrushMask come back verbatim.
    EXPECT_EQ(std::memcmp(&after.toolMode, &before.toolMode,
                          offsetof(PaintSequence, drawOrder) - offsetof(PaintSequence, toolMode)),
              0);
    EXPECT_EQ(after.drawOrder.orderValid, 0);
    EXPECT_EQ(after.drawOrder.orderCount, 2);
    EXPECT_EQ(after.drawOrder.order, nullptr);
    EXPECT_EQ(after.undoRecord.undoCount, 0);
    EXPECT_EQ(after.undoRecord.undoStrokes, nullptr);
    ASSERT_NE(after.editState, nullptr);
    const std::vector<PaintStroke> got = strokes();
    ASSERT_EQ(got.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(got[i].strokeId, beforeStrokes[i].strokeId);
        EXPECT_EQ(got[i].startTime, beforeStrokes[i].startTime);
        EXPECT_EQ(got[i].duration, beforeStrokes[i].duration);
        EXPECT_EQ(std::memcmp(&got[i].brush, &beforeStrokes[i].brush, sizeof(BrushSettings)), 0);
        EXPECT_EQ(got[i].drawCount, beforeStrokes[i].drawCount);
        EXPECT_EQ(got[i].selected, beforeStrokes[i].selected);
        EXPECT_EQ(got[i].pointCount, beforeStrokes[i].pointCount);
        EXPECT_NE(got[i].points, beforeStrokes[i].points);
        EXPECT_EQ(minihost::getHandleSize(got[i].points), 16u * got[i].pointCount);
    }
    EXPECT_EQ(std::memcmp(pointsOf(got[1]).data(), samples(5, 0.01f).data(), 80), 0);
    EXPECT_EQ(got[0].flatPointOffset, 232u);
    EXPECT_EQ(got[1].flatPointBytes, 80u);
    minihost::lockHandle(host.in.sequenceData);

    // And saving it again gives the little-endian block again.
    if (reversed) swapWords(b);
    EXPECT_EQ(flattenedBytes(), b);
}

INSTANTIATE_TEST_SUITE_P(ByteOrders, ReadBack, ::testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Reversed" : "Native"; });

TEST_F(Flatten, WithoutAStrokeTableTheBlockIsJustTheHeader) {
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_SETUP), 0);
    const std::vector<uint8_t> b = flattenedBytes();
    ASSERT_EQ(b.size(), 232u);
    const auto h = recordAt<FlatDrawingHeader>(b, 0);
    EXPECT_EQ(h.hasStrokeTable, 1u);
    EXPECT_EQ(h.strokeTableSize, 0u);
    EXPECT_EQ(h.strokeTableOffset, 0u);
    ASSERT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(message(), "");
    minihost::unlockHandle(host.in.sequenceData);
    EXPECT_EQ(getStrokeCount(in), 0);
    const HostHandle table = getStrokeTable(in);
    ASSERT_NE(table, nullptr) << "an empty stroke table";
    EXPECT_EQ(minihost::getHandleSize(table), 0u);
    minihost::lockHandle(host.in.sequenceData);
    // Saving that drawing again puts its (empty) table right after the header.
    const auto again = recordAt<FlatDrawingHeader>(flattenedBytes(), 0);
    EXPECT_EQ(again.strokeTableOffset, 232u);
}

TEST_F(Flatten, EachFormPassesThroughTheOtherDirectionUnchanged) {
    makeThreeAndFive();
    const HostHandle memory = host.in.sequenceData;
    EXPECT_EQ(unflattenSequence(in, out), memory);
    EXPECT_EQ(message(), "");
    host.in.sequenceData = flattenSequence(in);
    const HostHandle flat = host.in.sequenceData;
    const std::vector<uint8_t> b = bytesOf(flat);
    EXPECT_EQ(flattenSequence(in), flat);
    EXPECT_EQ(bytesOf(flat), b);
    handOver(flat);
}

TEST_F(Flatten, CommandFailures) {
    // No sequence data at all.
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 517);
    EXPECT_EQ(message(), text(2));
    EXPECT_TRUE(displayed());
    EXPECT_EQ(host.in.sequenceData, nullptr);

    // A "flattened" handle of no bytes is damage.
    handOver(handleWith({}));
    host.out.flatSize = 99;
    EXPECT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 4);
    EXPECT_EQ(message(), text(4));
    EXPECT_EQ(message(), "Drawing damaged, strokes will be lost. : Pennaro");
    EXPECT_TRUE(displayed());
    EXPECT_EQ(host.out.flatSize, 0);
    EXPECT_EQ(host.in.sequenceData, nullptr);
    EXPECT_EQ(drawingHandles(), 0u);
}

}  // namespace
}  // namespace drawing_test
