// `pennaro render` run as a user runs it: what it refuses and how, what it
// leaves on disk, and that worker processes change nothing in the frames.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>

#include "cli/run_tool.h"
#include "lib/common.h"
#include "lib/image_compare.h"
#include "lib/png_io.h"
#include "lib/render_frames.h"

using namespace pennaro_cli;
using pennaro_test::runTool;
using pennaro_test::ToolRun;

namespace {

const std::filesystem::path data = std::filesystem::path(PENNARO_TEST_DATA_DIR) / "conformance";
// A drawing with strokes early on, rendered here on generated layers.
const std::string drawing = (data / "render-117.bin").string();

bool contains(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

void writeText(const std::filesystem::path &path, const std::string &text) {
    std::ofstream(path) << text;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path &dir) {
    std::vector<std::filesystem::path> files;
    for (const auto &entry : std::filesystem::directory_iterator(dir)) files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

}  // namespace

TEST(RenderTool, HelpDocumentsEveryOption) {
    ToolRun run = runTool({"render", "--help"});
    ASSERT_EQ(run.status, 0) << run.output;
    for (const char *option :
         {"DRAWING", "--frames", "--fps", "--time-scale", "--time-step", "--local-time-step", "--layer", "--size",
          "--background", "--depth", "--downsample", "--pixel-aspect", "--origin", "--playback-mode",
          "--playback-speed", "--composite", "--wiggle", "--wiggles-per-sec", "--displacement-variation",
          "--displacement-detail", "--pressure-variation", "--pressure-detail", "--individual-seeds", "--params",
          "--prefs", "--output", "--contact-sheet", "--jobs", "--skip-existing", "--plugin", "(v*65535+16384)/32768"})
        EXPECT_TRUE(contains(run.output, option)) << option;
    ToolRun top = runTool({"--help"});
    EXPECT_TRUE(contains(top.output, "render")) << top.output;
    EXPECT_TRUE(contains(top.output, "compare")) << top.output;
}

TEST(RenderTool, RefusesBadValuesClearlyAndWritesNothing) {
    auto dir = pennaro_test::scratchDir("refusals");
    std::string out = (dir / "f_####.png").string();
    writeText(dir / "keys.json", R"({"playback-speed": [[0, 1.0], [10, 250]]})");
    writeText(dir / "junk.bin", std::string(300, '\x07'));
    PngImage deep = makePngImage(8, 8, 16);
    writePng(dir / "deep.png", deep);
    struct Case {
        std::vector<std::string> args;
        std::string mentions;
    } cases[] = {
        {{"--playback-mode", "Backwards"}, "\"Past Strokes\""},
        {{"--composite", "3"}, "--composite"},
        {{"--wiggle", "sometimes"}, "--wiggle"},
        {{"--playback-speed", "101"}, "valid range"},
        {{"--displacement-detail", "-0.5"}, "valid range"},
        {{"--frames", "9-3"}, "--frames"},
        {{"--fps", "30/0"}, "--fps"},
        {{"--size", "640"}, "--size"},
        {{"--downsample", "0/1"}, "--downsample"},
        {{"--background", "plaid"}, "--background"},
        {{"--depth", "12"}, "--depth"},
        {{"--params", (dir / "keys.json").string()}, "keys.json"},
        {{"--params", (dir / "missing.json").string()}, "missing.json"},
        {{"--layer", (dir / "deep.png").string(), "--depth", "8"}, "16-bit"},
        {{"--layer", (dir / "nothere_####.png").string()}, "nothere_0000.png"},
        {{"--prefs", (dir / "missing-prefs.json").string()}, "missing-prefs.json"},
    };
    for (const Case &c : cases) {
        std::vector<std::string> args = {"render", drawing, "--frames", "0-1", "--size", "32x24", "-o", out};
        if (c.args[0] == "--size" || c.args[0] == "--layer") args.erase(args.begin() + 4, args.begin() + 6);
        if (c.args[0] == "--frames") args.erase(args.begin() + 2, args.begin() + 4);
        args.insert(args.end(), c.args.begin(), c.args.end());
        ToolRun run = runTool(args);
        EXPECT_NE(run.status, 0) << c.args[0] << " " << c.args[1];
        EXPECT_TRUE(contains(run.output, c.mentions)) << c.args[0] << ": " << run.output;
    }
    // Several frames need #### in the output name; one frame does not.
    ToolRun plain = runTool({"render", drawing, "--frames", "0-1", "--size", "32x24", "-o", (dir / "a.png").string()});
    EXPECT_NE(plain.status, 0);
    EXPECT_TRUE(contains(plain.output, "####")) << plain.output;
    // A damaged drawing fails before any frame.
    ToolRun junk = runTool({"render", (dir / "junk.bin").string(), "--size", "32x24", "-o", out, "--frames", "0"});
    EXPECT_NE(junk.status, 0);
    EXPECT_TRUE(contains(junk.output, "junk.bin")) << junk.output;

    for (const auto &file : filesIn(dir))
        EXPECT_FALSE(contains(file.filename().string(), "f_")) << "left behind: " << file;
    ToolRun one = runTool({"render", drawing, "--frames", "3", "--size", "32x24", "-o", (dir / "a.png").string()});
    EXPECT_EQ(one.status, 0) << one.output;
    EXPECT_TRUE(std::filesystem::exists(dir / "a.png"));
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, SixteenBitLayerComesBackExactlyWhenNothingIsPainted) {
    // Current Frame far beyond the drawing paints nothing, and "In Original"
    // leaves the copy of the layer: the 16-bit mapping must give the file back.
    auto dir = pennaro_test::scratchDir("roundtrip");
    for (const char *layer : {"raster-004-layer.png", "raster-001-layer.png"}) {
        std::string out = (dir / "out.png").string();
        ToolRun run = runTool({"render", drawing, "--layer", (data / layer).string(), "--depth", "16", "--frames",
                               "100000", "--playback-mode", "Current Frame", "--composite", "In Original", "-o", out});
        ASSERT_EQ(run.status, 0) << run.output;
        PngImage input = readPng(data / layer), output = readPng(out);
        EXPECT_EQ(output.depth, 16);
        if (input.depth == 16) {
            EXPECT_TRUE(compareImages(input, output).identical()) << describeComparison(compareImages(input, output));
        } else {
            // An 8-bit layer at depth 16: widened, then written with the mapping.
            for (size_t i = 0; i < input.samples.size(); ++i)
                ASSERT_EQ(output.samples[i], sixteenBitToFile(eightBitToSixteen(input.samples[i]))) << i;
        }
    }
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, LayersReachTheEffectAsTheyShouldFrameAfterFrame) {
    // Nothing is painted ("Current Frame" far beyond the drawing) and "In
    // Original" returns the layer: what comes out is what the effect got.
    auto dir = pennaro_test::scratchDir("layers");
    const std::vector<std::string> nothingPainted = {"--playback-mode", "Current Frame", "--composite",
                                                     "In Original", "-q"};
    // A generated background at a downsampled size is the full-size pattern
    // point-sampled, at both depths, on every frame of the run.
    for (int depth : {8, 16}) {
        auto args = std::vector<std::string>{"render", drawing, "--frames", "100000-100002", "--size", "37x23",
                                             "--background", "gradient", "--downsample", "1/3,2/3", "--depth",
                                             std::to_string(depth), "-o", (dir / "bg_####.png").string()};
        args.insert(args.end(), nothingPainted.begin(), nothingPainted.end());
        ToolRun run = runTool(args);
        ASSERT_EQ(run.status, 0) << run.output;
        PngImage expected = effectImageToPng(
            pointSample(backgroundImage(parseBackground("gradient"), 37, 23, depth), 13, 16, {1, 3}, {2, 3}));
        for (const char *name : {"bg_100000.png", "bg_100002.png"}) {
            PngImage got = readPng(dir / name);
            EXPECT_TRUE(compareImages(expected, got).identical()) << depth << " " << name << ": "
                                                                  << describeComparison(compareImages(expected, got));
        }
    }
    // A layer sequence whose frames change size: each output has its own
    // layer's size and pixels.
    PngImage big = makePngImage(8, 6, 8), small = makePngImage(5, 4, 8);
    for (size_t i = 0; i < big.samples.size(); ++i) big.samples[i] = uint16_t(i * 7 % 256);
    for (size_t i = 0; i < small.samples.size(); ++i) small.samples[i] = uint16_t(i * 13 % 256);
    writePng(dir / "layer_100000.png", big);
    writePng(dir / "layer_100001.png", small);
    auto args = std::vector<std::string>{"render", drawing, "--frames", "100000-100001", "--layer",
                                         (dir / "layer_######.png").string(), "-o", (dir / "seq_####.png").string()};
    args.insert(args.end(), nothingPainted.begin(), nothingPainted.end());
    ToolRun run = runTool(args);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(compareImages(big, readPng(dir / "seq_100000.png")).identical());
    EXPECT_TRUE(compareImages(small, readPng(dir / "seq_100001.png")).identical());
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, AFrameThatCannotBeWrittenIsNamedAndTheOthersArePutInPlace) {
    // Files reach their names one frame late (the disk wait overlaps the
    // next render): a failing rename must still name its own frame, and
    // the frame rendered before it must not be lost.
    auto dir = pennaro_test::scratchDir("unwritable");
    for (const char *jobs : {"1", "2"}) {
        const auto out = dir / jobs;
        std::filesystem::create_directories(out / "f_0003.png");  // a folder where frame 3 should go
        ToolRun run = runTool({"render", drawing, "--frames", "0-5", "--size", "16x12", "-j", jobs, "-q", "-o",
                               (out / "f_####.png").string()});
        EXPECT_EQ(run.status, 1) << run.output;
        EXPECT_TRUE(contains(run.output, "frame 3")) << run.output;
        EXPECT_TRUE(std::filesystem::is_regular_file(out / "f_0002.png")) << jobs;
        for (const auto &file : filesIn(out)) EXPECT_FALSE(contains(file.string(), ".tmp")) << file;
    }
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, WorkerProcessesGiveTheSameFiles) {
    auto dir = pennaro_test::scratchDir("jobs");
    writeText(dir / "keys.json", R"({"wiggles-per-sec": [[0, 2.0], [5, 9.5]], "playback-mode": [[0, 1], [4, 2]]})");
    std::vector<std::string> common = {"render", drawing, "--frames", "0-7", "--size", "96x64", "--background",
                                       "gradient", "--wiggle", "on", "--displacement-variation", "12",
                                       "--params", (dir / "keys.json").string(), "-q"};
    auto one = common, two = common;
    one.insert(one.end(), {"--jobs", "1", "-o", (dir / "one/f_####.png").string()});
    two.insert(two.end(), {"--jobs", "2", "-o", (dir / "two/f_####.png").string(), "--contact-sheet",
                           (dir / "sheet.png").string()});
    ToolRun a = runTool(one), b = runTool(two);
    ASSERT_EQ(a.status, 0) << a.output;
    ASSERT_EQ(b.status, 0) << b.output;
    auto filesOne = filesIn(dir / "one"), filesTwo = filesIn(dir / "two");
    ASSERT_EQ(filesOne.size(), 8u);
    ASSERT_EQ(filesTwo.size(), 8u);
    for (size_t i = 0; i < filesOne.size(); ++i) {
        EXPECT_EQ(filesOne[i].filename(), filesTwo[i].filename());
        EXPECT_EQ(readFileBytes(filesOne[i]), readFileBytes(filesTwo[i])) << filesOne[i].filename();
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "sheet.png"));

    // --skip-existing leaves an existing frame alone; without it, it is replaced.
    auto target = dir / "one/f_0003.png";
    writeText(target, "keep me");
    auto again = one;
    again.push_back("--skip-existing");
    ASSERT_EQ(runTool(again).status, 0);
    EXPECT_EQ(readFileBytes(target), std::vector<uint8_t>({'k', 'e', 'e', 'p', ' ', 'm', 'e'}));
    ASSERT_EQ(runTool(one).status, 0);
    EXPECT_EQ(readFileBytes(target), readFileBytes(dir / "two/f_0003.png"));
    for (const auto &file : filesIn(dir / "one")) EXPECT_FALSE(contains(file.string(), ".tmp")) << file;
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, KeyframesAndPreferencesReachTheEffect) {
    auto dir = pennaro_test::scratchDir("keys");
    const std::string demo = (std::filesystem::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json").string();
    auto render = [&](const std::string &name, std::vector<std::string> extra) {
        std::vector<std::string> args = {"render", demo, "--size", "160x90", "--fps", "30000/1001", "-q", "-o",
                                         (dir / name).string()};
        args.insert(args.end(), extra.begin(), extra.end());
        ToolRun run = runTool(args);
        EXPECT_EQ(run.status, 0) << run.output;
        return readFileBytes(dir / name);
    };
    // A popup holds each key until the next; keys are frame numbers.
    writeText(dir / "keys.json", R"({"playback-mode": [[0, "All Strokes"], [50, "Current Frame"]]})");
    std::string keys = (dir / "keys.json").string();
    EXPECT_EQ(render("k49.png", {"--frames", "49", "--params", keys}),
              render("a49.png", {"--frames", "49", "--playback-mode", "All Strokes"}));
    EXPECT_EQ(render("k50.png", {"--frames", "50", "--params", keys}),
              render("c50.png", {"--frames", "50", "--playback-mode", "Current Frame"}));
    EXPECT_NE(readFileBytes(dir / "a49.png"), render("c49.png", {"--frames", "49"}));

    // Onion-skin preferences come from --prefs.
    writeText(dir / "prefs.json", R"({"Onion skin - Frames backward": 40, "Onion skin - Opacity": 1.0})");
    auto onion = std::vector<std::string>{"--frames", "100", "--playback-mode", "Onion Skin"};
    auto withPrefs = onion;
    withPrefs.insert(withPrefs.end(), {"--prefs", (dir / "prefs.json").string()});
    EXPECT_NE(render("o1.png", onion), render("o2.png", withPrefs));
    writeText(dir / "bad.json", R"({"Onion skin - Frames sideways": 1})");
    ToolRun bad = runTool({"render", demo, "--frames", "0", "--size", "16x16", "-o", (dir / "b.png").string(),
                           "--prefs", (dir / "bad.json").string()});
    EXPECT_NE(bad.status, 0);
    EXPECT_TRUE(contains(bad.output, "Frames sideways")) << bad.output;
    std::filesystem::remove_all(dir);
}

TEST(RenderTool, AWorkerThatCannotStartStopsTheRunAndNoWorkerOutlivesIt) {
    // Two workers start, the third cannot: the two take no new frame, finish
    // the one they have and are waited for before the tool exits.
    auto dir = pennaro_test::scratchDir("fork");
    const auto log = dir / "workers";
    const char *asan = std::getenv("ASAN_OPTIONS");
    ToolRun run = runTool({"render", drawing, "--frames", "0-40", "--size", "640x360", "-j", "3", "-q", "-o",
                           (dir / "f_####.png").string()},
                          "LD_PRELOAD=" PENNARO_FAIL_FORK_PATH " PENNARO_TEST_FAIL_FORK=3 PENNARO_TEST_FORK_LOG=" +
                              pennaro_test::shellQuote(log.string()) + " ASAN_OPTIONS=" +
                              pennaro_test::shellQuote(std::string(asan ? asan : "") + ":verify_asan_link_order=0"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(contains(run.output, "cannot start worker 3 of 3")) << run.output;
    std::ifstream pids(log);
    int count = 0;
    for (pid_t pid; pids >> pid; ++count) EXPECT_NE(kill(pid, 0), 0) << "worker " << pid << " outlived the tool";
    EXPECT_EQ(count, 2);
    for (const auto &file : filesIn(dir)) EXPECT_FALSE(contains(file.string(), ".tmp")) << file;
    std::filesystem::remove_all(dir);
}
