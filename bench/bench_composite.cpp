// Compositing a 1920 x 1080 frame of random paint over a random layer, every
// mode at both depths, in pixels per second and bytes of frame per second,
// next to memcpy of a frame-sized buffer as the bandwidth yardstick. A
// quarter of each image is fully transparent, a quarter opaque, the rest of
// random alpha. Each mode runs twice in the same program: the product's
// compositor and the plain per-pixel form it is tested against (the form
// it had before the row kernels), so their ratio comes from one run.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <vector>

#include "params/param_ids.h"
#include "plain_composite.h"
#include "pixels/rules.h"
#include "pixels/row_kernels.h"

using namespace pennaro;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

int32_t address8(HostWorld *w, void *, HostPixel8 **out) {
    *out = static_cast<HostPixel8 *>(w->data);
    return 0;
}
int32_t address16(HostWorld *w, void *, HostPixel16 **out) {
    *out = static_cast<HostPixel16 *>(w->data);
    return 0;
}

struct Frame {
    std::vector<uint8_t> bytes;
    HostWorld world{};
    Frame(bool deep, uint32_t seed) {
        const int32_t pixel = deep ? 8 : 4;
        world.flags = deep ? 1 : 0;
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
    const bool plain = state.range(2) != 0;
    HostUtilities utils{};
    utils.getPixelAddress8 = address8;
    utils.getPixelAddress16 = address16;
    HostInData in{};
    in.utils = &utils;
    Frame layer(deep, 1), paint(deep, 2);
    const std::vector<uint8_t> original = paint.bytes;
    for (auto _ : state) {
        // Each pass composites fresh paint: the copy back is not timed.
        state.PauseTiming();
        std::memcpy(paint.bytes.data(), original.data(), original.size());
        state.ResumeTiming();
        if (plain) {
            if (deep)
                pennaro_plain::compositePixels<Pixel16>(layer.world, layer.bytes.data(), paint.world,
                                                            paint.bytes.data(), mode);
            else
                pennaro_plain::compositePixels<Pixel8>(layer.world, layer.bytes.data(), paint.world,
                                                           paint.bytes.data(), mode);
        } else if (deep) {
            composite16(&in, nullptr, &layer.world, &paint.world, mode);
        } else {
            composite8(&in, nullptr, &layer.world, &paint.world, mode);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
    state.SetBytesProcessed(state.iterations() * int64_t(original.size()));
}
BENCHMARK(BM_Composite)
    ->ArgNames({"deep", "mode", "plain"})
    ->ArgsProduct({{0, 1},
                   {COMPOSITE_OVER_ORIGINAL, COMPOSITE_UNDER_ORIGINAL, COMPOSITE_TRACK_MATTE,
                    COMPOSITE_TRACK_MATTE_VISIBLE, COMPOSITE_AS_MATTE, COMPOSITE_AS_INVERSE_MATTE,
                    COMPOSITE_IN_ORIGINAL_ALPHA_ONLY, COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY},
                   {0, 1}})
    ->Unit(benchmark::kMillisecond);

// "Over" of the paint on the layer row by row through each form of the row
// kernels this processor runs (0 scalar, 1 SSE2, 2 AVX2): what a processor
// without AVX2, or the Windows build (SSE2 only), gets.
void BM_OverForm(benchmark::State &state) {
    const bool deep = state.range(0) != 0;
    const OverRowForms *forms = overRowForms(int32_t(state.range(1)));
    if (!forms) {
        state.SkipWithError("form not available on this processor");
        return;
    }
    const OverRow row = deep ? forms->over16 : forms->over8;
    Frame layer(deep, 1), paint(deep, 2);
    const std::vector<uint8_t> original = paint.bytes;
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(paint.bytes.data(), original.data(), original.size());
        state.ResumeTiming();
        for (int32_t y = 0; y < kHeight; ++y) {
            uint8_t *p = paint.bytes.data() + size_t(y) * size_t(paint.world.rowBytes);
            row(p, layer.bytes.data() + size_t(y) * size_t(layer.world.rowBytes), p, kWidth);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
    state.SetBytesProcessed(state.iterations() * int64_t(original.size()));
}
BENCHMARK(BM_OverForm)
    ->ArgNames({"deep", "width"})
    ->ArgsProduct({{0, 1}, {OVER_ROWS_SCALAR, OVER_ROWS_SSE2, OVER_ROWS_AVX2}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
