// The reference frames and the saved blocks through the effect library
// itself: the shared library on Linux, the DLL under Wine. Both builds run
// these same tests against the same files, so passing on both means the two
// libraries give bit-identical frames and blocks. With PENNARO_FRAME_DUMP_DIR
// set, every rendered frame is also written there as raw samples, so the
// Windows lane can compare the two libraries' frames directly, whether or
// not they match the expected files. Where the pennaro tool is built, every
// case also goes through `pennaro render` with each host value and parameter
// on its command line, as a user would give them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <utility>

#include "reference/reference_frames.h"

#ifdef PENNARO_CLI_PATH
#include "cli/run_tool.h"
#endif

namespace {

using namespace reference_frames;

const std::string kDataDir = std::string(PENNARO_TEST_DATA_DIR) + "/conformance";

// Loaded once per process; a broken list leaves it empty and the list test
// says why.
const std::vector<ReferenceCase> &allCases() {
    static const std::vector<ReferenceCase> cases = [] {
        try {
            return loadCases(kDataDir + "/cases.json");
        } catch (const std::exception &) {
            return std::vector<ReferenceCase>{};
        }
    }();
    return cases;
}

std::string caseTestName(const ::testing::TestParamInfo<size_t> &info) {
    std::string name = allCases()[info.param].name;
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

// Where two byte strings part, for a readable failure.
std::string firstDifference(const std::vector<uint8_t> &a, const std::vector<uint8_t> &b) {
    if (a == b) return "identical";
    size_t i = 0;
    while (i < a.size() && i < b.size() && a[i] == b[i]) ++i;
    return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size()) + ", first difference at byte " +
           std::to_string(i);
}

TEST(ReferenceCaseList, HoldsEveryCaseWithWiggledFramesAtBothDepths) {
    std::vector<ReferenceCase> cases;
    ASSERT_NO_THROW(cases = loadCases(kDataDir + "/cases.json"));
    EXPECT_EQ(cases.size(), 60u);
    std::set<std::pair<int, bool>> kinds;
    for (const ReferenceCase &c : cases) kinds.insert({c.depth, c.wiggle});
    EXPECT_TRUE(kinds.count({8, true})) << "no wiggled 8-bit case";
    EXPECT_TRUE(kinds.count({16, true})) << "no wiggled 16-bit case";
}

TEST(ReferenceCaseList, RefusesMalformedLists) {
    EXPECT_THROW(loadCases(kDataDir + "/no-such-cases.json"), std::runtime_error);
    EXPECT_THROW(loadCases(kDataDir + "/raster-001.bin"), std::runtime_error);
}

TEST(PngMapping, SixteenBitValuesSurviveAFileRoundTrip) {
    for (uint32_t v = 0; v <= 32768; ++v)
        ASSERT_EQ(sixteenBitFromFile(sixteenBitToFile(uint16_t(v))), v) << v;
    EXPECT_EQ(sixteenBitToFile(32768), 65535);
    EXPECT_EQ(eightBitToSixteen(255), 32768);
    EXPECT_EQ(eightBitToSixteen(0), 0);
}

class ReferenceFrame : public ::testing::TestWithParam<size_t> {};

TEST_P(ReferenceFrame, MatchesTheExpectedFrame) {
    const ReferenceCase &c = allCases()[GetParam()];
    Frame rendered, expected;
    try {
        rendered = renderCase(c, PENNARO_PLUGIN_PATH, kDataDir);
        expected = readPng(kDataDir + "/" + c.expected);
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
    if (const char *dumpDir = std::getenv("PENNARO_FRAME_DUMP_DIR")) {
        try {
            writeRawFrame(std::string(dumpDir) + "/" + c.name + ".frame", rendered);
        } catch (const std::exception &e) {
            ADD_FAILURE() << e.what();
        }
    }
    Comparison result = compareFrames(rendered, expected);
    EXPECT_TRUE(result.identical()) << c.name << ": " << result.describe();
}

INSTANTIATE_TEST_SUITE_P(Conformance, ReferenceFrame, ::testing::Range<size_t>(0, allCases().size()), caseTestName);

#ifdef PENNARO_CLI_PATH
// The command line that reproduces one case.
std::vector<std::string> toolArguments(const ReferenceCase &c, const std::string &output) {
    auto text = [](auto v) { return std::to_string(v); };
    auto real = [](double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return std::string(buffer);
    };
    std::vector<std::string> args = {"render", kDataDir + "/" + c.block};
    if (c.layer.empty())
        args.insert(args.end(), {"--size", text(c.width) + "x" + text(c.height)});
    else
        args.insert(args.end(), {"--layer", kDataDir + "/" + c.layer});
    args.insert(args.end(),
                {"--depth", text(c.depth), "--time-scale", text(c.timeScale), "--time-step", text(c.timeStep),
                 "--local-time-step", text(c.localTimeStep), "--frames", text(c.currentTime / c.timeStep),
                 "--playback-mode", text(c.playbackMode), "--playback-speed", real(c.playbackSpeed),
                 "--composite", text(c.composite), "--wiggle", c.wiggle ? "on" : "off", "--wiggles-per-sec",
                 real(c.wigglesPerSec), "--displacement-variation", real(c.displacementVariation),
                 "--displacement-detail", real(c.displacementDetail), "--pressure-variation",
                 real(c.pressureVariation), "--pressure-detail", real(c.pressureDetail), "--individual-seeds",
                 c.individualSeeds ? "on" : "off", "--pixel-aspect",
                 text(c.pixelAspect.num) + "/" + text(c.pixelAspect.den), "--origin",
                 text(c.originX) + "," + text(c.originY), "--downsample",
                 text(c.downsample.num) + "/" + text(c.downsample.den), "-q", "-o", output});
    return args;
}

class ThroughTheTool : public ::testing::TestWithParam<size_t> {};

TEST_P(ThroughTheTool, MatchesTheExpectedFrame) {
    const ReferenceCase &c = allCases()[GetParam()];
    ASSERT_EQ(c.currentTime % c.timeStep, 0) << "the host's time is a whole frame";
    const auto dir = pennaro_test::scratchDir("reference-" + c.name);
    const std::string output = (dir / (c.name + ".png")).string();
    const pennaro_test::ToolRun run = pennaro_test::runTool(toolArguments(c, output));
    ASSERT_EQ(run.status, 0) << run.output;
    Comparison result;
    try {
        result = compareFrames(readPng(output), readPng(kDataDir + "/" + c.expected));
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
    EXPECT_TRUE(result.identical()) << c.name << ": " << result.describe();
    std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Conformance, ThroughTheTool, ::testing::Range<size_t>(0, allCases().size()), caseTestName);
#endif

class SavedBlock : public ::testing::TestWithParam<size_t> {};

// Read by re-set-up and written again by flatten, a block comes back byte for
// byte, in this machine's (little-endian) byte order whichever order it was
// written in.
TEST_P(SavedBlock, ComesBackExactlyFromEitherByteOrder) {
    const ReferenceCase &c = allCases()[GetParam()];
    std::vector<uint8_t> block;
    try {
        block = readFile(kDataDir + "/" + c.block);
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
    ASSERT_GE(block.size(), 8u);
    const std::vector<uint8_t> native = block[4] != 0 ? reverseWords(block) : block;
    ASSERT_EQ(native[4], 0) << "not a block of either byte order";

    for (bool swapped : {false, true}) {
        SCOPED_TRACE(swapped ? "handed over byte-reversed" : "handed over in this machine's order");
        try {
            std::vector<uint8_t> back = roundTripBlock(swapped ? reverseWords(native) : native, PENNARO_PLUGIN_PATH);
            EXPECT_TRUE(back == native) << firstDifference(back, native);
        } catch (const std::exception &e) {
            ADD_FAILURE() << e.what();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Conformance, SavedBlock, ::testing::Range<size_t>(0, allCases().size()), caseTestName);

}  // namespace
