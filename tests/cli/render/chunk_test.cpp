// Farm chunks: how a frame list is cut, and that the chunks of a shot
// rendered separately write exactly the files of one whole run.
#include <gtest/gtest.h>

#include "cli/run_tool.h"
#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/render/options.h"

using pennaro_cli::frameChunk;

namespace {

TEST(FrameChunk, SlicesAreContiguousLargerFirstAndCoverEverything) {
    for (int32_t total = 0; total <= 23; ++total) {
        std::vector<int32_t> frames;
        for (int32_t f = -3; f < total - 3; ++f) frames.push_back(f);  // negative frame numbers too
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
    EXPECT_EQ(frameChunk({9, 3, 7, 1, 5}, "1/2"), (std::vector<int32_t>{9, 3, 7}));  // in the list's order
}

TEST(FrameChunk, RefusesWhatIsNotKOfN) {
    for (const char *bad : {"", "3", "0/4", "5/4", "1/0", "-1/4", "a/b", "1/4/2", "1.5/4", " 1/4"})
        EXPECT_THROW(frameChunk({0, 1, 2, 3, 4, 5}, bad), pennaro_cli::ToolError) << bad;
}

TEST(RenderChunks, TogetherEqualOneWholeRunFileForFile) {
    using pennaro_test::runTool;
    pennaro_test::ScratchDir dir("chunks");
    auto render = [&](const std::string &folder, std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", "--frames", "3-9,20", "--size", "96x54", "--background",
                                         "checker", "--playback-mode", "Animate Strokes", "-q", "-o",
                                         dir / (folder + "/f_####.png")};
        args.insert(args.end(), extra.begin(), extra.end());
        return runTool(args);
    };
    ASSERT_EQ(render("whole", {}).status, 0);
    for (const char *chunk : {"1/3", "2/3", "3/3"}) ASSERT_EQ(render("chunks", {"--chunk", chunk}).status, 0);
    const auto names = pennaro_test::filesIn(dir / "whole");
    ASSERT_EQ(names.size(), 8u);
    ASSERT_EQ(pennaro_test::filesIn(dir / "chunks"), names);
    for (const auto &name : names)
        EXPECT_EQ(pennaro_cli::readFileBytes(dir / ("chunks/" + name)), pennaro_cli::readFileBytes(dir / ("whole/" + name)))
            << name;
    EXPECT_EQ(names.back(), "f_0020.png");

    const auto refused = render("x", {"--chunk", "1/2", "--contact-sheet", dir / "sheet.png"});
    EXPECT_NE(refused.status, 0);
    EXPECT_TRUE(refused.says("--contact-sheet cannot be used with --chunk")) << refused.output;
}

}  // namespace
