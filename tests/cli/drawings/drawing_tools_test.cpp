// The drawing commands as a user runs them: info, convert and resave, in
// both byte orders and in place, and every refusal leaving the user's files
// as they were.
#include <gtest/gtest.h>

#include <cstring>

#include "format/block.h"
#include "cli/core/files.h"
#include "cli/drawings/drawing_file.h"
#include "cli/scan/drawing_reference.h"
#include "cli/run_tool.h"

namespace {

namespace fs = std::filesystem;
using pennaro_cli::readFileBytes;
using pennaro_cli::writeFileAtomically;

const std::string kDemo = (fs::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json").string();

int tool(const std::vector<std::string> &args) { return pennaro_test::runTool(args).status; }

TEST(DrawingTools, ConvertAndResaveInBothByteOrdersAndInPlace) {
    pennaro_test::ScratchDir dir("drawing-tools");
    const std::string bin = dir / "demo.bin", big = dir / "big.bin", json = dir / "back.json", saved = dir / "saved.bin";
    ASSERT_EQ(tool({"convert", kDemo, bin}), 0);
    ASSERT_EQ(tool({"convert", "--big-endian", bin, big}), 0);
    EXPECT_NE(readFileBytes(big), readFileBytes(bin));
    // The effect saves what it opened byte for byte, a big-endian block as
    // its little-endian twin.
    ASSERT_EQ(tool({"resave", big, saved}), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool({"convert", big, json}), 0);
    EXPECT_EQ(readFileBytes(json), readFileBytes(kDemo));
    ASSERT_EQ(tool({"resave", saved, saved}), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool({"convert", "--to", "json", saved, saved}), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(kDemo));
    const pennaro_test::ToolRun info = pennaro_test::runTool({"info", big});
    ASSERT_EQ(info.status, 0);
    EXPECT_TRUE(info.says("big-endian") && info.says("strokes         19") && info.says("5.600 s")) << info.output;
    const pennaro_test::ToolRun asJson = pennaro_test::runTool({"info", "--json", big});
    EXPECT_TRUE(asJson.says(R"("byteOrder": "big-endian")") && asJson.says(R"("strokes": 19)")) << asJson.output;
    // Nothing but the files asked for is left in the folder.
    EXPECT_EQ(pennaro_test::filesIn(dir.path), (std::vector<std::string>{"back.json", "big.bin", "demo.bin", "saved.bin"}));
}

// What the tools refuse, they refuse before writing: the user's file stays
// as it was, and the reason names the file.
TEST(DrawingTools, RefusalsWriteNothing) {
    pennaro_test::ScratchDir dir("drawing-refusals");
    const std::vector<uint8_t> block = pennaro_cli::loadDrawingFile(kDemo).block;
    std::vector<uint8_t> memoryForm = block, old = block, cut(block.begin(), block.end() - 10), stray = block;
    memoryForm[8] = memoryForm[9] = memoryForm[10] = memoryForm[11] = 0;
    old[0] = 9;  // version 265
    old[1] = 1;
    // A big-endian mark with stray low bits: the effect opens it, but no
    // block written from it would open again.
    pennaro::swapWords(stray.data(), stray.size());
    stray[7] = 0xE8;
    auto text = [](const std::string &t) { return std::vector<uint8_t>(t.begin(), t.end()); };
    const std::vector<uint8_t> deep = text("{\"strokes\":" + std::string(64, '[') + std::string(64, ']') + "}"),
                               huge = text("{\"format\": 1,\n\"strokes\": [{\"startTime\": 1e400}]}"),
                               twice = text("{\"format\": 1, \"strokes\": [], \"format\": 1}"),
                               wide = {'{', 0, '}', 0}, zeros(300), png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    // 64 strokes all pointing at the first stroke's 64 KiB of samples: 4 MiB
    // once opened, from a 70 KB file.
    std::vector<uint8_t> shared(block.begin(), block.begin() + pennaro::FLAT_HEADER_SIZE);
    auto header = pennaro::readRecord<pennaro::FlatDrawingHeader>(block.data(), 0);
    auto stroke = pennaro::readRecord<pennaro::FlatStrokeRecord>(block.data(), header.strokeTableOffset);
    stroke.info.pointCount = 4096;
    stroke.flatPointBytes = 4096 * pennaro::POINT_RECORD_SIZE;
    stroke.flatPointOffset = pennaro::FLAT_HEADER_SIZE;
    shared.resize(shared.size() + stroke.flatPointBytes);
    header.layout.strokeCount = 64;
    header.strokeTableOffset = uint32_t(shared.size());
    std::memcpy(shared.data(), &header, sizeof header);
    for (int i = 0; i < 64; ++i)
        shared.insert(shared.end(), reinterpret_cast<uint8_t *>(&stroke), reinterpret_cast<uint8_t *>(&stroke + 1));
    struct Case {
        const char *name;
        const std::vector<uint8_t> &bytes;
        std::vector<std::string> command;  // the file is appended twice: IN, then OUT (render: -o a frame)
        const char *says;
    } cases[] = {
        {"memory", memoryForm, {"info"}, "offset 8"},
        {"memory", memoryForm, {"convert"}, "offset 8"},
        {"memory", memoryForm, {"resave"}, "offset 8"},
        {"old", old, {"resave"}, "Could not convert old drawing. : Pennaro"},
        {"cut", cut, {"resave"}, "Unknown format"},
        {"stray", stray, {"convert", "--to", "json"}, "would not open again"},
        {"stray", stray, {"resave"}, "would not open again"},
        {"deep", deep, {"info"}, "deep.bin: line 1: nested deeper than 64 levels at strokes[0][0][0][0][0][0][0]..."},
        {"deep", deep, {"resave"}, "nested deeper than 64 levels"},
        {"huge", huge, {"convert"}, "huge.bin: line 2: number 1e400 at strokes[0].startTime is out of range"},
        {"twice", twice, {"resave"}, "line 1: duplicate key at format"},
        {"wide", wide, {"info"}, "JSON in UTF-16; only UTF-8 is read"},
        {"zeros", zeros, {"convert"}, "neither a saved drawing block nor JSON"},
        {"png", png, {"resave"}, "a PNG image, not a drawing"},
        {"shared", shared, {"convert", "--to", "json", "--max-memory", "8M"}, "would take 64 MiB, beyond"},
        {"shared", shared, {"resave", "--max-memory", "4M"}, "strokes claim 4 MiB of samples held in 64 KiB"},
        {"shared", shared, {"render", "--max-memory", "4M"}, "rendering it would take 4.0 MiB"},
    };
    for (const Case &c : cases) {
        const std::string file = dir / (std::string(c.name) + ".bin");
        writeFileAtomically(file, c.bytes);
        std::vector<std::string> args = c.command;
        args.push_back(file);
        if (args[0] == "render") args.insert(args.end(), {"-o", dir / "frame.png"});
        else if (args[0] != "info") args.push_back(file);
        const pennaro_test::ToolRun run = pennaro_test::runTool(args);
        EXPECT_EQ(run.status, 1) << args[0] << " " << c.name;
        EXPECT_TRUE(run.says(c.says)) << run.output;
        EXPECT_EQ(readFileBytes(file), c.bytes) << args[0] << " " << c.name;
    }
    // From a device, reading stops once the first bytes fit neither form.
    EXPECT_TRUE(pennaro_test::runTool({"info", "/dev/zero"}).says("neither a saved drawing block nor JSON"));
    const pennaro_test::ToolRun info = pennaro_test::runTool({"info", dir / "shared.bin"});
    EXPECT_TRUE(info.says("shared samples  strokes share sample bytes")) << info.output;
}

}  // namespace
