// Rasterizer throughput: every dab kernel at both depths, and whole strokes
// through the driver. Reported as dabs per second (items) and touched
// pixels per second (bytes counter = pixels, shown as B/s).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "pixels/dab_kernels.h"
#include "raster/rasterize.h"
#include "raster/stroke_path.h"
#include "raster/noise.h"
#include "support/memory.h"

using namespace pennaro;

namespace {

// The layer the whole strokes are drawn on: square pixels, no downsampling.
LayerGeometry layerOf(int32_t width, int32_t height) {
    return LayerGeometry{width, height, {1, 1}, {1, 1}, {1, 1}, 0, 0};
}

struct Canvas {
    std::vector<uint8_t> bytes;
    ImageView view{};
    std::vector<RowSpan> spans;
    PaintedRows rows{};
    Canvas(int32_t w, int32_t h, bool deep) {
        const int32_t rowBytes = w * (deep ? 8 : 4);
        bytes.assign(static_cast<size_t>(rowBytes) * h, 0);
        view = ImageView{bytes.data(), rowBytes, w, h, deep};
        spans.assign(static_cast<size_t>(h), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
        rows = PaintedRows{h, h - 1, 0, spans.data(), 0, 0};
    }
    void clear() { std::fill(bytes.begin(), bytes.end(), 0); }
};

// Pixels inside a dab's bounding box (what the kernel loops over).
int64_t boxPixels(float extentX, float extentY) {
    return static_cast<int64_t>((2 * static_cast<int64_t>(extentX) + 1) * (2 * static_cast<int64_t>(extentY) + 1));
}

// Stamps a row of overlapping dabs across a 512 x 512 scratch image, clearing
// it whenever the row is done so most pixels are not yet saturated.
template <typename Stamp>
void runKernel(benchmark::State &state, bool deep, float extent, Stamp stamp) {
    Canvas c(512, 512, deep);
    const float radius = static_cast<float>(state.range(0));
    int64_t dabs = 0;
    float x = 40.0f;
    for (auto _ : state) {
        stamp(radius, x, 256.3f, &c.view, &c.rows);
        x += 0.37f * radius + 1.0f;
        if (x > 472.0f) {
            state.PauseTiming();
            c.clear();
            x = 40.0f;
            state.ResumeTiming();
        }
        ++dabs;
    }
    const int64_t perDab = boxPixels(extent * radius, extent * radius);
    state.SetItemsProcessed(dabs);
    state.SetBytesProcessed(dabs * perDab);
    state.counters["px/dab"] = static_cast<double>(perDab);
}

const uint8_t kC8[4] = {255, 200, 100, 50};
const uint16_t kC16[4] = {32768, 30000, 20000, 10000};

void BM_RoundDab8(benchmark::State &s) {
    runKernel(s, false, 1.5f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampRoundDab8(1.0f, R, 0.5f, x, y, kC8, w, r);
    });
}
void BM_RoundDab16(benchmark::State &s) {
    runKernel(s, true, 1.5f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampRoundDab16(1.0f, R, 0.5f, x, y, kC16, w, r);
    });
}
void BM_SoftDab8(benchmark::State &s) {
    runKernel(s, false, 1.0f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampSoftDab8(1.0f, R, x, y, kC8, w, r);
    });
}
void BM_SoftDab16(benchmark::State &s) {
    runKernel(s, true, 1.0f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampSoftDab16(1.0f, R, x, y, kC16, w, r);
    });
}
void BM_SquareDab8(benchmark::State &s) {
    runKernel(s, false, 1.0f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampSquareDab8(1.0f, R, 0.3f, x, y, kC8, w, r);
    });
}
void BM_SquareDab16(benchmark::State &s) {
    runKernel(s, true, 1.0f, [](float R, float x, float y, const ImageView *w, PaintedRows *r) {
        stampSquareDab16(1.0f, R, 0.3f, x, y, kC16, w, r);
    });
}

BENCHMARK(BM_RoundDab8)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_RoundDab16)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_SoftDab8)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_SoftDab16)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_SquareDab8)->Arg(4)->Arg(16)->Arg(64);
BENCHMARK(BM_SquareDab16)->Arg(4)->Arg(16)->Arg(64);

// ---- whole strokes: a 40-point wavy stroke across a 1920 x 1080 frame,
// prepared, walked, finished and cleared, as the render does per stroke.
struct CountDabs {
    int64_t dabs = 0;
    int64_t pixels = 0;
};

void countDab(void *context, const Dab &d) {
    auto *c = static_cast<CountDabs *>(context);
    ++c->dabs;
    const float rx = d.radius * d.aspect;
    const float extent = (d.selector % 1000 == 1) ? rx + std::max(1.0f, rx * d.softness) : rx + 0.7f;
    c->pixels += boxPixels(extent, extent / d.aspect);
}

void BM_WholeStroke(benchmark::State &state) {
    const uint32_t mode = static_cast<uint32_t>(state.range(0));
    const bool deep = state.range(1) != 0;
    const bool wiggle = state.range(2) != 0;
    test_support::TestMemory memory;
    const LayerGeometry layer = layerOf(1920, 1080);
    Canvas scratch(1920, 1080, deep), out(1920, 1080, deep);

    PaintStroke stroke{};
    stroke.info.brush = BrushSettings{0.9f, 0.4f, 0.1f, 0.8f, 12.0f, mode, 0.4f, 3};
    std::vector<PaintPoint> pts;
    for (int i = 0; i < 40; ++i)
        pts.push_back({i * 0.04f, 0.1f + i * 0.02f, 0.5f + 0.2f * std::sin(i * 0.4f), 0.6f + 0.01f * i});
    stroke.info.pointCount = static_cast<int32_t>(pts.size());
    stroke.points = memory.newHandle(pts.size() * sizeof(PaintPoint));
    std::copy(pts.begin(), pts.end(), static_cast<PaintPoint *>(*stroke.points));

    RasterBrush tmpl{};
    tmpl.deep = deep ? 1 : 0;
    tmpl.rows = scratch.rows;
    NoiseTable noise{};
    if (wiggle) {
        buildNoiseTable(noise, 0, 30, 30000.0, 0.25f);
        tmpl.wiggle = WiggleSettings{1, 1, 0.19f, 0.11f, 0.0026f, 0.0046f, 1, 0.1f, 0.05f, 1.05f, 1, 0, 0, &noise};
    }

    // Dab and pixel counts of one stroke, from the same walk.
    CountDabs counts;
    {
        RasterBrush b = tmpl;
        prepareRasterBrush(layer.downsampleX, stroke.info.brush, &b);
        traceStrokePath(memory, layer, pts.data(), stroke.info.pointCount - 1, &b, DabSink{countDab, &counts});
    }
    for (auto _ : state) {
        RasterBrush copy = tmpl;
        rasterizeStroke(memory, layer, stroke, out.view, scratch.view, &copy);
    }
    state.SetItemsProcessed(state.iterations() * counts.dabs);
    state.SetBytesProcessed(state.iterations() * counts.pixels);
    state.counters["dabs"] = static_cast<double>(counts.dabs);
    memory.dispose(stroke.points);
}

BENCHMARK(BM_WholeStroke)
    ->ArgNames({"mode", "deep", "wiggle"})
    ->ArgsProduct({{1, 2, 3}, {0, 1}, {0}})
    ->Args({2, 0, 1})
    ->Args({9, 0, 0});

// ---- strokes mostly outside the frame: ten 2-sample strokes from x = -10000
// to 10000 layer widths across a 1920 x 1080 frame (round, soft and square
// in turn, opacity by pressure), about 276 million dabs of which a few
// thousand touch the frame. "every dab" hands each dab to its kernel as the
// walk did before it dropped the ones outside the image; both paint the
// same pixels.
void BM_OffImageStrokes(benchmark::State &state) {
    const bool everyDab = state.range(0) != 0;
    const bool deep = state.range(1) != 0;
    test_support::TestMemory memory;
    const LayerGeometry layer = layerOf(1920, 1080);
    Canvas scratch(1920, 1080, deep), out(1920, 1080, deep);
    std::vector<PaintStroke> strokes;
    for (int i = 0; i < 10; ++i) {
        const float y = 0.1f + 0.08f * static_cast<float>(i);
        const PaintPoint pts[2] = {{0.0f, -10000.0f, y, 1.0f}, {1.0f, 10000.0f, y, 1.0f}};
        PaintStroke stroke{};
        stroke.info.brush = BrushSettings{0.35f, 0.55f, 0.95f, 0.55f, 5.0f + static_cast<float>(i),
                                          static_cast<uint32_t>(1 + i % 3), 0.3f, 2};
        stroke.info.pointCount = 2;
        stroke.points = memory.newHandle(sizeof pts);
        std::copy(pts, pts + 2, static_cast<PaintPoint *>(*stroke.points));
        strokes.push_back(stroke);
    }
    RasterBrush tmpl{};
    tmpl.deep = deep ? 1 : 0;
    tmpl.rows = scratch.rows;
    DabCounts counts;
    for (auto _ : state) {
        for (const PaintStroke &stroke : strokes) {
            RasterBrush brush = tmpl;
            if (!everyDab) {
                rasterizeStroke(memory, layer, stroke, out.view, scratch.view, &brush);
                continue;
            }
            std::fill(scratch.spans.begin(), scratch.spans.end(), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
            prepareRasterBrush(layer.downsampleX, stroke.info.brush, &brush);
            RasterBrush walk = brush;
            KernelTarget target{&walk, &scratch.view, &brush.rows};
            traceStrokePath(memory, layer, static_cast<const PaintPoint *>(*stroke.points), 1, &walk,
                            DabSink{stampWithKernel, &target, nullptr, &counts});
            if ((brush.brushMode & BRUSH_KIND_MASK) == BRUSH_KIND_ROUND && brush.opacity < 1.0f)
                applyStrokeOpacity(scratch.view, brush, brush.rows);
            compositeStroke(scratch.view, out.view, brush.rows);
        }
    }
    if (everyDab) state.counters["dabs"] = static_cast<double>(counts.walked) / static_cast<double>(state.iterations());
    for (PaintStroke &stroke : strokes) memory.dispose(stroke.points);
}

BENCHMARK(BM_OffImageStrokes)
    ->ArgNames({"every_dab", "deep"})
    ->ArgsProduct({{1, 0}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
