// Dabs per second of every dab kernel at radii 4, 16 and 64, both depths,
// through the table of each instruction set this build and processor have,
// and beside them, where the build found it, libmypaint's own dab on its
// fixed tiled surface (the brush engine of open painting programs), single-
// threaded: hardness 1.0 as the peer of our round and square dabs, 0.5 of
// our soft ones. It is no pixel match (its tiles are 15-bit fixed point and
// it blends modes of its own), only an outside yardstick of the rate.
//
// Every run lays rows of overlapping dabs (spacing 0.37 of the radius)
// across a 512 x 512 image, one row below the other, and starts again on a
// cleared image when the image is full; the clearing is timed with the dabs
// (a few per cent at most, the same for every kernel).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "pixels/dispatch.h"

#if PENNARO_BENCH_HAVE_MYPAINT
#include <omp.h>

#include <mypaint-fixed-tiled-surface.h>
#include <mypaint-surface.h>
#endif

using namespace pennaro;

namespace {

constexpr int32_t kSize = 512;

struct Walk {
    float radius, x, y;
    explicit Walk(float r) : radius(r), x(r + 8.0f), y(r + 8.3f) {}
    // 1 when a row is done, 2 when the image is.
    int next() {
        x += 0.37f * radius + 0.1f;
        if (x <= float(kSize) - radius - 8.0f) return 0;
        x = radius + 8.0f;
        y += 2.0f * radius + 2.0f;
        if (y <= float(kSize) - radius - 8.0f) return 1;
        y = radius + 8.3f;
        return 2;
    }
};

// kind: 0 round, 1 soft, 2 square.
void BM_Ours(benchmark::State &state, Isa isa, bool deep) {
    const PixelKernels &k = *pixelKernels(isa);
    const int kind = int(state.range(0));
    std::vector<uint8_t> bytes(size_t(kSize) * kSize * (deep ? 8 : 4));
    const ImageView view{bytes.data(), kSize * (deep ? 8 : 4), kSize, kSize, deep};
    std::vector<RowSpan> spans(kSize, RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
    PaintedRows rows{kSize, kSize - 1, 0, spans.data(), 0, 0};
    const uint8_t c8[4] = {200, 10, 20, 30};
    const uint16_t c16[4] = {26000, 1000, 2000, 3000};
    Walk walk(float(state.range(1)));
    for (auto _ : state) {
        const float r = walk.radius, x = walk.x, y = walk.y;
        if (deep) {
            if (kind == 0) k.roundDab16(1.0f, r, 0.5f, x, y, c16, &view, &rows);
            if (kind == 1) k.softDab16(1.0f, r, x, y, c16, &view, &rows);
            if (kind == 2) k.squareDab16(1.0f, r, 0.3f, x, y, c16, &view, &rows);
        } else {
            if (kind == 0) k.roundDab8(1.0f, r, 0.5f, x, y, c8, &view, &rows);
            if (kind == 1) k.softDab8(1.0f, r, x, y, c8, &view, &rows);
            if (kind == 2) k.squareDab8(1.0f, r, 0.3f, x, y, c8, &view, &rows);
        }
        if (walk.next() == 2) {
            std::fill(bytes.begin(), bytes.end(), 0);
            std::fill(spans.begin(), spans.end(), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
        }
    }
    state.SetItemsProcessed(state.iterations());
}

#if PENNARO_BENCH_HAVE_MYPAINT
// The dabs of one row are queued and rendered into the tiles when the row
// is done (its end_atomic), as a painting program renders the dabs of one
// motion event; the surface is kept (it has nothing to skip when full).
void BM_MyPaint(benchmark::State &state) {
    omp_set_num_threads(1);
    const float hardness = state.range(0) == 100 ? 1.0f : 0.5f;
    Walk walk(float(state.range(1)));
    MyPaintSurface *surface = reinterpret_cast<MyPaintSurface *>(mypaint_fixed_tiled_surface_new(kSize, kSize));
    mypaint_surface_begin_atomic(surface);
    for (auto _ : state) {
        mypaint_surface_draw_dab(surface, walk.x, walk.y, walk.radius, 0.04f, 0.08f, 0.12f, 200.0f / 255.0f,
                                 hardness, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
        if (walk.next()) {
            mypaint_surface_end_atomic(surface, nullptr);
            mypaint_surface_begin_atomic(surface);
        }
    }
    mypaint_surface_end_atomic(surface, nullptr);
    mypaint_surface_unref(surface);
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_MyPaint)->ArgNames({"hardness%", "radius"})->ArgsProduct({{100, 50}, {4, 16, 64}});
#endif

const bool registered = [] {
    for (Isa isa : {Isa::Scalar, Isa::Sse2, Isa::Avx2}) {
        if (!isaAvailable(isa)) continue;
        for (bool deep : {false, true}) {
            const std::string name = std::string("BM_Ours/") + isaName(isa) + (deep ? "/16bit" : "/8bit");
            benchmark::RegisterBenchmark(name.c_str(), BM_Ours, isa, deep)
                ->ArgNames({"kind", "radius"})
                ->ArgsProduct({{0, 1, 2}, {4, 16, 64}});
        }
    }
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
