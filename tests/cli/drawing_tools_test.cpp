// The drawing commands as a user runs them: info, convert and resave, in
// both byte orders and in place, and every refusal leaving the user's files
// as they were.
#include <gtest/gtest.h>

#include <fstream>

#include "format/block.h"
#include "lib/common.h"
#include "lib/drawing_file.h"
#include "run_tool.h"

namespace {

namespace fs = std::filesystem;
using pennaro_cli::readFileBytes;
using pennaro_cli::writeFileAtomically;

const fs::path kDemo = fs::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json";

std::string readText(const fs::path &p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::vector<uint8_t> demoBlock() { return pennaro_cli::loadDrawingFile(kDemo).block; }

int tool(std::vector<std::string> args, std::string *said = nullptr) {
    const pennaro_test::ToolRun run = pennaro_test::runTool(args);
    if (said) *said = run.output;
    return run.status;
}

TEST(DrawingTools, ConvertAndResaveInBothByteOrdersAndInPlace) {
    const fs::path dir = pennaro_test::scratchDir("drawing-tools");
    const std::string bin = dir / "demo.bin", big = dir / "big.bin", json = dir / "back.json", saved = dir / "saved.bin";
    ASSERT_EQ(tool({"convert", kDemo, bin}), 0);
    ASSERT_EQ(tool({"convert", "--big-endian", bin, big}), 0);
    EXPECT_NE(readFileBytes(big), readFileBytes(bin));
    // The effect saves what it opened byte for byte, a big-endian block as
    // its little-endian twin.
    ASSERT_EQ(tool({"resave", big, saved}), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool({"convert", big, json}), 0);
    EXPECT_EQ(readText(json), readText(kDemo));
    ASSERT_EQ(tool({"resave", saved, saved}), 0);
    EXPECT_EQ(readFileBytes(saved), readFileBytes(bin));
    ASSERT_EQ(tool({"convert", "--to", "json", saved, saved}), 0);
    EXPECT_EQ(readText(saved), readText(kDemo));
    std::string said;
    ASSERT_EQ(tool({"info", big}, &said), 0);
    EXPECT_NE(said.find("big-endian"), std::string::npos) << said;
    EXPECT_NE(said.find("strokes         19"), std::string::npos) << said;
    EXPECT_NE(said.find("5.600 s"), std::string::npos) << said;
    // Nothing but the files asked for is left in the folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 4);
    fs::remove_all(dir);
}

// What the tools refuse, they refuse before writing: the user's file stays
// as it was, and the reason names the file.
TEST(DrawingTools, RefusalsWriteNothing) {
    const fs::path dir = pennaro_test::scratchDir("drawing-refusals");
    const std::vector<uint8_t> block = demoBlock();
    std::vector<uint8_t> memoryForm = block, old = block, cut(block.begin(), block.end() - 10), stray = block;
    memoryForm[8] = memoryForm[9] = memoryForm[10] = memoryForm[11] = 0;
    old[0] = 9;  // version 265
    old[1] = 1;
    // A big-endian mark with stray low bits: the effect opens it, but no
    // block written from it would open again.
    pennaro::swapWords(stray.data(), stray.size());
    stray[7] = 0xE8;
    struct Case {
        const char *name;
        const std::vector<uint8_t> &bytes;
        std::vector<std::string> command;  // the file is appended twice: IN, then OUT
        const char *says;
    } cases[] = {
        {"memory", memoryForm, {"info"}, "offset 8"},
        {"memory", memoryForm, {"convert"}, "offset 8"},
        {"memory", memoryForm, {"resave"}, "offset 8"},
        {"old", old, {"resave"}, "Could not convert old drawing. : Pennaro"},
        {"cut", cut, {"resave"}, "Unknown format"},
        {"stray", stray, {"convert", "--to", "json"}, "would not open again"},
        {"stray", stray, {"resave"}, "would not open again"},
    };
    for (const Case &c : cases) {
        const std::string file = dir / (std::string(c.name) + ".bin");
        writeFileAtomically(file, c.bytes);
        std::vector<std::string> args = c.command;
        args.push_back(file);
        if (args[0] != "info") args.push_back(file);
        std::string said;
        EXPECT_EQ(tool(args, &said), 1) << args[0] << " " << c.name;
        EXPECT_NE(said.find(c.says), std::string::npos) << said;
        EXPECT_EQ(readFileBytes(file), c.bytes) << args[0] << " " << c.name;
    }
    fs::remove_all(dir);
}

}  // namespace
