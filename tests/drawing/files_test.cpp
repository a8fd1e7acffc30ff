// Drawing files and the info, convert and resave commands: JSON and block
// round trips in both byte orders, the effect saving what it opened byte for
// byte, refusals, and every input that ever crashed the reader.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "drawing/flat_layout.h"
#include "drawing_fixture.h"
#include "lib/common.h"
#include "lib/drawing_file.h"
#include "lib/drawing_resave.h"

namespace drawing_test {
namespace {

namespace fs = std::filesystem;
using namespace pennaro_cli;

const fs::path kDemo = fs::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json";

std::string readText(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

class Files : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("pennaro-drawing-" + std::to_string(::getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    std::vector<uint8_t> demoBlock() { return loadDrawingFile(kDemo).block; }

    // Runs the pennaro tool; returns its exit status, output in `said`.
    int tool(const std::string &args, std::string *said = nullptr) {
        const fs::path log = dir / "tool.log";
        const std::string cmd = std::string(PENNARO_CLI_PATH) + " " + args + " > " + log.string() + " 2>&1";
        const int status = std::system(cmd.c_str());
        if (said) *said = readText(log);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string q(const fs::path &p) { return "'" + p.string() + "'"; }
};

TEST_F(Files, JsonToBlockToJsonIsIdentical) {
    const std::string text = readText(kDemo);
    const auto block = jsonToBlock(parseDrawingJson(std::vector<uint8_t>(text.begin(), text.end()), "demo"));
    EXPECT_EQ(formatDrawingJson(blockToJson(block)), text);
    // The big-endian twin gives the same JSON.
    auto big = jsonToBlock(nlohmann::ordered_json::parse(text), ByteOrder::Big);
    EXPECT_EQ(detectByteOrder(big), ByteOrder::Big);
    EXPECT_EQ(formatDrawingJson(blockToJson(big)), text);
    swapWordBytes(big);
    EXPECT_EQ(big, block);
}

TEST_F(Files, EveryFloatComesBackBitForBit) {
    std::vector<uint8_t> block = demoBlock();
    const uint32_t odd[] = {0x7fc00001u, 0xff800000u, 0x7f800000u, 0x80000000u, 0x00000001u,
                            0x3dcccccdu, 0x7f7fffffu, 0x33800000u, 0xffffffffu, 0x4b800001u};
    // Spray the odd values over the samples and the brushes.
    const auto h = recordAt<FlatDrawingHeader>(block, 0);
    for (size_t i = 0; i * 4 + 232 < h.strokeTableOffset; i += 3) putRecord(block, 232 + i * 4, odd[i % 10]);
    putRecord(block, h.strokeTableOffset + 12 + 16, odd[0]);  // first stroke's brush size
    putRecord(block, 68 + 24, odd[1]);                        // current brush softness
    const auto json = blockToJson(block);
    const std::string text = formatDrawingJson(json);
    EXPECT_NE(text.find("\"0x7fc00001\""), std::string::npos);
    EXPECT_EQ(jsonToBlock(nlohmann::ordered_json::parse(text)), block);
}

TEST_F(Files, HandWrittenJsonFillsInDefaultsAndRefusesMistakes) {
    auto block = jsonToBlock(nlohmann::ordered_json::parse(
        R"({"format": 1, "strokes": [{"startTime": 0.5, "points": [[0, 0.1, 0.2, 1], [0.25, 0.3, 0.4, 0.5]]}]})"));
    ASSERT_EQ(block.size(), 232u + 32 + 68);
    const auto s = recordAt<FlatStrokeRecord>(block, 264);
    EXPECT_EQ(s.duration, 0.25f);
    EXPECT_EQ(s.brush.size, 5.0f);
    EXPECT_EQ(s.pointCount, 2);
    EXPECT_EQ(recordAt<FlatDrawingHeader>(block, 0).toolMode, 1);
    const char *bad[] = {
        R"({"strokes": []})",
        R"({"format": 2, "strokes": []})",
        R"({"format": 1})",
        R"({"format": 1, "strokes": [], "colour": 1})",
        R"({"format": 1, "strokes": [{"startTime": 0, "points": [[0, 1, 2]]}]})",
        R"({"format": 1, "strokes": [{"startTime": 0, "points": [], "brush": {"size": "big"}}]})",
        R"({"format": 1, "strokes": [{"startTime": 0, "points": [], "pointCount": 1}]})",
        R"({"format": 1, "strokes": [], "flatHeaderSize": 0})",
        R"({"format": 1, "strokes": [], "toolMode": 3000000000})",
    };
    for (const char *text : bad) EXPECT_THROW(jsonToBlock(nlohmann::ordered_json::parse(text)), ToolError) << text;
}

TEST_F(Files, LoaderGivesALittleEndianBlockAndTheEndTime) {
    const LoadedDrawing json = loadDrawingFile(kDemo);
    EXPECT_EQ(json.kind, DrawingFileKind::Json);
    EXPECT_NEAR(json.endTime, 5.6, 1e-6);
    std::vector<uint8_t> big = json.block;
    swapWordBytes(big);
    const LoadedDrawing fromBig = loadDrawingBytes(big, "big");
    EXPECT_EQ(fromBig.kind, DrawingFileKind::Block);
    EXPECT_EQ(fromBig.fileByteOrder, ByteOrder::Big);
    EXPECT_EQ(fromBig.block, json.block);
    EXPECT_EQ(fromBig.endTime, json.endTime);
    const DrawingSummary s = summarizeDrawing(json.block, ByteOrder::Little);
    EXPECT_GE(s.roundStrokes, 3u);
    EXPECT_GE(s.softStrokes, 3u);
    EXPECT_GE(s.squareStrokes, 3u);
    EXPECT_GE(s.eraseStrokes, 3u);
    EXPECT_GT(s.lastEnd - s.firstStart, 3.0);
}

TEST_F(Files, ToolsRefuseMemoryFormAndDamagedFiles) {
    std::vector<uint8_t> block = demoBlock();
    std::vector<uint8_t> memoryForm = block;
    putRecord(memoryForm, 8, uint32_t{0});
    EXPECT_THROW(loadDrawingBytes(memoryForm, "m"), ToolError);
    EXPECT_THROW(loadDrawingBytes(std::vector<uint8_t>(block.begin(), block.begin() + 100), "short"), ToolError);
    std::vector<uint8_t> cut(block.begin(), block.end() - 1);
    try {
        loadDrawingBytes(cut, "cut.bin");
        ADD_FAILURE() << "a cut-off stroke table was accepted";
    } catch (const ToolError &e) {
        EXPECT_NE(std::string(e.what()).find("past the end"), std::string::npos) << e.what();
    }

#ifdef PENNARO_CLI_PATH
    const fs::path mem = dir / "memory.bin", out = dir / "out.bin";
    writeFileAtomically(mem, memoryForm);
    std::string said;
    EXPECT_EQ(tool("info " + q(mem), &said), 1);
    EXPECT_NE(said.find("offset 8"), std::string::npos) << said;
    EXPECT_EQ(tool("convert " + q(mem) + " " + q(dir / "m.json")), 1);
    EXPECT_EQ(tool("resave " + q(mem) + " " + q(out), &said), 1);
    EXPECT_NE(said.find("offset 8"), std::string::npos) << said;
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(fs::exists(dir / "m.json"));
#endif
}

TEST_F(Files, EffectResavesItsOwnBlockByteForByte) {
    // A block the effect made, not the tool.
    const std::vector<uint8_t> fromJson = demoBlock();
    const ResaveOutcome first = resaveThroughEffect(PENNARO_PLUGIN_PATH, fromJson);
    ASSERT_TRUE(first.ok) << first.failedStep;
    EXPECT_EQ(first.block, fromJson) << "the tool writes blocks the way the effect does";
    const ResaveOutcome again = resaveThroughEffect(PENNARO_PLUGIN_PATH, first.block);
    ASSERT_TRUE(again.ok);
    EXPECT_EQ(again.block, first.block);
    std::vector<uint8_t> big = first.block;
    swapWordBytes(big);
    const ResaveOutcome fromBig = resaveThroughEffect(PENNARO_PLUGIN_PATH, big);
    ASSERT_TRUE(fromBig.ok);
    EXPECT_EQ(fromBig.block, first.block) << "a big-endian block comes back as its little-endian twin";
    EXPECT_TRUE(fromBig.messages.empty());
}

TEST_F(Files, ResaveNeverOverwritesWhenTheEffectComplains) {
    std::vector<uint8_t> old = demoBlock();
    putRecord(old, 0, uint32_t{265});
    const ResaveOutcome outcome = resaveThroughEffect(PENNARO_PLUGIN_PATH, old);
    EXPECT_FALSE(outcome.ok);
    ASSERT_EQ(outcome.messages.size(), 1u);
    EXPECT_EQ(outcome.messages[0], "Could not convert old drawing. : Pennaro");
    EXPECT_EQ(outcome.failedStep, "re-set-up");

#ifdef PENNARO_CLI_PATH
    const fs::path in = dir / "old.bin";
    writeFileAtomically(in, old);
    std::string said;
    EXPECT_EQ(tool("resave --plugin " + std::string(PENNARO_PLUGIN_PATH) + " " + q(in) + " " + q(in), &said), 1);
    EXPECT_NE(said.find("Could not convert old drawing. : Pennaro"), std::string::npos) << said;
    EXPECT_EQ(readFileBytes(in), old) << "the user's file is untouched";

    std::vector<uint8_t> damaged = demoBlock();
    damaged.resize(damaged.size() - 10);
    writeFileAtomically(in, damaged);
    EXPECT_EQ(tool("resave " + q(in) + " " + q(in), &said), 1);
    EXPECT_NE(said.find("Unknown format"), std::string::npos) << said;
    EXPECT_EQ(readFileBytes(in), damaged);
#endif
}

#ifdef PENNARO_CLI_PATH
TEST_F(Files, CommandsEndToEnd) {
    const fs::path bin = dir / "demo.bin", big = dir / "big.bin", json = dir / "back.json", saved = dir / "saved.bin";
    ASSERT_EQ(tool("convert " + q(kDemo) + " " + q(bin)), 0);
    ASSERT_EQ(tool("convert --big-endian " + q(bin) + " " + q(big)), 0);
    EXPECT_NE(readFileBytes(big), readFileBytes(bin));
    ASSERT_EQ(tool("resave " + q(big) + " " + q(saved)), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool("convert " + q(big) + " " + q(json)), 0);
    EXPECT_EQ(readText(json), readText(kDemo));
    // In place: IN and OUT the same file.
    ASSERT_EQ(tool("resave " + q(saved) + " " + q(saved)), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool("convert --to json " + q(saved) + " " + q(saved)), 0);
    EXPECT_EQ(readText(saved), readText(kDemo));
    std::string said;
    ASSERT_EQ(tool("info " + q(big), &said), 0);
    EXPECT_NE(said.find("big-endian"), std::string::npos) << said;
    EXPECT_NE(said.find("strokes         19"), std::string::npos) << said;
    EXPECT_NE(said.find("5.600 s"), std::string::npos) << said;
    // Nothing but the files asked for is left in the folder.
    int files = 0;
    for (auto &e : fs::directory_iterator(dir)) files += e.path().filename() != "tool.log";
    EXPECT_EQ(files, 4);
}
#endif

// Every input that ever made the reader misbehave, replayed through the
// effect's reader and the tools' checks.
class Regressions : public DrawingHost {};

TEST_F(Regressions, ReaderSurvivesEveryKeptInput) {
    const fs::path kept = fs::path(PENNARO_SOURCE_DIR) / "fuzz" / "regressions";
    int count = 0;
    for (const auto &entry : fs::directory_iterator(kept)) {
        if (!entry.is_regular_file() || entry.path().filename().string()[0] == '.') continue;
        SCOPED_TRACE(entry.path().string());
        ++count;
        const std::vector<uint8_t> bytes = readFileBytes(entry.path());
        try {
            (void)loadDrawingBytes(bytes, "kept");
        } catch (const ToolError &) {
        }
        // The effect never sees a memory form from a file.
        if (bytes.size() >= 12 && recordAt<uint32_t>(bytes, 8) == 0) continue;
        handOver(handleWith(bytes));
        EXPECT_EQ(send(HOST_CMD_SEQUENCE_RESETUP), 0);
        ASSERT_NE(host.in.sequenceData, nullptr);
        EXPECT_EQ(send(HOST_CMD_SEQUENCE_FLATTEN), 0);
        EXPECT_EQ(send(HOST_CMD_SEQUENCE_SETDOWN), 0);
        EXPECT_EQ(drawingHandles(), 0u);
    }
    RecordProperty("kept", count);
}

}  // namespace
}  // namespace drawing_test
