// Record layouts on the ABI this test is built for. The drawing records'
// sizes and offsets are fixed at compile time by the header's own checks;
// here a real saved block is read through the records, so that on Windows
// (LLP64, 32-bit long) as on Linux (LP64) the fields land on the words the
// block format puts them at, and the host records keep the shape both
// sides of the library boundary rely on.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "drawing/records.h"
#include "pennaro/host_records.h"
#include "windows/reference_frames.h"

namespace {

using namespace pennaro;

uint32_t wordAt(const std::vector<uint8_t> &block, size_t offset) {
    uint32_t word;
    std::memcpy(&word, block.data() + offset, 4);
    return word;
}

float floatAt(const std::vector<uint8_t> &block, size_t offset) {
    float value;
    std::memcpy(&value, block.data() + offset, 4);
    return value;
}

TEST(RecordLayout, SavedBlockReadsThroughTheRecords) {
    std::vector<uint8_t> block =
        reference_frames::readFile(std::string(PENNARO_TEST_DATA_DIR) + "/conformance/raster-001.bin");
    ASSERT_GE(block.size(), sizeof(FlatDrawingHeader));
    ASSERT_EQ(block[4], 0) << "expected a block in this machine's byte order";

    FlatDrawingHeader header;
    std::memcpy(&header, block.data(), sizeof header);
    EXPECT_EQ(header.formatVersion, FORMAT_VERSION);
    EXPECT_EQ(header.byteOrderMark, BYTE_ORDER_MARK);
    EXPECT_EQ(header.flatHeaderSize, FLAT_HEADER_SIZE);
    EXPECT_EQ(header.strokeRecordSize, STROKE_RECORD_SIZE);
    EXPECT_EQ(header.pointRecordSize, POINT_RECORD_SIZE);
    EXPECT_EQ(uint32_t(header.strokeCount), wordAt(block, 20));
    EXPECT_EQ(header.strokeTableOffset, wordAt(block, 32));
    EXPECT_EQ(uint32_t(header.toolMode), wordAt(block, 36));
    EXPECT_EQ(header.currentBrush.size, floatAt(block, 68 + 16));
    EXPECT_EQ(header.currentBrush.brushMode, wordAt(block, 68 + 20));
    EXPECT_EQ(header.alternateBrush.pressureFlags, wordAt(block, 128 + 28));
    ASSERT_GT(header.strokeCount, 0);

    const size_t tableEnd = size_t(header.strokeTableOffset) + size_t(header.strokeCount) * FLAT_STROKE_RECORD_SIZE;
    ASSERT_EQ(tableEnd, block.size());
    for (int32_t i = 0; i < header.strokeCount; ++i) {
        const size_t at = header.strokeTableOffset + size_t(i) * FLAT_STROKE_RECORD_SIZE;
        FlatStrokeRecord stroke;
        std::memcpy(&stroke, block.data() + at, sizeof stroke);
        EXPECT_EQ(stroke.startTime, floatAt(block, at + 4));
        EXPECT_EQ(stroke.brush.opacity, floatAt(block, at + 12 + 12));
        EXPECT_EQ(uint32_t(stroke.pointCount), wordAt(block, at + 52));
        EXPECT_EQ(stroke.hasPoints, 1u);
        EXPECT_EQ(stroke.flatPointBytes, uint32_t(stroke.pointCount) * sizeof(PaintPoint));
        ASSERT_LE(size_t(stroke.flatPointOffset) + stroke.flatPointBytes, header.strokeTableOffset);
        PaintPoint first;
        std::memcpy(&first, block.data() + stroke.flatPointOffset, sizeof first);
        EXPECT_EQ(first.pressure, floatAt(block, stroke.flatPointOffset + 12));
    }
}

TEST(RecordLayout, HostRecordsKeepTheirShapeOnThisAbi) {
    // 32-bit fields are fixed-width types everywhere: on Windows `long` is
    // only 32 bits, so nothing in a record may depend on it.
    EXPECT_EQ(sizeof(HostPixel8), 4u);
    EXPECT_EQ(sizeof(HostPixel16), 8u);
    EXPECT_EQ(offsetof(HostPixel16, alpha), 0u);
    EXPECT_EQ(offsetof(HostPixel16, blue), 6u);
    EXPECT_EQ(offsetof(HostWorld, data), sizeof(void *));
    EXPECT_EQ(offsetof(HostWorld, rowBytes), 2 * sizeof(void *));
    EXPECT_EQ(sizeof(HostRational), 8u);
    EXPECT_EQ(offsetof(HostParam, name), 16u);
    EXPECT_EQ(offsetof(HostParam, u), 16u + HOST_PARAM_NAME_LEN + 8u);
    // Pointer-sized members make the memory-form records 64-bit only.
    static_assert(sizeof(void *) == 8, "the effect is built for 64-bit hosts only");
}

}  // namespace
