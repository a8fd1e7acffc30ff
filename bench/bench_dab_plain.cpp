// The dab kernels against their plain forms (tests/speed), same dabs in the
// same run: the plain form, then the kernels through their scalar, SSE2 and
// AVX2 loops (paths the machine lacks fall back to the widest it has). The
// ratios are what skipping known work and the vector loops buy. (A per-row
// reach bound for round and soft dabs was tried here and measured slower.)
#include <benchmark/benchmark.h>

#include <algorithm>
#include <type_traits>
#include <vector>

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
    HostWorld w{};
    w.flags = Deep ? 1 : 0;
    w.width = 512, w.height = 512, w.rowBytes = 512 * pixel, w.data = bytes.data();
    std::vector<RowSpan> spans(512, RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
    PaintedRows rows{512, 511, 0, spans.data()};
    const C colour[4] = {C(Deep ? 26000 : 200), 10, 20, 30};
    const DabKernelPath before = dabKernelPath();
    if (form > 0) selectDabKernelPath(static_cast<DabKernelPath>(form - 1));
    const bool plain = form == 0;
    float x = 40.0f;
    for (auto _ : state) {
        if constexpr (Deep) {
            if (kind == 0) {
                if (plain) pennaro_plain::stampRoundDab16(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
                else stampRoundDab16(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
            } else if (kind == 1) {
                if (plain) pennaro_plain::stampSoftDab16(1.0f, radius, x, 256.3f, colour, &w, &rows);
                else stampSoftDab16(1.0f, radius, x, 256.3f, colour, &w, &rows);
            } else {
                if (plain) pennaro_plain::stampSquareDab16(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
                else stampSquareDab16(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
            }
        } else {
            if (kind == 0) {
                if (plain) pennaro_plain::stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
                else stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
            } else if (kind == 1) {
                if (plain) pennaro_plain::stampSoftDab8(1.0f, radius, x, 256.3f, colour, &w, &rows);
                else stampSoftDab8(1.0f, radius, x, 256.3f, colour, &w, &rows);
            } else {
                if (plain) pennaro_plain::stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
                else stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
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
    selectDabKernelPath(before);
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
