// The dab kernels against their plain forms (tests/speed), same dabs in the
// same run: the ratio is what skipping known work buys. (A per-row reach
// bound for round and soft dabs was tried here and measured slower.)
#include <benchmark/benchmark.h>

#include <vector>

#include "plain_dab_kernels.h"

using namespace pennaro;

namespace {

template <bool Plain>
void BM_Dabs(benchmark::State &state) {
    const int kind = int(state.range(0));
    const float radius = float(state.range(1));
    std::vector<uint8_t> bytes(512 * 512 * 4);
    HostWorld w{};
    w.width = 512, w.height = 512, w.rowBytes = 512 * 4, w.data = bytes.data();
    std::vector<RowSpan> spans(512, RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
    PaintedRows rows{512, 511, 0, spans.data()};
    const uint8_t colour[4] = {200, 10, 20, 30};
    float x = 40.0f;
    for (auto _ : state) {
        if (kind == 0) {
            if (Plain) pennaro_plain::stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
            else stampRoundDab8(1.0f, radius, 0.5f, x, 256.3f, colour, &w, &rows);
        } else if (kind == 1) {
            if (Plain) pennaro_plain::stampSoftDab8(1.0f, radius, x, 256.3f, colour, &w, &rows);
            else stampSoftDab8(1.0f, radius, x, 256.3f, colour, &w, &rows);
        } else {
            if (Plain) pennaro_plain::stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
            else stampSquareDab8(1.0f, radius, 0.3f, x, 256.3f, colour, &w, &rows);
        }
        x += 0.37f * radius + 1.0f;
        if (x > 472.0f) {
            state.PauseTiming();
            std::fill(bytes.begin(), bytes.end(), 0);
            x = 40.0f;
            state.ResumeTiming();
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK_TEMPLATE(BM_Dabs, true)->ArgNames({"kind", "radius"})->ArgsProduct({{0, 1, 2}, {8, 32}});
BENCHMARK_TEMPLATE(BM_Dabs, false)->ArgNames({"kind", "radius"})->ArgsProduct({{0, 1, 2}, {8, 32}});

}  // namespace

BENCHMARK_MAIN();
