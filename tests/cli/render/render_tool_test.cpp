// `pennaro render` run as a user runs it: what it refuses and how, what it
// leaves on disk, and that worker processes change nothing in the frames.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <nlohmann/json.hpp>

#include "cli/run_tool.h"
#include "cli/core/files.h"
#include "cli/images/compare.h"
#include "cli/images/image_format.h"
#include "cli/images/png.h"
#include "cli/render/frames.h"
#include "cli/render/options.h"

using namespace pennaro_cli;
using pennaro_test::filesIn;
using pennaro_test::runTool;
using pennaro_test::ScratchDir;
using pennaro_test::ToolRun;
using Args = std::vector<std::string>;

namespace {

const std::filesystem::path data = std::filesystem::path(PENNARO_TEST_DATA_DIR) / "conformance";
// A drawing with strokes early on, rendered here on generated layers.
const std::string drawing = (data / "render-117.bin").string();
const std::string demo = (std::filesystem::path(PENNARO_SOURCE_DIR) / "examples" / "demo.json").string();
// "Current Frame" far beyond the drawing paints nothing, and "In Original"
// returns the layer: what comes out is what the effect got.
const Args nothingPainted = {"--playback-mode", "Current Frame", "--composite", "In Original", "-q"};

Args operator+(Args a, const Args &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void writeText(const std::string &path, const std::string &text) { std::ofstream(path) << text; }

// Another program run on a file, its output kept beside the file.
ToolRun runProgram(const std::string &program, const std::string &file) {
    const std::string output = file + "." + program + ".txt";
    ToolRun run;
    run.status = WEXITSTATUS(std::system((program + " " + pennaro_test::shellQuote(file) + " > " +
                                          pennaro_test::shellQuote(output) + " 2>&1").c_str()));
    std::ifstream in(output);
    run.output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return run;
}

void expectNoTemporaryFiles(const std::filesystem::path &dir) {
    for (const auto &file : filesIn(dir)) EXPECT_EQ(file.find(".tmp"), std::string::npos) << file;
}

}  // namespace

TEST(RenderTool, HelpDocumentsEveryOption) {
    ToolRun run = runTool({"render", "--help"});
    ASSERT_EQ(run.status, 0) << run.output;
    for (const ParamInfo &param : effectParams()) EXPECT_TRUE(run.says(std::string("--") + param.option)) << param.option;
    for (const char *option : {"DRAWING", "--frames", "--fps", "--time-scale", "--time-step", "--local-time-step",
                               "--layer", "--size", "--background", "--depth", "--downsample", "--pixel-aspect",
                               "--origin", "--params", "--prefs", "--output", "--contact-sheet", "--jobs",
                               "--skip-existing", "--plugin", "(v*65535+16384)/32768", "--frame-offset",
                               "--exr-type", "--exr-compression", ".dpx", "--dry-run", "--verbose"})
        EXPECT_TRUE(run.says(option)) << option;
    ToolRun top = runTool({"--help"});
    EXPECT_TRUE(top.says("render") && top.says("compare")) << top.output;
    EXPECT_EQ(runTool({"help", "render"}).output, run.output);
    EXPECT_EQ(runTool({"help", "rendr"}).status, 2);
    // Not on a terminal: a line per frame with its time, and a summary.
    ScratchDir dir("lines");
    ToolRun lines = runTool({"render", drawing, "--frames", "4-6", "--size", "16x16", "-o", dir / "f_####.tif"});
    EXPECT_EQ(lines.status, 0);
    for (const char *line : {"pennaro render: frame 4 (1/3) in ", "frame 6 (3/3) in ", "rendered 3 frames to ",
                             " frames/s)"})
        EXPECT_TRUE(lines.says(line)) << line << "\n" << lines.output;
}

TEST(RenderTool, RefusesBadValuesClearlyAndWritesNothing) {
    ScratchDir dir("refusals");
    const std::string out = dir / "f_####.png";
    writeText(dir / "keys.json", R"({"playback-speed": [[0, 1.0], [10, 250]]})");
    writeText(dir / "prefs.json", R"({"Onion skin - Frames sideways": 1})");
    writeText(dir / "junk.bin", std::string(300, '\x07'));
    writePng(dir / "deep.png", makeImage(8, 8, 16));
    // One stroke starting in a billion seconds: a default range nobody means.
    std::ifstream demoFile(demo);
    std::string late((std::istreambuf_iterator<char>(demoFile)), std::istreambuf_iterator<char>());
    writeText(dir / "late.json", late.replace(late.find("\"startTime\": 0.5"), 16, "\"startTime\": 1e9"));
    const Args base = {"render", drawing, "--frames", "0-1", "--size", "32x24", "-o", out};
    struct Case {
        Args args;  // option/value pairs replacing those of `base` (removing them when empty), or added
        std::string mentions;
        int status;  // 2: the command line is wrong; 1: an input is refused
    } cases[] = {
        {{"--playback-mode", "Backwards"}, "\"Past Strokes\"", 2},
        {{"--composite", "3"}, "--composite", 2},
        {{"--wiggle", "sometimes"}, "--wiggle", 2},
        {{"--playback-speed", "101"}, "valid range", 2},
        {{"--displacement-detail", "-0.5"}, "valid range", 2},
        {{"--frames", "9-3"}, "--frames", 2},
        {{"--frames", "10000001"}, "from -10000000 to 10000000", 2},
        {{"--frames", "2", "--time-step", "2000000000"}, "host's clock (frames from -1 to 1", 2},
        {{"--fps", "30/0"}, "--fps", 2},
        {{"--fps", "30/4294967295"}, "--fps: '30/4294967295' is outside the allowed range", 2},
        {{"--time-step", "0"}, "--time-step: '0' is not a whole number from 1 to 2147483647", 2},
        {{"--time-scale", "-30"}, "--time-scale", 2},
        {{"--local-time-step", "1/2"}, "--local-time-step", 2},
        {{"--size", "640"}, "--size", 2},
        {{"--downsample", "0/1"}, "--downsample", 2},
        {{"--downsample", "1/2,3/2"}, "--downsample: '1/2,3/2' is outside the allowed range", 2},
        {{"--pixel-aspect", "1000/1"}, "1/100 to 100", 2},
        {{"--background", "plaid"}, "--background", 2},
        {{"--depth", "12"}, "--depth", 2},
        {{"--jobs", "0"}, "--jobs", 2},
        {{"--fpss", "24"}, "did you mean --fps?", 2},
        {{"--layer", dir / "deep.png"}, "--size and --layer", 2},
        {{"-o", dir / (std::string(250, 'f') + "_####.png")}, "-o: the file name", 2},
        {{"-o", dir / "a.png"}, "####", 2},  // several frames need #### in the output name
        {{"-o", dir / "f_####.jpg"}, "cannot write .jpg images", 2},
        {{"--exr-type", "double"}, "--exr-type", 2},
        {{"--layer", dir / "junk.bin", "--size", ""}, "junk.bin is not an image the tool reads", 1},
        {{"--params", dir / "keys.json"}, "keys.json", 1},
        {{"--params", dir / "missing.json"}, "missing.json", 1},
        {{"--layer", dir / "deep.png", "--size", "", "--depth", "8"}, "16-bit", 1},
        {{"--layer", dir / "nothere_####.png", "--size", ""}, "nothere_0000.png", 1},
        {{"--prefs", dir / "missing-prefs.json"}, "missing-prefs.json", 1},
        {{"--prefs", dir / "prefs.json"}, "unknown preference \"Onion skin - Frames sideways\"", 1},
        {{"DRAWING", dir / "junk.bin"}, "junk.bin", 1},  // a damaged drawing fails before any frame
        {{"DRAWING", dir / "late.json", "--frames", ""}, "more than 100000 frames to render by default", 1},
    };
    for (const Case &c : cases) {
        Args args = base;
        for (size_t i = 0; i < c.args.size(); i += 2) {
            auto at = c.args[i] == "DRAWING" ? args.begin() : std::find(args.begin(), args.end(), c.args[i]);
            if (at == args.end()) args.insert(args.end(), {c.args[i], c.args[i + 1]});
            else if (c.args[i + 1].empty()) args.erase(at, at + 2);
            else at[1] = c.args[i + 1];
        }
        ToolRun run = runTool(args);
        EXPECT_EQ(run.status, c.status) << c.args[0] << " " << c.args[1];
        EXPECT_TRUE(run.says("pennaro render: ") && run.says(c.mentions)) << c.args[0] << ": " << run.output;
    }
    for (const auto &file : filesIn(dir.path)) EXPECT_NE(file.substr(0, 2), "f_") << "left behind: " << file;
    ToolRun one = runTool({"render", drawing, "--frames", "3", "--size", "32x24", "-o", dir / "a.png"});
    EXPECT_EQ(one.status, 0) << one.output;
    EXPECT_TRUE(std::filesystem::exists(dir / "a.png"));
}

TEST(Tool, EveryCommandAnswersAUsageErrorWithStatusTwoAndItsName) {
    ScratchDir dir("usage");
    const std::string out = dir / "out.json";
    struct Case {
        Args args;
        std::string says;
    } cases[] = {
        {{"rendr"}, "unknown command 'rendr'; did you mean render?"},
        {{"render", demo, demo}, "pennaro render: The following argument was not expected"},
        {{"render", demo, "--frmaes", "3"}, "did you mean --frames?"},
        {{"info"}, "pennaro info: FILE is required"},
        {{"info", demo, demo}, "pennaro info: "},
        {{"info", demo, "--jsno"}, "pennaro info: The following argument was not expected: --jsno; did you mean --json?"},
        {{"convert", demo}, "pennaro convert: OUT is required"},
        {{"convert", demo, out, "--to", "xml"}, "pennaro convert: --to"},
        {{"convert", demo, out, "--big-endian"}, "pennaro convert: --big-endian"},
        {{"resave", demo, out, out}, "pennaro resave: "},
        {{"describe", "--pref", demo}, "did you mean --prefs?"},
        {{"compare", demo}, "pennaro compare: B is required"},
    };
    for (const Case &c : cases) {
        ToolRun run = runTool(c.args);
        EXPECT_EQ(run.status, 2) << c.args[0] << ": " << run.output;
        EXPECT_TRUE(run.says(c.says)) << run.output;
    }
    EXPECT_FALSE(std::filesystem::exists(out));
    for (const char *command : {"render", "info", "convert", "resave", "describe", "compare"}) {
        ToolRun run = runTool({command, "--help"});
        EXPECT_EQ(run.status, 0) << command;
        EXPECT_TRUE(run.says("Exit status: 0 success; 1 a failure")) << command;
    }
}

TEST(RenderTool, SixteenBitLayerComesBackExactlyWhenNothingIsPainted) {
    ScratchDir dir("roundtrip");
    for (const char *layer : {"raster-004-layer.png", "raster-001-layer.png"}) {
        ToolRun run = runTool(Args{"render", drawing, "--layer", (data / layer).string(), "--depth", "16",
                                   "--frames", "100000", "-o", dir / "out.png"} + nothingPainted);
        ASSERT_EQ(run.status, 0) << run.output;
        RgbaImage input = readPng(data / layer), output = readPng(dir / "out.png");
        ASSERT_EQ(output.depth, 16);
        ASSERT_EQ(output.samples.size(), input.samples.size());
        // A 16-bit file comes back as it was; an 8-bit one is widened, then
        // written with the mapping.
        for (size_t i = 0; i < input.samples.size(); ++i)
            ASSERT_EQ(output.samples[i], input.depth == 16 ? input.samples[i]
                                                           : sixteenBitToFile(eightBitToSixteen(input.samples[i])))
                << layer << " " << i;
    }
}

TEST(RenderTool, LayersReachTheEffectAsTheyShouldFrameAfterFrame) {
    ScratchDir dir("layers");
    // A generated background at a downsampled size is the full-size pattern
    // point-sampled, at both depths, on every frame of the run.
    for (int depth : {8, 16}) {
        ToolRun run = runTool(Args{"render", drawing, "--frames", "100000-100002", "--size", "37x23", "--background",
                                   "gradient", "--downsample", "1/3,2/3", "--depth", std::to_string(depth), "-o",
                                   dir / "bg_####.png"} + nothingPainted);
        ASSERT_EQ(run.status, 0) << run.output;
        RgbaImage expected = frameAtFileScale(
            pointSample(backgroundImage(parseBackground("gradient"), 37, 23, depth), 13, 16, {1, 3}, {2, 3}));
        for (const char *name : {"bg_100000.png", "bg_100002.png"}) {
            ImageComparison result = compareImages(expected, readPng(dir / name));
            EXPECT_TRUE(result.identical()) << depth << " " << name << ": " << describeComparison(result);
        }
    }
    // A layer sequence: each output has its own layer's pixels. One frame
    // of another size (or depth, or missing) is found before any frame is
    // written, and named with its file; --dry-run lists the run.
    RgbaImage big = makeImage(8, 6, 8), small = makeImage(8, 6, 8);
    for (size_t i = 0; i < big.samples.size(); ++i) big.samples[i] = uint16_t(i * 7 % 256);
    for (size_t i = 0; i < small.samples.size(); ++i) small.samples[i] = uint16_t(i * 13 % 256);
    writePng(dir / "layer_100000.png", big);
    writePng(dir / "layer_100001.png", small);
    const Args sequence = Args{"render", drawing, "--frames", "100000-100002", "--layer", dir / "layer_######.png",
                               "-o", dir / "seq_####.png"} + nothingPainted;
    const struct {
        std::string third, says;
    } broken[] = {{"", "frame 100002: no such file: " + dir / "layer_100002.png"},
                  {"5x4", "frame 100002: " + dir / "layer_100002.png" + " is a 5x4 8-bit PNG image"},
                  {"8x6x16", "is a 8x6 16-bit PNG image, but the sequence starts with a 8x6 8-bit PNG one"},
                  {"junk", "layer_100002.png is not an image the tool reads"}};
    for (const auto &b : broken) {
        if (b.third == "junk") writeText(dir / "layer_100002.png", "junk");
        else if (!b.third.empty()) writePng(dir / "layer_100002.png", makeImage(b.third[0] - '0', b.third[2] - '0', b.third.size() > 3 ? 16 : 8));
        ToolRun run = runTool(sequence);
        EXPECT_EQ(run.status, 1) << b.says;
        EXPECT_TRUE(run.says(b.says)) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "seq_100000.png"));
    }
    writePng(dir / "layer_100002.png", big);
    ToolRun run = runTool(sequence + Args{"--dry-run"});
    EXPECT_TRUE(run.says("frame 100001: effect frame 100001, 3333.37 s: write " + dir / "seq_100001.png" + " from " +
                         dir / "layer_100001.png")) << run.output;
    EXPECT_FALSE(std::filesystem::exists(dir / "seq_100000.png"));
    run = runTool(sequence);
    ASSERT_EQ(run.status, 0) << run.output;
    EXPECT_TRUE(compareImages(big, readPng(dir / "seq_100000.png")).identical());
    EXPECT_TRUE(compareImages(small, readPng(dir / "seq_100001.png")).identical());
    // pennaro compare's answer is its exit status: same, different, unreadable.
    EXPECT_EQ(runTool({"compare", dir / "layer_100000.png", dir / "seq_100000.png"}).status, 0);
    run = runTool({"compare", dir / "seq_100000.png", dir / "seq_100001.png", "--diff", dir / "diff.png"});
    EXPECT_EQ(run.status, 3) << run.output;
    EXPECT_TRUE(std::filesystem::exists(dir / "diff.png"));
    EXPECT_EQ(runTool({"compare", dir / "seq_100000.png", dir / "missing.png", "-q"}).status, 1);
}

TEST(RenderTool, AFrameThatCannotBeWrittenIsNamedAndTheOthersArePutInPlace) {
    // Frame 3's file cannot be made (a folder where it goes) or cannot be
    // filled (a link to a full device, which fails on the writer thread
    // while frame 4 renders): either way the failure names frame 3, and
    // the frames before it are in place.
    ScratchDir dir("unwritable");
    const struct {
        const char *name;
        void (*block)(const std::filesystem::path &);
        const char *says;
    } cases[] = {
        {"folder", [](const std::filesystem::path &f) { std::filesystem::create_directories(f); }, "is a folder"},
        {"full", [](const std::filesystem::path &f) { std::filesystem::create_symlink("/dev/full", f); },
         "No space left"},
    };
    for (const auto &c : cases) {
        if (std::string(c.name) == "full" && !std::filesystem::exists("/dev/full")) continue;
        for (const char *jobs : {"1", "2"}) {
            const auto out = dir.path / (c.name + std::string(jobs));
            std::filesystem::create_directories(out);
            c.block(out / "f_0003.png");
            ToolRun run = runTool({"render", drawing, "--frames", "0-5", "--size", "16x12", "-j", jobs, "-q", "-o",
                                   (out / "f_####.png").string()});
            EXPECT_EQ(run.status, 1) << run.output;
            EXPECT_TRUE(run.says("frame 3") && run.says(c.says)) << run.output;
            EXPECT_TRUE(std::filesystem::is_regular_file(out / "f_0002.png")) << c.name << jobs;
            expectNoTemporaryFiles(out);
        }
    }
}

TEST(RenderTool, WorkerProcessesGiveTheSameFiles) {
    ScratchDir dir("jobs");
    writeText(dir / "keys.json", R"({"wiggles-per-sec": [[0, 2.0], [5, 9.5]], "playback-mode": [[0, 1], [4, 2]]})");
    const Args common = {"render", drawing, "--frames", "0-7", "--size", "96x64", "--background", "gradient",
                         "--wiggle", "on", "--displacement-variation", "12", "--params", dir / "keys.json", "-q"};
    const Args one = common + Args{"--jobs", "1", "-o", dir / "one/f_####.png"};
    ASSERT_EQ(runTool(one).status, 0);
    ToolRun two = runTool(common + Args{"--jobs", "2", "-o", dir / "two/f_####.png", "--contact-sheet",
                                        dir / "sheet.png"});
    ASSERT_EQ(two.status, 0) << two.output;
    const auto files = filesIn(dir / "one");
    ASSERT_EQ(files.size(), 8u);
    ASSERT_EQ(filesIn(dir / "two"), files);
    for (const auto &name : files)
        EXPECT_EQ(readFileBytes(dir.path / "one" / name), readFileBytes(dir.path / "two" / name)) << name;
    EXPECT_TRUE(std::filesystem::exists(dir / "sheet.png"));

    // --skip-existing leaves a complete frame alone (here, frame 2's image
    // under frame 3's name) and renders again what is not one: empty, junk,
    // another size or depth; without it, every frame is replaced.
    const std::string target = dir / "one/f_0003.png";
    writePng(dir / "small.png", makeImage(3, 3, 8));
    writePng(dir / "deep.png", makeImage(160, 90, 16));
    const struct {
        std::string from;  // copied to the target; "" leaves it empty
        bool kept;
    } existing[] = {{dir / "two/f_0002.png", true}, {"", false}, {dir / "sheet.png", false},
                    {dir / "small.png", false},     {dir / "deep.png", false}};
    for (const auto &e : existing) {
        if (e.from.empty()) writeText(target, "");
        else std::filesystem::copy_file(e.from, target, std::filesystem::copy_options::overwrite_existing);
        const auto before = readFileBytes(target);
        ASSERT_EQ(runTool(one + Args{"--skip-existing"}).status, 0);
        EXPECT_EQ(readFileBytes(target), e.kept ? before : readFileBytes(dir / "two/f_0003.png")) << e.from;
    }
    ASSERT_EQ(runTool(one).status, 0);
    EXPECT_EQ(readFileBytes(target), readFileBytes(dir / "two/f_0003.png"));
    expectNoTemporaryFiles(dir / "one");
}

TEST(RenderTool, KeyframesAndPreferencesReachTheEffect) {
    ScratchDir dir("keys");
    auto render = [&](const std::string &name, const Args &extra) {
        ToolRun run = runTool(Args{"render", demo, "--size", "160x90", "--fps", "30000/1001", "-q", "-o", dir / name} +
                              extra);
        EXPECT_EQ(run.status, 0) << run.output;
        return readFileBytes(dir / name);
    };
    // A popup holds each key until the next; keys are frame numbers.
    writeText(dir / "keys.json", R"({"playback-mode": [[0, "All Strokes"], [50, "Current Frame"]]})");
    EXPECT_EQ(render("k49.png", {"--frames", "49", "--params", dir / "keys.json"}),
              render("a49.png", {"--frames", "49", "--playback-mode", "All Strokes"}));
    EXPECT_EQ(render("k50.png", {"--frames", "50", "--params", dir / "keys.json"}),
              render("c50.png", {"--frames", "50", "--playback-mode", "Current Frame"}));
    EXPECT_NE(readFileBytes(dir / "a49.png"), render("c49.png", {"--frames", "49"}));

    // Onion-skin preferences come from --prefs.
    writeText(dir / "prefs.json", R"({"Onion skin - Frames backward": 40, "Onion skin - Opacity": 1.0})");
    const Args onion = {"--frames", "100", "--playback-mode", "Onion Skin"};
    EXPECT_NE(render("o1.png", onion), render("o2.png", onion + Args{"--prefs", dir / "prefs.json"}));
}

TEST(RenderTool, AWorkerThatCannotStartStopsTheRunAndNoWorkerOutlivesIt) {
    // Two workers start, the third cannot: the two take no new frame, finish
    // the one they have and are waited for before the tool exits.
    ScratchDir dir("fork");
    const char *asan = std::getenv("ASAN_OPTIONS");
    ToolRun run = runTool({"render", drawing, "--frames", "0-40", "--size", "640x360", "-j", "3", "-q", "-o",
                           dir / "f_####.png"},
                          "LD_PRELOAD=" PENNARO_FAIL_FORK_PATH " PENNARO_TEST_FAIL_FORK=3 PENNARO_TEST_FORK_LOG=" +
                              pennaro_test::shellQuote(dir / "workers") + " ASAN_OPTIONS=" +
                              pennaro_test::shellQuote(std::string(asan ? asan : "") + ":verify_asan_link_order=0"));
    EXPECT_EQ(run.status, 1) << run.output;
    EXPECT_TRUE(run.says("cannot start worker 3 of 3")) << run.output;
    std::ifstream pids(dir / "workers");
    int count = 0;
    for (pid_t pid; pids >> pid; ++count) EXPECT_NE(kill(pid, 0), 0) << "worker " << pid << " outlived the tool";
    EXPECT_EQ(count, 2);
    expectNoTemporaryFiles(dir.path);
}

TEST(WritingTools, OutputsGoWhereAskedAndNowhereElse) {
    ScratchDir dir("outputs");
    const std::string in = dir / "in.bin";
    ASSERT_EQ(runTool({"convert", demo, in}).status, 0);
    // A temporary file a killed run of this host left: the next write removes it.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    char host[256] = {};
    gethostname(host, sizeof host - 1);
    const std::string stale = dir / (".x.png.pennaro-" + std::string(host) + "-" + std::to_string(gone) + "-0abc.tmp");
    writeText(stale, "");
    // A FIFO with its reader open takes the (small) output as it stands.
    const std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    std::vector<std::string> devices = {fifo};
    if (geteuid() == 0) devices.push_back("/dev/null");  // only root could replace it
    const struct {
        Args command;  // IN and OUT follow
        bool inPlace;  // may rewrite its input
    } commands[] = {{{"render", "--frames", "3", "--size", "32x24", "-q", "-o"}, false},
                    {{"convert", "--to", "block"}, true},
                    {{"resave"}, true}};
    for (const auto &c : commands) {
        const std::string &name = c.command[0];
        auto run = [&](const std::string &input, const std::string &output) {
            Args args = c.command;
            args.insert(args.begin() + 1, input);
            args.push_back(output);
            return runTool(args);
        };
        ASSERT_EQ(run(in, dir / "plain").status, 0) << name;
        const auto expected = readFileBytes(dir / "plain");
        // A symlinked output keeps its link; its target gets the bytes.
        writeText(dir / "target", "old");
        std::filesystem::remove(dir / "link");
        std::filesystem::create_symlink("target", dir / "link");
        EXPECT_EQ(run(in, dir / "link").status, 0) << name;
        EXPECT_TRUE(std::filesystem::is_symlink(dir / "link")) << name;
        EXPECT_EQ(readFileBytes(dir / "target"), expected) << name;
        for (const std::string &device : devices) {
            struct stat before {}, after {};
            lstat(device.c_str(), &before);
            EXPECT_EQ(run(in, device).status, 0) << name << " " << device;
            for (char drained[65536]; reader >= 0 && read(reader, drained, sizeof drained) > 0;) {
            }
            lstat(device.c_str(), &after);
            EXPECT_EQ(after.st_mode, before.st_mode) << name << " " << device;
            EXPECT_EQ(after.st_rdev, before.st_rdev) << name << " " << device;
        }
        // A file rewritten keeps its mode: a private file stays private.
        std::filesystem::copy_file(in, dir / "private", std::filesystem::copy_options::overwrite_existing);
        chmod((dir / "private").c_str(), 0600);
        EXPECT_EQ(run(c.inPlace ? dir / "private" : in, dir / "private").status, 0) << name;
        struct stat info {};
        stat((dir / "private").c_str(), &info);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
        // Writing over an input under another name is refused, the input kept.
        if (!c.inPlace) {
            const auto before = readFileBytes(in);
            std::filesystem::create_symlink("in.bin", dir / "alias");
            ToolRun refused = run(in, dir / "alias");
            EXPECT_EQ(refused.status, 1) << name;
            EXPECT_TRUE(refused.says("refusing to write over an input")) << refused.output;
            EXPECT_EQ(readFileBytes(in), before) << name;
        }
    }
    if (reader >= 0) close(reader);
    EXPECT_FALSE(std::filesystem::exists(stale));
    expectNoTemporaryFiles(dir.path);
    // -o - streams one frame's PNG to standard output; several frames cannot go there.
    ToolRun streamed = runTool({"render", in, "--frames", "3", "--size", "32x24", "-q", "-o", "-"});
    EXPECT_EQ(streamed.status, 0);
    EXPECT_EQ(streamed.output.substr(0, 4), "\x89PNG");
    EXPECT_EQ(runTool({"render", in, "--frames", "3-4", "-o", "-"}).status, 2);
}

// An interrupted run leaves no temporary file, says in one line how many
// frames are in place, and its per-frame log names only frames whose file
// is there: with workers and without.
TEST(WritingTools, SigtermLeavesNoTemporaryFileAndTellsWhatWasWritten) {
    for (const char *jobs : {"1", "2"}) {
        ScratchDir dir(std::string("sigterm") + jobs);
        const std::string out = dir / "f_####.png", log = dir / "log.txt";
        const pid_t pid = fork();
        if (pid == 0) {
            const int null = open("/dev/null", O_WRONLY), logFile = open(log.c_str(), O_WRONLY | O_CREAT, 0600);
            dup2(null, STDOUT_FILENO);
            dup2(logFile, STDERR_FILENO);
            // Bounded: the run ends by itself after its frames.
            execl(PENNARO_CLI_PATH, PENNARO_CLI_PATH, "render", drawing.c_str(), "--frames", "0-400", "--size",
                  "640x360", "-j", jobs, "-o", out.c_str(), "--plugin", PENNARO_PLUGIN_PATH, nullptr);
            _exit(127);
        }
        auto frameFiles = [&] {
            size_t temporary = 0, frames = 0;
            for (const auto &file : filesIn(dir.path)) {
                temporary += file.find(".tmp") != std::string::npos;
                frames += file.ends_with(".png");
            }
            return std::pair{temporary, frames};
        };
        int status = 0;
        bool ended = false;
        // Interrupted once a few frames are in place and another is on its way.
        while (!(frameFiles().first > 0 && frameFiles().second >= 3) &&
               !(ended = waitpid(pid, &status, WNOHANG) == pid))
            usleep(1000);
        ASSERT_FALSE(ended) << "the run ended before it was interrupted";
        kill(pid, SIGTERM);
        waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(128 + WTERMSIG(status), 143);  // as the shell reports it
        expectNoTemporaryFiles(dir.path);
        const size_t files = frameFiles().second;
        std::ifstream in(log);
        size_t reports = 0, written = 0;
        for (std::string line; std::getline(in, line);) {
            if (int frame = 0; std::sscanf(line.c_str(), "pennaro render: frame %d (", &frame) == 1) {
                EXPECT_TRUE(std::filesystem::exists(frameFileName(out, frame))) << jobs << ": " << line;
            }
            if (line.find("interrupted") == std::string::npos) continue;
            ++reports;
            ASSERT_EQ(std::sscanf(line.c_str(), "pennaro render: interrupted (SIGTERM): %zu of 401 frames written",
                                  &written), 1) << line;
            EXPECT_TRUE(line.ends_with("; the other " + std::to_string(401 - written) +
                                       " were not (--skip-existing renders only those)")) << line;
        }
        EXPECT_EQ(reports, 1u) << jobs;
        // A file put in place as the signal came may be missing from the count.
        EXPECT_GE(files, written) << jobs;
        EXPECT_LE(files, written + 1) << jobs;
        EXPECT_GE(written, 3u) << jobs;
    }
}

// TIFF and OpenEXR frames: the formats' own tools read them with the right
// size, channels and depth, the tool reads them back to the frame the PNG
// holds, and as layers they give the same frame as the PNG of their pixels.
TEST(RenderTool, TiffAndExrFramesAndLayersMatchThePng) {
    ScratchDir dir("formats");
    const Args painted = {"render", drawing, "--frames", "3", "--playback-mode", "All Strokes", "-q"};
    // An opaque layer (EXR keeps no colour under zero alpha).
    ASSERT_EQ(runTool(Args{"render", drawing, "--frames", "100000", "--size", "40x30", "--background", "gradient",
                           "-o", dir / "layer.png"} + nothingPainted).status, 0);
    const struct {
        const char *depth, *exrType, *tiffBits, *exrChannel;
    } cases[] = {{"8", "half", "Bits/Sample: 8", "16-bit floating-point"},
                 {"16", "float", "Bits/Sample: 16", "32-bit floating-point"}};
    for (const auto &c : cases) {
        const Args common = Args{"--depth", c.depth, "--exr-type", c.exrType, "--pixel-aspect", "2/1"};
        for (const char *ext : {"png", "tif", "exr"})
            ASSERT_EQ(runTool(painted + common + Args{"--layer", dir / "layer.png", "-o", dir / "f." + ext}).status, 0);
        const ToolRun tiff = runProgram("tiffinfo", dir / "f.tif");
        for (const char *expected : {"Image Width: 40 Image Length: 30", c.tiffBits, "Samples/Pixel: 4",
                                     "unassoc-alpha", "AdobeDeflate", "Resolution: 1, 2"})
            EXPECT_TRUE(tiff.says(expected)) << expected << "\n" << tiff.output;
        const ToolRun exr = runProgram("exrheader", dir / "f.exr");
        for (const char *expected : {"(0 0) - (39 29)", "pixelAspectRatio (type float): 2", "zip"})
            EXPECT_TRUE(exr.says(expected)) << expected << "\n" << exr.output;
        for (const char *channel : {"R", "G", "B", "A"})
            EXPECT_TRUE(exr.says(std::string(channel) + ", " + c.exrChannel)) << exr.output;
        const int depth = std::stoi(c.depth);
        const RgbaImage png = readPng(dir / "f.png");
        EXPECT_TRUE(compareImages(png, readImage(dir / "f.tif")).identical()) << c.depth;
        const RgbaImage fromExr = readImage(dir / "f.exr", PNG_DEFAULT_MAX_BYTES, depth);
        for (size_t i = 0; i < png.samples.size(); ++i) {
            const bool clear = effectValueOfSample(png.samples[i | 3], depth) == 0;
            ASSERT_EQ(effectValueOfSample(fromExr.samples[i], depth),
                      clear ? 0 : effectValueOfSample(png.samples[i], depth)) << c.depth << " sample " << i;
        }
        // The layer as TIFF and EXR: the same frame as from the PNG.
        const RgbaImage layer = readPng(dir / "layer.png");
        writeImage(dir / "layer.tif", layer);
        writeImage(dir / "layer.exr", layer, {1, 1, true});
        for (const char *ext : {"tif", "exr"}) {
            ASSERT_EQ(runTool(painted + common + Args{"--layer", dir / "layer." + ext, "-o", dir / "g.png"}).status, 0);
            EXPECT_TRUE(compareImages(png, readPng(dir / "g.png")).identical()) << ext << " depth " << c.depth;
        }
    }
}

// Shot numbering, rounded NTSC rates and the note on empty frames.
TEST(RenderTool, FrameOffsetsRatesAndTheDefaultModeNote) {
    ScratchDir dir("conventions");
    const Args base = {"render", drawing, "--size", "40x30", "--playback-mode", "Past Strokes", "-q"};
    ASSERT_EQ(runTool(base + Args{"--frames", "1-3", "-o", dir / "e_####.png"}).status, 0);
    ToolRun run = runTool(base + Args{"--frame-offset", "1000", "--frames", "1001-1003", "-o", dir / "s_%04d.png"});
    ASSERT_EQ(run.status, 0) << run.output;
    for (int f = 1; f <= 3; ++f)
        EXPECT_TRUE(compareImages(readPng(dir / ("e_000" + std::to_string(f) + ".png")),
                                  readPng(dir / ("s_100" + std::to_string(f) + ".png"))).identical()) << f;
    ASSERT_EQ(runTool(base + Args{"--frames", "40", "--fps", "23.976", "-o", dir / "a.png"}).status, 0);
    ASSERT_EQ(runTool(base + Args{"--frames", "40", "--fps", "24000/1001", "-o", dir / "b.png"}).status, 0);
    EXPECT_TRUE(compareImages(readPng(dir / "a.png"), readPng(dir / "b.png")).identical());
    // The effect's default mode shows each stroke on its first frame only.
    run = runTool({"render", drawing, "--size", "40x30", "--frames", "100-104", "-o", dir / "c_####.png"});
    EXPECT_EQ(run.status, 0);
    EXPECT_TRUE(run.says("5 of 5 frames show no stroke: the playback mode is \"Current Frame\"")) << run.output;
    run = runTool({"render", drawing, "--size", "40x30", "--frames", "100-104", "--playback-mode", "Current Frame",
                   "-o", dir / "c_####.png"});
    EXPECT_FALSE(run.says("show no stroke")) << run.output;  // a mode chosen is a mode meant
}

// compare and describe for scripts: JSON, a tolerance, two sequences.
TEST(RenderTool, CompareAndDescribeAnswerInJson) {
    ScratchDir dir("json");
    RgbaImage a = makeImage(4, 2, 8);
    for (size_t i = 0; i < a.samples.size(); ++i) a.samples[i] = i % 4 == 3 ? 255 : uint16_t(i * 29 % 256);
    RgbaImage b = a;
    b.pixel(1, 1)[2] += 3;  // one pixel, blue off by 3
    for (const char *name : {"a_0001.png", "a_0002.png", "a_0003.png", "b_0001.png", "b_0003.png"})
        writePng(dir / name, std::string(name) == "b_0001.png" ? b : a);
    writeImage(dir / "b_0002.tif", b);
    // The same pixels as a float EXR and as a 16-bit PNG: equal on the
    // effect's scale.
    writeImage(dir / "a.exr", a, {1, 1, true});
    writeImage(dir / "b.exr", b, {1, 1, true});
    RgbaImage deep = makeImage(4, 2, 16);
    for (size_t i = 0; i < a.samples.size(); ++i) deep.samples[i] = sixteenBitToFile(eightBitToSixteen(b.samples[i]));
    writePng(dir / "b16.png", deep);
    const struct {
        Args args;
        int status;
        std::vector<std::string> says;
    } cases[] = {
        {{dir / "a_0001.png", dir / "b_0001.png", "--json"}, 3,
         {"\"differingPixels\": 1", "\"largestDifference\": 3", "\"psnrDb\": 53.6", "file 8-bit"}},
        {{dir / "a_0001.png", dir / "b_0001.png", "--tolerance", "3"}, 0, {"0 beyond the tolerance of 3"}},
        {{dir / "a_0001.png", dir / "b_0002.tif"}, 3, {"1 differing pixel, largest channel difference 3"}},
        {{dir / "a_####.png", dir / "b_####.png"}, 3,
         {"frame 1: 1 differing", "b_0002.png is missing", "2 frames compared: 1 differ, 1 missing"}},
        {{dir / "a_%04d.png", dir / "b_$F4.png", "--json", "--tolerance", "2"}, 3, {"\"framesDiffering\": 1"}},
        {{dir / "a_####.png", dir / "b_0001.png"}, 2, {"or none of them has"}},
        {{dir / "a_0001.png", dir / "a.exr", "--json"}, 0, {"\"identical\": true", "effect 16-bit (0..32768)"}},
        {{dir / "b_0001.png", dir / "b16.png"}, 0, {"identical"}},
        // Two EXR files: float against float, the tolerance in their values.
        {{dir / "a.exr", dir / "b.exr", "--tolerance", "0.01"}, 3,
         {"largest channel difference 0.0117", "1 beyond the tolerance of 0.01 (float values"}},
        {{dir / "a.exr", dir / "b.exr", "--tolerance", "0.012", "--json"}, 0,
         {"\"withinTolerance\": true", "\"scale\": \"float values as stored\""}},
        {{dir / "a_0001.png", dir / "b16.png", "--tolerance", "386"}, 0,
         {"largest channel difference 386", "0 beyond the tolerance of 386 (on the effect's 16-bit scale"}},
    };
    for (const auto &c : cases) {
        ToolRun run = runTool(Args{"compare"} + c.args);
        EXPECT_EQ(run.status, c.status) << c.args[1] << "\n" << run.output;
        for (const auto &part : c.says) EXPECT_TRUE(run.says(part)) << part << "\n" << run.output;
    }
    ToolRun describe = runTool({"describe", "--json"});
    ASSERT_EQ(describe.status, 0);
    const auto doc = nlohmann::json::parse(describe.output);
    EXPECT_EQ(doc["parameters"].size(), effectParams().size() + 3);  // and the control area and two groups
    EXPECT_EQ(doc["version"]["major"], 1);
    EXPECT_FALSE(doc["preferences"].empty());
}
