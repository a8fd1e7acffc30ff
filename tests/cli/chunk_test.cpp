// Farm chunks: how a frame list is cut, and that the chunks of a shot
// rendered separately write exactly the files of one whole run.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "../cli/run_tool.h"
#include "lib/common.h"
#include "lib/render_options.h"

using pennaro_cli::frameChunk;

namespace {

std::vector<int32_t> range(int32_t first, int32_t last) {
    std::vector<int32_t> v;
    for (int32_t f = first; f <= last; ++f) v.push_back(f);
    return v;
}

TEST(FrameChunk, SlicesAreContiguousLargerFirstAndCoverEverything) {
    for (int32_t total = 0; total <= 23; ++total) {
        const auto frames = range(-3, total - 4);  // negative frame numbers too
        for (int32_t n = 1; n <= 9; ++n) {
            std::vector<int32_t> joined;
            size_t previousSize = SIZE_MAX;
            for (int32_t k = 1; k <= n; ++k) {
                const auto chunk = frameChunk(frames, std::to_string(k) + "/" + std::to_string(n));
                EXPECT_LE(chunk.size(), previousSize);
                EXPECT_LE(chunk.size(), size_t(total / n + 1));
                EXPECT_GE(chunk.size(), size_t(total / n));
                previousSize = chunk.size();
                joined.insert(joined.end(), chunk.begin(), chunk.end());
            }
            EXPECT_EQ(joined, frames) << total << " frames in " << n;
        }
    }
    EXPECT_EQ(frameChunk({9, 3, 7, 1, 5}, "1/2"), (std::vector<int32_t>{9, 3, 7}));
    EXPECT_EQ(frameChunk({9, 3, 7, 1, 5}, "2/2"), (std::vector<int32_t>{1, 5}));
}

TEST(FrameChunk, RefusesWhatIsNotKOfN) {
    for (const char *bad : {"", "3", "0/4", "5/4", "1/0", "-1/4", "a/b", "1/4/2", "1.5/4", " 1/4"})
        EXPECT_THROW(frameChunk(range(0, 9), bad), pennaro_cli::ToolError) << bad;
}

#ifdef PENNARO_CLI_PATH
std::vector<uint8_t> bytesOf(const std::filesystem::path &p) { return pennaro_cli::readFileBytes(p); }

TEST(RenderChunks, TogetherEqualOneWholeRunFileForFile) {
    using pennaro_test::runTool;
    const auto dir = pennaro_test::scratchDir("chunks");
    const std::vector<std::string> common = {"render", "--frames", "3-9,20", "--size", "96x54", "--background", "checker",
                                             "--playback-mode", "Animate Strokes", "-q"};
    auto args = common;
    args.insert(args.end(), {"-o", (dir / "whole" / "f_####.png").string()});
    ASSERT_EQ(runTool(args).status, 0);
    for (int k = 1; k <= 3; ++k) {
        args = common;
        args.insert(args.end(), {"-o", (dir / "chunks" / "f_####.png").string(), "--chunk",
                                 std::to_string(k) + "/3"});
        const auto run = runTool(args);
        ASSERT_EQ(run.status, 0) << run.output;
    }
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(dir / "whole"))
        names.push_back(entry.path().filename().string());
    size_t chunkFiles = 0;
    for (const auto &entry : std::filesystem::directory_iterator(dir / "chunks")) {
        (void)entry;
        ++chunkFiles;
    }
    ASSERT_EQ(names.size(), 8u);
    ASSERT_EQ(chunkFiles, names.size());
    for (const auto &name : names)
        EXPECT_EQ(bytesOf(dir / "chunks" / name), bytesOf(dir / "whole" / name)) << name;
    EXPECT_TRUE(std::filesystem::exists(dir / "chunks" / "f_0020.png"));

    args = common;
    args.insert(args.end(), {"-o", (dir / "x" / "f_####.png").string(), "--chunk", "1/2", "--contact-sheet",
                             (dir / "sheet.png").string()});
    const auto refused = runTool(args);
    EXPECT_NE(refused.status, 0);
    EXPECT_NE(refused.output.find("--contact-sheet cannot be used with --chunk"), std::string::npos) << refused.output;
    std::filesystem::remove_all(dir);
}
#endif

}  // namespace
