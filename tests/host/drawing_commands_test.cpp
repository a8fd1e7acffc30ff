// The drawing's commands as the host sends them: set-up, re-set-up with
// every way a saved block can be refused (each with its message, shown or
// not), flatten and set-down, and the memory failures the host reports.
#include <cstring>

#include "format/block.h"
#include "rig.h"

namespace {

using namespace pennaro;

// A saved block of two strokes, as the effect itself writes it.
std::vector<uint8_t> savedBlock() {
    host_test::Rig rig;
    rig.setStrokes({host_test::dotStroke(1, 0.0f, 0.2f, 0.3f), host_test::dotStroke(2, 0.5f, 0.6f, 0.7f, 1, 1, 1, 3)});
    EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 0);
    HostHandle block = rig.host.in.sequenceData;
    const auto *bytes = static_cast<const uint8_t *>(*block);
    return std::vector<uint8_t>(bytes, bytes + minihost::getHandleSize(block));
}

// Hands `bytes` to the instance as the host does on project open (the old
// drawing set down first), locked as between commands.
void handOver(host_test::Rig &rig, const std::vector<uint8_t> &bytes) {
    rig.send(HOST_CMD_SEQUENCE_SETDOWN);
    HostHandle block = minihost::newHandle(bytes.size());
    std::memcpy(minihost::lockHandle(block), bytes.data(), bytes.size());
    rig.host.in.sequenceData = block;
}

TEST(DrawingCommands, SetUpMakesAnEmptyDrawingOrReportsNoMemory) {
    host_test::Rig rig;
    EXPECT_EQ(rig.host.out.flatSize, int32_t(SEQUENCE_RECORD_SIZE));
    EXPECT_EQ(minihost::getHandleSize(rig.host.in.sequenceData), SEQUENCE_RECORD_SIZE);
    rig.send(HOST_CMD_SEQUENCE_SETDOWN);
    EXPECT_EQ(rig.host.in.sequenceData, nullptr);
    rig.host.faults.newHandle.arm(1);
    EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_SETUP), 4);
    EXPECT_EQ(rig.message(), "Not enough memory. : Pennaro");
    EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
    EXPECT_EQ(rig.host.in.sequenceData, nullptr);
    // Re-set-up without data is a set-up.
    EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(rig.strokes().size(), 0u);
}

// Every way the reader can refuse a block: re-set-up still succeeds, with
// an empty drawing, and the message says why.
TEST(DrawingCommands, RefusedBlocksLeaveAnEmptyDrawingAndSayWhy) {
    const std::vector<uint8_t> block = savedBlock();
    std::vector<uint8_t> swapped = block, otherVersion = block;
    swapWords(swapped.data(), swapped.size());
    otherVersion[0] = 0x17;
    struct Case {
        const char *what;
        std::vector<uint8_t> bytes;
        int32_t failingNewHandle;
        const char *message;
        bool shown;
    } cases[] = {
        {"too short", std::vector<uint8_t>(block.begin(), block.begin() + 10), 0,
         "Could not open drawing. Unknown format. : Pennaro", false},
        {"no memory for the header", block, 1, "Not enough memory to open drawing. : Pennaro", true},
        {"no memory after the swap", swapped, 2, "Not enough memory to open drawing. : Pennaro", false},
        {"another version", otherVersion, 0, "Could not convert old drawing. : Pennaro", true},
        {"no memory for the drawing", block, 2,
         "Not enough memory to open drawing. Do NOT save this project! : Pennaro", true},
        {"no memory for the samples", block, 5,
         "Not enough memory to open drawing. Do NOT save this project! : Pennaro", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        host_test::Rig rig;
        handOver(rig, c.bytes);
        if (c.failingNewHandle) rig.host.faults.newHandle.arm(c.failingNewHandle);
        EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_RESETUP), 0);
        EXPECT_EQ(rig.message(), c.message);
        EXPECT_EQ((rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR) != 0, c.shown);
        rig.host.faults.newHandle.disarm();
        EXPECT_EQ(minihost::getHandleSize(rig.host.in.sequenceData), SEQUENCE_RECORD_SIZE);
        EXPECT_EQ(rig.strokes().size(), 0u);
    }
}

TEST(DrawingCommands, BlocksComeBackFromEitherByteOrderAndOldOnesAreConverted) {
    const std::vector<uint8_t> block = savedBlock();
    std::vector<uint8_t> swapped = block;
    swapWords(swapped.data(), swapped.size());
    for (const auto &bytes : {block, swapped}) {
        host_test::Rig rig;
        handOver(rig, bytes);
        EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_RESETUP), 0);
        EXPECT_EQ(rig.message(), "");
        ASSERT_EQ(rig.strokes().size(), 2u);
        EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 0);
        EXPECT_EQ(rig.host.out.flatSize, int32_t(block.size()));
        EXPECT_EQ(std::memcmp(*rig.host.in.sequenceData, block.data(), block.size()), 0);
    }
    // A drawing of an old version the host hands back in memory form is
    // converted in place and the conversion is said, not shown.
    host_test::Rig rig;
    rig.setStrokes({host_test::dotStroke(1, 0.0f, 0.5f, 0.5f)});
    static_cast<PaintSequence *>(*rig.host.in.sequenceData)->layout.formatVersion = 260;
    EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_RESETUP), 0);
    EXPECT_EQ(rig.message(),
              "Drawing has been converted from an older version.#{cr}This can result in slight changes in "
              "appearance. : Pennaro");
    EXPECT_FALSE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
    EXPECT_EQ(static_cast<PaintSequence *>(*rig.host.in.sequenceData)->layout.formatVersion, FORMAT_VERSION);
    EXPECT_EQ(rig.strokes()[0].info.brush.brushMode, BRUSH_KIND_SQUARE - 1);
}

TEST(DrawingCommands, FlattenFailuresLoseTheDrawingAndSaySo) {
    {
        host_test::Rig rig;
        rig.send(HOST_CMD_SEQUENCE_SETDOWN);
        EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 517);
        EXPECT_EQ(rig.message(), "Drawing damaged, suggest restarting application. : Pennaro");
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
    }
    for (bool resize : {false, true}) {
        host_test::Rig rig;
        rig.setStrokes({host_test::dotStroke(1, 0.0f, 0.5f, 0.5f)});
        if (resize)
            rig.host.faults.resizeHandle.arm(1);
        else
            rig.host.faults.newHandle.arm(1);
        EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 4);
        EXPECT_EQ(rig.message(), "There was not enough memory to save. Zanthe will be lost. : Pennaro");
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
        EXPECT_EQ(rig.host.out.flatSize, 0);
        EXPECT_EQ(rig.host.in.sequenceData, nullptr);
    }
    // Flattening a block already flat hands it back as it is.
    host_test::Rig rig;
    ASSERT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 0);
    HostHandle block = rig.host.in.sequenceData;
    EXPECT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 0);
    EXPECT_EQ(rig.host.in.sequenceData, block);
    EXPECT_EQ(rig.host.out.flatSize, int32_t(FLAT_HEADER_SIZE));
}

}  // namespace
