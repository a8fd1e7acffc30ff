// Drawing files as the tools read and write them: JSON and blocks in both
// byte orders, written the way the effect writes them, and refusals with
// their reasons.
#include <algorithm>
#include <filesystem>

#include "format_fixture.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"

namespace format_test {
namespace {

namespace fs = std::filesystem;
using namespace pennaro_cli;
using nlohmann::ordered_json;

const fs::path kDemo = fs::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json";

class Files : public FormatTest {
protected:
    const Bytes demo = loadDrawingFile(kDemo).block;
};

// (The tools' commands over these, and what `info` says, are tests/cli's.)
TEST_F(Files, JsonAndBlocksOfEitherByteOrderConvertToEachOtherExactly) {
    const Bytes file = readFileBytes(kDemo);
    const std::string text(file.begin(), file.end());
    EXPECT_EQ(formatDrawingJson(blockToJson(demo)), text);
    const Bytes big = jsonToBlock(ordered_json::parse(text), ByteOrder::Big);
    EXPECT_EQ(swapped(big), demo);
    const LoadedDrawing fromBig = loadDrawingBytes(big, "big");
    EXPECT_EQ(fromBig.fileByteOrder, ByteOrder::Big);
    EXPECT_EQ(fromBig.block, demo);
    const DrawingSummary s = summarizeDrawing(demo, ByteOrder::Little);
    EXPECT_GE(std::min({s.roundStrokes, s.softStrokes, s.squareStrokes, s.eraseStrokes}), 3u);
    // The tools write blocks the way the effect does: the effect's reader and
    // writer give the same bytes back, from either byte order.
    for (const Bytes &b : {demo, big}) {
        MemoryHandle saved = writeBlock(memory, readBlock(memory, handleWith(b)).drawing);
        EXPECT_EQ(bytesOf(saved), demo);
        memory.dispose(saved);
    }
}

// NaNs keep their payload, and 0x15ae43fd comes back although its shortest
// decimal, read as a double, narrows to its neighbour.
TEST_F(Files, EveryFloatComesBackBitForBit) {
    Bytes block = demo;
    const uint32_t odd[] = {0x7fc00001u, 0xff800000u, 0x7f800000u, 0x80000000u, 0x00000001u,
                            0x3dcccccdu, 0x7f7fffffu, 0x15ae43fdu, 0xffffffffu, 0x4b800001u};
    // Over the samples, a stroke's brush size and the current brush softness.
    const auto h = readRecord<FlatDrawingHeader>(block.data(), 0);
    for (size_t i = 0; i * 4 + 232 < h.strokeTableOffset; i += 3) putRecord(block, 232 + i * 4, odd[i % 10]);
    putRecord(block, h.strokeTableOffset + 12 + 16, odd[0]);
    putRecord(block, 68 + 24, odd[1]);
    EXPECT_EQ(jsonToBlock(ordered_json::parse(formatDrawingJson(blockToJson(block)))), block);
}

TEST_F(Files, HandWrittenJsonFillsInDefaultsAndRefusesMistakes) {
    const Bytes block = jsonToBlock(ordered_json::parse(
        R"({"format": 1, "strokes": [{"startTime": 0.5, "points": [[0, 0.1, 0.2, 1], [0.25, 0.3, 0.4, 0.5]]}]})"));
    ASSERT_EQ(block.size(), 232u + 32 + 68);
    const auto s = readRecord<FlatStrokeRecord>(block.data(), 264);
    EXPECT_EQ(s.info.duration, 0.25f);
    EXPECT_EQ(s.info.brush.size, 5.0f);
    EXPECT_EQ(s.info.pointCount, 2);
    EXPECT_EQ(readRecord<FlatDrawingHeader>(block.data(), 0).tools.toolMode, 1);
    ordered_json strayMark = blockToJson(demo);
    strayMark["byteOrderMark"] = 0x010000E8u;  // no little-endian block can carry it
    EXPECT_THROW(jsonToBlock(strayMark), ToolError);
    for (const char *text :
         {R"({"strokes": []})", R"({"format": 2, "strokes": []})", R"({"format": 1})",
          R"({"format": 1, "strokes": [], "colour": 1})", R"({"format": 1, "strokes": [], "flatHeaderSize": 0})",
          R"({"format": 1, "strokes": [], "toolMode": 3000000000})",
          R"({"format": 1, "strokes": [{"startTime": 0, "points": [[0, 1, 2]]}]})",
          R"({"format": 1, "strokes": [{"startTime": 0, "points": [], "brush": {"size": "big"}}]})",
          R"({"format": 1, "strokes": [{"startTime": 0, "points": [], "pointCount": 1}]})"})
        EXPECT_THROW(jsonToBlock(ordered_json::parse(text)), ToolError) << text;
}

// The tools take exactly the blocks the effect's reader takes, plus those it
// refuses only for their version, and say why they refuse the others.
TEST_F(Files, BlocksAreRefusedForTheReasonsTheEffectWould) {
    const size_t t = readRecord<FlatDrawingHeader>(demo.data(), 0).strokeTableOffset, cut = demo.size() - 1;
    const std::string memoryForm = "not a saved drawing (the word at offset 8 is 0, which marks a drawing in memory "
                                   "form); refusing it";
    struct Case {
        std::vector<std::pair<size_t, uint32_t>> words;
        size_t size;
        std::string reason;
    };
    const Case cases[] = {
        {{{8, 0}}, 256, memoryForm},
        {{{8, 0}}, demo.size(), memoryForm},
        {{}, 100, "too short to be a drawing (100 bytes)"},
        {{{20, 0xFFFFFFFFu}}, demo.size(), "damaged: negative stroke count"},
        {{{24, 0}}, demo.size(), "damaged: strokes counted but no stroke table"},
        {{}, cut, "damaged: the stroke table reaches past the end of the file"},
        {{{t + 68 + 52, 0xFFFFFFFFu}}, demo.size(), "damaged: stroke 1 has a negative sample count"},
        {{{t + 64, 0xFFFFFF00u}}, demo.size(), "damaged: the samples of stroke 0 reach past the end of the file"},
        {{{t + 52, 1000}}, demo.size(), "damaged: stroke 0 counts more samples than it holds"},
        {{{0, 265}}, cut, "damaged: the stroke table reaches past the end of the file"},
    };
    for (const Case &c : cases) {
        Bytes b = demo;
        for (auto [at, word] : c.words) putRecord(b, at, word);
        b.resize(c.size);
        for (const Bytes &bytes : {b, swapped(b)}) {
            try {
                loadDrawingBytes(bytes, "d.bin");
                ADD_FAILURE() << c.reason;
            } catch (const ToolError &e) {
                EXPECT_EQ(e.what(), "d.bin: " + c.reason);
            }
        }
    }
    // Accepted: another version (the effect names it when it refuses to open
    // it), and a big-endian mark with stray low bits, which the effect opens.
    Bytes old = demo;
    putRecord(old, 0, uint32_t{265});
    EXPECT_EQ(loadDrawingBytes(old, "old").block, old);
    Bytes stray = swapped(demo);
    stray[7] = 0xE8;
    EXPECT_EQ(loadDrawingBytes(stray, "stray").fileByteOrder, ByteOrder::Big);
}

}  // namespace
}  // namespace format_test
