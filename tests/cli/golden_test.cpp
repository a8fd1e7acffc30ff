// Golden frames of the bundled demo and the golden text of `pennaro
// describe`: any change to any pixel of these renders, or to anything the
// effect tells a host about itself, fails here. When a change is intended,
// regenerate them (see tests/data/golden/README.md) and review them before
// committing.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/run_tool.h"
#include "cli/images/compare.h"
#include "cli/images/png.h"

using namespace pennaro_cli;

namespace {

const std::filesystem::path goldenDir = std::filesystem::path(PENNARO_TEST_DATA_DIR) / "golden";
const std::string demo = (std::filesystem::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json").string();

struct Golden {
    const char *name;
    std::vector<std::string> args;  // besides the drawing and the output
};

const std::vector<Golden> &goldens() {
    static const std::vector<Golden> all = {
        {"animate_8bit_frame030",
         {"--frames", "30", "--size", "320x180", "--background", "checker", "--playback-mode", "Animate Strokes",
          "--composite", "In Original"}},
        {"all_wiggle_16bit_frame045",
         {"--frames", "45", "--size", "320x180", "--background", "gradient", "--depth", "16", "--playback-mode",
          "All Strokes", "--wiggle", "on", "--wiggles-per-sec", "7.5", "--displacement-variation", "8",
          "--composite", "Over Original"}},
        {"onion_8bit_frame060",
         {"--frames", "60", "--size", "256x144", "--playback-mode", "Onion Skin", "--composite", "Only", "--fps",
          "30000/1001"}},
        {"past_speed2_16bit_half_frame020",
         {"--frames", "20", "--size", "400x240", "--background", "#33669980", "--depth", "16", "--playback-mode",
          "Past Strokes", "--playback-speed", "2", "--composite", "Under Original", "--downsample", "1/2",
          "--pixel-aspect", "10/11", "--wiggle", "on", "--individual-seeds", "off"}},
        {"hold_matte_8bit_frame075",
         {"--frames", "75", "--size", "320x180", "--background", "gradient", "--playback-mode", "Hold Strokes",
          "--composite", "Track Original Matte Visible", "--origin", "12,-8"}},
    };
    return all;
}

class GoldenFrame : public testing::TestWithParam<size_t> {};

// At one thread, and painted in bands at 2 and 7 (16 for the first).
TEST_P(GoldenFrame, IsUnchanged) {
    const Golden &g = goldens()[GetParam()];
    pennaro_test::ScratchDir dir(std::string("golden-") + g.name);
    std::vector<std::string> args = {"render", demo, "-q", "-o", dir / "frame.png", "--threads", "1"};
    args.insert(args.end(), g.args.begin(), g.args.end());
    pennaro_test::ToolRun run = pennaro_test::runTool(args);
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char *threads : {"2", "7", "16"}) {
        if (threads == std::string("16") && GetParam() != 0) continue;
        std::vector<std::string> banded = args;
        banded[4] = dir / (std::string("frame-") + threads + ".png");
        banded[6] = threads;
        run = pennaro_test::runTool(banded);
        ASSERT_EQ(run.status, 0) << run.output;
        ImageComparison same = compareImages(readPng(dir / "frame.png"), readPng(banded[4]));
        EXPECT_TRUE(same.identical()) << g.name << " at " << threads << " threads: " << describeComparison(same);
    }

    auto golden = goldenDir / (std::string(g.name) + ".png");
    if (std::getenv("PENNARO_UPDATE_GOLDEN")) {
        std::filesystem::copy_file(dir / "frame.png", golden, std::filesystem::copy_options::overwrite_existing);
        GTEST_SKIP() << "wrote " << golden;
    }
    ASSERT_TRUE(std::filesystem::exists(golden)) << golden << " is missing; see tests/data/golden/README.md";
    ImageComparison result = compareImages(readPng(golden), readPng(dir / "frame.png"));
    EXPECT_TRUE(result.identical()) << g.name << " (golden vs now): " << describeComparison(result);
}

std::string goldenName(const testing::TestParamInfo<size_t> &info) { return goldens()[info.param].name; }

INSTANTIATE_TEST_SUITE_P(Demo, GoldenFrame, testing::Range<size_t>(0, goldens().size()), goldenName);

// Registration, about text, parameters and the preference reads with the
// defaults, as a host sees them.
TEST(Describe, IsUnchanged) {
    pennaro_test::ToolRun run = pennaro_test::runTool({"describe"});
    ASSERT_EQ(run.status, 0) << run.output;
    // The library's path is the one thing that depends on the build.
    for (size_t at; (at = run.output.find(PENNARO_PLUGIN_PATH)) != std::string::npos;)
        run.output.replace(at, std::string(PENNARO_PLUGIN_PATH).size(), "<effect library>");
    const auto golden = goldenDir / "describe.txt";
    if (std::getenv("PENNARO_UPDATE_GOLDEN")) {
        std::ofstream(golden, std::ios::binary) << run.output;
        GTEST_SKIP() << "wrote " << golden;
    }
    std::ostringstream expected;
    expected << std::ifstream(golden, std::ios::binary).rdbuf();
    EXPECT_EQ(expected.str(), run.output)
        << "pennaro describe no longer prints " << golden << ". If the change is intended, refresh it with\n"
        << "  PENNARO_UPDATE_GOLDEN=1 " << "cli_render_test --gtest_filter=Describe.*\nand review the difference.";
}

}  // namespace
