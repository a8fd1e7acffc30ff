// Whole 1920 x 1080 frames through FilterMain on the stand-in host, driven
// the way `pennaro render` drives the effect: the bundled demo and a
// generated 200-stroke drawing, 8 and 16 bit, wiggle off and on. The frame
// shows every stroke ("All Strokes"). With png:1 the PNG write is timed too.
//
// `bench_frame --write-drawing FILE` writes the generated drawing as JSON
// and exits, so that whole-process runs of `pennaro render` (see
// bench/compare-with-baseline.sh) can time the very same drawing;
// `--write-shot FILE` writes the shot's drawing, with longer strokes.
#include <benchmark/benchmark.h>

#ifdef PENNARO_BENCH_HAVE_TOOLS

#include <cmath>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/drawings/drawing_file.h"
#include "cli/images/png.h"
#include "cli/render/session.h"

using namespace pennaro_cli;

namespace {

nlohmann::json demoJson() {
    std::ifstream file(std::string(PENNARO_BENCH_SOURCE_DIR) + "/examples/demo.json");
    std::stringstream text;
    text << file.rdbuf();
    return nlohmann::json::parse(text.str());
}

// 200 strokes of 40 samples (or, for the shot, 40 to 120 samples along
// paths twice as long), sizes 4..60, every brush mode the demo uses,
// starting within the first two seconds and lasting at most one.
nlohmann::json generatedJson(bool shot = false) {
    nlohmann::json d = demoJson();
    const nlohmann::json brushTemplate = d["strokes"][0]["brush"];
    const int modes[] = {1, 2, 3, 9, 10, 11};
    std::mt19937 rng(2026);
    auto unit = [&rng] { return std::uniform_real_distribution<double>(0.0, 1.0)(rng); };
    nlohmann::json strokes = nlohmann::json::array();
    for (int k = 0; k < 200; ++k) {
        nlohmann::json s = d["strokes"][0];
        s["strokeId"] = k;
        s["startTime"] = std::round(unit() * 2.0 * 30.0) / 30.0;
        s["duration"] = 0.9;
        nlohmann::json b = brushTemplate;
        b["red"] = unit(), b["green"] = unit(), b["blue"] = unit();
        b["opacity"] = 0.3 + 0.7 * unit();
        b["size"] = 4.0 + 56.0 * unit();
        b["brushMode"] = modes[k % 6];
        b["softness"] = unit();
        s["brush"] = b;
        const double reach = shot ? 0.8 : 0.4;
        const double x0 = unit(), y0 = unit(), dx = reach * (unit() - 0.5), dy = reach * (unit() - 0.5);
        const int samples = shot ? 40 + int(unit() * 81.0) : 40;
        nlohmann::json points = nlohmann::json::array();
        for (int i = 0; i < samples; ++i) {
            const double t = i / double(samples - 1);
            points.push_back({0.9 * t, x0 + dx * t, y0 + dy * t + 0.03 * std::sin(7.0 * t), 0.4 + 0.6 * t});
        }
        s["points"] = points;
        strokes.push_back(s);
    }
    d["strokes"] = strokes;
    return d;
}

// Ten 2-sample strokes from x = -10000 to 10000 layer widths: a frame
// that walks about 276 million dabs, nearly all far outside the image.
nlohmann::json longStrokesJson() {
    nlohmann::json d = demoJson();
    nlohmann::json strokes = nlohmann::json::array();
    for (int i = 0; i < 10; ++i) {
        nlohmann::json s = d["strokes"][0];
        s["strokeId"] = i;
        s["startTime"] = 0.0;
        s["duration"] = 1.0;
        s["brush"]["brushMode"] = 1 + i % 3;
        s["brush"]["size"] = 5.0 + i;
        s["brush"]["softness"] = 0.3;
        s["points"] = {{0.0, -10000.0, 0.1 + 0.08 * i, 1.0}, {1.0, 10000.0, 0.1 + 0.08 * i, 1.0}};
        strokes.push_back(s);
    }
    d["strokes"] = strokes;
    return d;
}

RenderJob frameJob(const nlohmann::json &drawing, int depth, bool wiggle, int threads = 1) {
    const std::string text = drawing.dump();
    RenderJob job;
    job.pluginPath = PENNARO_BENCH_PLUGIN;
    job.block = loadDrawingBytes(std::vector<uint8_t>(text.begin(), text.end()), "bench").block;
    job.drawingName = "bench";
    job.frames = {180};
    job.depth = depth;
    job.threads = threads;
    job.background = parseBackground("checker");
    job.params = defaultParamSettings();
    setParamFromOption(job.params, *findParam("playback-mode"), "All Strokes");
    if (wiggle) setParamFromOption(job.params, *findParam("wiggle"), "on");
    return job;
}

// Arguments: deep, wiggle, png; `threads` is what the effect is asked for.
void runFrame(benchmark::State &state, const nlohmann::json &drawing, int threads = 1) {
    const int depth = state.range(0) ? 16 : 8;
    const bool wiggle = state.range(1) != 0;
    const bool savePng = state.range(2) != 0;
    const RenderJob job = frameJob(drawing, depth, wiggle, threads);
    RenderSession session(job);
    const std::string out = "/tmp/pennaro_bench_frame.png";
    for (auto _ : state) {
        RgbaImage image = session.renderFrame(180);
        if (savePng) writePng(out, frameAtFileScale(image));
        benchmark::DoNotOptimize(image.samples.data());
    }
    state.SetItemsProcessed(state.iterations() * 1920 * 1080);
}

void BM_FrameDemo(benchmark::State &s) {
    static const nlohmann::json drawing = demoJson();
    runFrame(s, drawing);
}
void BM_Frame200(benchmark::State &s) {
    static const nlohmann::json drawing = generatedJson();
    runFrame(s, drawing);
}

#define FRAME_ARGS                                                                                      \
    ArgNames({"deep", "wiggle", "png"})                                                                \
        ->ArgsProduct({{0, 1}, {0, 1}, {0}})                                                           \
        ->Args({0, 0, 1})                                                                              \
        ->Unit(benchmark::kMillisecond)                                                                \
        ->MeasureProcessCPUTime()                                                                      \
        ->UseRealTime()
void BM_FrameLongStrokes(benchmark::State &s) {
    static const nlohmann::json drawing = longStrokesJson();
    runFrame(s, drawing);
}

BENCHMARK(BM_FrameDemo)->FRAME_ARGS;
BENCHMARK(BM_FrameLongStrokes)
    ->ArgNames({"deep", "wiggle", "png"})
    ->Args({0, 0, 0})
    ->Args({1, 0, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();
BENCHMARK(BM_Frame200)->FRAME_ARGS;

// One frame painted by the effect's threads: the 200-stroke drawing at HD,
// 8 bits, with 1, 2 and 4 threads. Run two copies of the 1-thread case side
// by side to compare with two frames rendered at once.
void BM_Frame200Threads(benchmark::State &s) {
    static const nlohmann::json drawing = generatedJson();
    runFrame(s, drawing, int(s.range(3)));
}
BENCHMARK(BM_Frame200Threads)
    ->ArgNames({"deep", "wiggle", "png", "threads"})
    ->ArgsProduct({{0}, {0}, {0}, {1, 2, 4}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The demo as a viewer plays it ("Animate Strokes", frame 60 of 30 fps,
// most strokes under way) at 1920x1080 and 3840x2160, both depths, 1 and 2
// threads; with png:1 the PNG write is timed too.
void BM_DemoAnimate(benchmark::State &state) {
    static const nlohmann::json drawing = demoJson();
    const bool uhd = state.range(0) != 0;
    RenderJob job = frameJob(drawing, state.range(1) ? 16 : 8, false, int(state.range(2)));
    job.width = uhd ? 3840 : 1920;
    job.height = uhd ? 2160 : 1080;
    job.frames = {60};
    setParamFromOption(job.params, *findParam("playback-mode"), "Animate Strokes");
    RenderSession session(job);
    const bool savePng = state.range(3) != 0;
    for (auto _ : state) {
        RgbaImage image = session.renderFrame(60);
        if (savePng) writePng("/tmp/pennaro_bench_demo.png", frameAtFileScale(image));
        benchmark::DoNotOptimize(image.samples.data());
    }
    state.SetItemsProcessed(state.iterations() * job.width * job.height);
}
BENCHMARK(BM_DemoAnimate)
    ->ArgNames({"uhd", "deep", "threads", "png"})
    ->ArgsProduct({{0, 1}, {0, 1}, {1, 2}, {0, 1}})
    ->Unit(benchmark::kMillisecond)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && (std::string(argv[1]) == "--write-drawing" || std::string(argv[1]) == "--write-shot")) {
        std::ofstream out(argv[2]);
        out << generatedJson(std::string(argv[1]) == "--write-shot").dump() << '\n';
        return out ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

#else

BENCHMARK_MAIN();

#endif
