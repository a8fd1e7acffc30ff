// Compositing a 1920 x 1080 frame of random paint over a random layer, every
// mode at both depths, in pixels per second and bytes of frame per second,
// next to memcpy of a frame-sized buffer as the bandwidth yardstick. A
// quarter of each image is fully transparent, a quarter opaque, the rest of
// random alpha. The row kernels of every instruction set this processor
// has run in the same program, the scalar ones (one pixel at a time through
// the per-pixel rules) being the "before" of the vector forms.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "catalog/params.h"
#include "pixels/dispatch.h"
#include "render/composite.h"

using namespace pennaro;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

struct Frame {
    std::vector<uint8_t> bytes;
    ImageView world{};
    Frame(bool deep, uint32_t seed) {
        const int32_t pixel = deep ? 8 : 4;
        world.deep = deep;
        world.width = kWidth;
        world.height = kHeight;
        world.rowBytes = kWidth * pixel;
        bytes.resize(size_t(world.rowBytes) * kHeight);
        world.data = bytes.data();
        std::mt19937 rng(seed);
        const uint32_t top = deep ? 32768u : 255u;
        for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
            uint32_t c[4];
            for (auto &v : c) v = rng() % (top + 1);
            const uint32_t kind = rng() % 4;
            c[0] = kind == 0 ? 0 : kind == 1 ? top : c[0];  // alpha first
            if (deep) {
                uint16_t p[4] = {uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2]), uint16_t(c[3])};
                std::memcpy(&bytes[i * 8], p, 8);
            } else {
                uint8_t p[4] = {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]), uint8_t(c[3])};
                std::memcpy(&bytes[i * 4], p, 4);
            }
        }
    }
};

void BM_Memcpy(benchmark::State &state) {
    const size_t bytes = size_t(kWidth) * kHeight * size_t(state.range(0));
    std::vector<uint8_t> a(bytes, 1), b(bytes, 2);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
    state.SetBytesProcessed(state.iterations() * int64_t(bytes));
}
BENCHMARK(BM_Memcpy)->ArgName("pixelBytes")->Arg(4)->Arg(8)->Unit(benchmark::kMillisecond);

void BM_Composite(benchmark::State &state) {
    const bool deep = state.range(0) != 0;
    const int32_t mode = int32_t(state.range(1));
    Frame layer(deep, 1), paint(deep, 2);
    const std::vector<uint8_t> original = paint.bytes;
    for (auto _ : state) {
        // Each pass composites fresh paint: the copy back is not timed.
        state.PauseTiming();
        std::memcpy(paint.bytes.data(), original.data(), original.size());
        state.ResumeTiming();
        compositeFrame(layer.world, paint.world, mode);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
    state.SetBytesProcessed(state.iterations() * int64_t(original.size()));
}
BENCHMARK(BM_Composite)
    ->ArgNames({"deep", "mode"})
    ->ArgsProduct({{0, 1},
                   {COMPOSITE_OVER_ORIGINAL, COMPOSITE_UNDER_ORIGINAL, COMPOSITE_TRACK_MATTE,
                    COMPOSITE_TRACK_MATTE_VISIBLE, COMPOSITE_AS_MATTE, COMPOSITE_AS_INVERSE_MATTE,
                    COMPOSITE_IN_ORIGINAL_ALPHA_ONLY, COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY}})
    ->Unit(benchmark::kMillisecond);

// Row by row through one instruction set's kernels (isa: 0 scalar, 1 SSE2,
// 2 AVX2), in place on the paint: "over" (kernel 0), "over" keeping the
// bottom alpha (1), min alpha (2), the matte (3); what a processor without
// AVX2, or the Windows build (SSE2 only), gets.
void BM_RowForm(benchmark::State &state) {
    const bool deep = state.range(0) != 0;
    const int kernel = int(state.range(1));
    const PixelKernels *k = pixelKernels(static_cast<Isa>(state.range(2)));
    if (!k) {
        state.SkipWithError("instruction set not available on this processor");
        return;
    }
    Frame layer(deep, 1), paint(deep, 2);
    const std::vector<uint8_t> original = paint.bytes;
    const OverRowFn over = kernel == 0 ? (deep ? k->over16 : k->over8)
                                       : (deep ? k->overKeepBottomAlpha16 : k->overKeepBottomAlpha8);
    const AlphaRowFn alpha = kernel == 2 ? (deep ? k->minAlpha16 : k->minAlpha8) : (deep ? k->matte16 : k->matte8);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(paint.bytes.data(), original.data(), original.size());
        state.ResumeTiming();
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t *p = paint.bytes.data() + size_t(y) * size_t(paint.world.rowBytes);
            const uint8_t *l = layer.bytes.data() + size_t(y) * size_t(layer.world.rowBytes);
            if (kernel < 2)
                over(p, l, p, kWidth);
            else
                alpha(p, l, kWidth);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
    state.SetBytesProcessed(state.iterations() * int64_t(original.size()));
}
BENCHMARK(BM_RowForm)
    ->ArgNames({"deep", "kernel", "isa"})
    ->ArgsProduct({{0, 1}, {0, 1, 2, 3}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
