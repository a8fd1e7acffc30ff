// The pixel layer through its public functions only, so the same program
// builds against any revision of src/pixels and two builds can be run side
// by side (see README.md): every row kernel over a 1920 x 1080 frame of
// random paint and layer (a quarter of each transparent, a quarter opaque),
// in place on the paint as the compositor runs them, and every dab kernel
// along a row of overlapping dabs as a stroke lays them.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <type_traits>
#include <vector>

#include "pixels/dab_kernels.h"
#include "pixels/row_kernels.h"

using namespace pennaro;

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

std::vector<uint8_t> randomFrame(bool deep, uint32_t seed) {
    std::vector<uint8_t> bytes(size_t(kWidth) * kHeight * (deep ? 8 : 4));
    std::mt19937 rng(seed);
    const uint32_t top = deep ? 32768u : 255u;
    for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
        uint32_t c[4];
        for (auto &v : c) v = rng() % (top + 1);
        const uint32_t kind = rng() % 4;
        c[0] = kind == 0 ? 0 : kind == 1 ? top : c[0];
        if (deep) {
            const uint16_t p[4] = {uint16_t(c[0]), uint16_t(c[1]), uint16_t(c[2]), uint16_t(c[3])};
            std::memcpy(&bytes[i * 8], p, 8);
        } else {
            const uint8_t p[4] = {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2]), uint8_t(c[3])};
            std::memcpy(&bytes[i * 4], p, 4);
        }
    }
    return bytes;
}

// kernel: 0 over, 1 over keeping the bottom alpha, 2 min alpha, 3 matte,
// 4 inverse matte, 5 paint alpha, 6 max alpha, 7 erase.
void runRow(int kernel, bool deep, uint8_t *paint, const uint8_t *layer, int32_t n) {
    using Over = void (*)(const uint8_t *, const uint8_t *, uint8_t *, int32_t);
    using Alpha = void (*)(uint8_t *, const uint8_t *, int32_t);
    static const Over over[2][2] = {{overRow8, overRow16}, {overKeepBottomAlphaRow8, overKeepBottomAlphaRow16}};
    static const Alpha alpha[5][2] = {{minAlphaRow8, minAlphaRow16},
                                      {matteRow8, matteRow16},
                                      {inverseMatteRow8, inverseMatteRow16},
                                      {paintAlphaRow8, paintAlphaRow16},
                                      {maxAlphaRow8, maxAlphaRow16}};
    if (kernel < 2)
        over[kernel][deep](paint, layer, paint, n);
    else if (kernel < 7)
        alpha[kernel - 2][deep](paint, layer, n);
    else if (deep)
        eraseRow16(layer, paint, n);
    else
        eraseRow8(layer, paint, n);
}

void BM_Row(benchmark::State &state) {
    const int kernel = int(state.range(0));
    const bool deep = state.range(1) != 0;
    const std::vector<uint8_t> layer = randomFrame(deep, 1), original = randomFrame(deep, 2);
    std::vector<uint8_t> paint = original;
    const size_t rowBytes = size_t(kWidth) * (deep ? 8 : 4);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(paint.data(), original.data(), original.size());
        state.ResumeTiming();
        for (int32_t y = 0; y < kHeight; ++y)
            runRow(kernel, deep, paint.data() + y * rowBytes, layer.data() + y * rowBytes, kWidth);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * int64_t(kWidth) * kHeight);
}
BENCHMARK(BM_Row)
    ->ArgNames({"kernel", "deep"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);

// kind: 0 round, 1 soft, 2 square. A row of dabs across a 512 x 512 image,
// cleared whenever the row is done; square strokes space their dabs far
// closer than the others.
template <bool Deep>
void BM_Dab(benchmark::State &state) {
    const int kind = int(state.range(0));
    const float radius = float(state.range(1));
    using C = std::conditional_t<Deep, uint16_t, uint8_t>;
    std::vector<uint8_t> bytes(size_t(512) * 512 * (Deep ? 8 : 4));
    const ImageView view{bytes.data(), 512 * (Deep ? 8 : 4), 512, 512, Deep};
    std::vector<RowSpan> spans(512, RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
    PaintedRows rows{512, 511, 0, spans.data(), 0, 0};
    const C colour[4] = {C(Deep ? 26000 : 200), 10, 20, 30};
    float x = 40.0f;
    for (auto _ : state) {
        if constexpr (Deep) {
            if (kind == 0) stampRoundDab16(1.0f, radius, 0.5f, x, 256.3f, colour, &view, &rows);
            if (kind == 1) stampSoftDab16(1.0f, radius, x, 256.3f, colour, &view, &rows);
            if (kind == 2) stampSquareDab16(1.0f, radius, 0.3f, x, 256.3f, colour, &view, &rows);
        } else {
            if (kind == 0) stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, &view, &rows);
            if (kind == 1) stampSoftDab8(1.0f, radius, x, 256.3f, colour, &view, &rows);
            if (kind == 2) stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, &view, &rows);
        }
        x += (kind == 2 ? 0.05f * radius : 0.37f * radius) + 0.1f;
        if (x > 472.0f) {
            state.PauseTiming();
            std::fill(bytes.begin(), bytes.end(), 0);
            x = 40.0f;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK_TEMPLATE(BM_Dab, false)->ArgNames({"kind", "radius"})->ArgsProduct({{0, 1, 2}, {4, 8, 32}});
BENCHMARK_TEMPLATE(BM_Dab, true)->ArgNames({"kind", "radius"})->ArgsProduct({{0, 1, 2}, {4, 8, 32}});

}  // namespace

BENCHMARK_MAIN();
