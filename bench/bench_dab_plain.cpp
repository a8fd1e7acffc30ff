// The dab kernels against their plain forms (plain_dab_kernels.h, the
// kernels as first written), same dabs in the same run: the plain form,
// then each instruction set's table (scalar, SSE2, AVX2; one the processor
// lacks is skipped). The ratios are what skipping known work and the vector
// loops buy. (A per-row reach bound for round and soft dabs was tried here
// and measured slower.)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <type_traits>
#include <vector>

#include "pixels/dispatch.h"
#include "plain_dab_kernels.h"

using namespace pennaro;

namespace {

// A row of overlapping dabs across a 512 x 512 image, cleared whenever the
// row is done, as a stroke lays them. form: 0 plain, 1 scalar, 2 SSE2, 3 AVX2.
template <bool Deep>
void BM_Dabs(benchmark::State &state) {
    const int form = int(state.range(0));
    const int kind = int(state.range(1));
    const float radius = float(state.range(2));
    using C = std::conditional_t<Deep, uint16_t, uint8_t>;
    const int32_t pixel = Deep ? 8 : 4;
    std::vector<uint8_t> bytes(size_t(512) * 512 * pixel);
    const ImageView view{bytes.data(), 512 * pixel, 512, 512, Deep};
    const ImageView *w = &view;
    std::vector<RowSpan> spans(512, RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
    PaintedRows rows{512, 511, 0, spans.data(), 0, 0};
    const C colour[4] = {C(Deep ? 26000 : 200), 10, 20, 30};
    const PixelKernels *k = form > 0 ? pixelKernels(static_cast<Isa>(form - 1)) : pixelKernels(Isa::Scalar);
    if (!k) {
        state.SkipWithError("instruction set not available on this processor");
        return;
    }
    const bool plain = form == 0;
    float x = 40.0f;
    for (auto _ : state) {
        if constexpr (Deep) {
            if (kind == 0) {
                if (plain) pennaro_plain::stampRoundDab16(1.0f, radius, 0.5f, x, 256.3f, colour, w, &rows);
                else k->roundDab16(1.0f, radius, 0.5f, x, 256.3f, colour, w, &rows);
            } else if (kind == 1) {
                if (plain) pennaro_plain::stampSoftDab16(1.0f, radius, x, 256.3f, colour, w, &rows);
                else k->softDab16(1.0f, radius, x, 256.3f, colour, w, &rows);
            } else {
                if (plain) pennaro_plain::stampSquareDab16(1.0f, radius, 0.3f, x, 256.3f, colour, w, &rows);
                else k->squareDab16(1.0f, radius, 0.3f, x, 256.3f, colour, w, &rows);
            }
        } else {
            if (kind == 0) {
                if (plain) pennaro_plain::stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, w, &rows);
                else k->roundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, w, &rows);
            } else if (kind == 1) {
                if (plain) pennaro_plain::stampSoftDab8(1.0f, radius, x, 256.3f, colour, w, &rows);
                else k->softDab8(1.0f, radius, x, 256.3f, colour, w, &rows);
            } else {
                if (plain) pennaro_plain::stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, w, &rows);
                else k->squareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, w, &rows);
            }
        }
        // Square strokes space their dabs far closer than the others.
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

BENCHMARK_TEMPLATE(BM_Dabs, false)
    ->ArgNames({"form", "kind", "radius"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}, {4, 8, 32}});
BENCHMARK_TEMPLATE(BM_Dabs, true)
    ->ArgNames({"form", "kind", "radius"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2}, {8, 32}});

}  // namespace

BENCHMARK_MAIN();
