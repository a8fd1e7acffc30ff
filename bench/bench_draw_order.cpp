// Building the draw order for 1k, 10k and 100k strokes: the sort the effect
// uses against the selection rounds it replaced (one iteration of the rounds
// at 100k, which take many seconds).
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "plain_draw_order.h"
#include "render/draw_order.h"

using namespace pennaro;

namespace {

std::vector<PaintStroke> drawing(int32_t n) {
    std::mt19937 rng(7);
    std::vector<PaintStroke> strokes(size_t(n), PaintStroke{});
    for (int32_t k = 0; k < n; ++k) {
        strokes[size_t(k)].info.strokeId = k;
        // Quarter-second start times: many ties broken by id.
        strokes[size_t(k)].info.startTime = float(rng() % 4000) * 0.25f;
    }
    return strokes;
}

struct KeepGoing final : Progress {
    int32_t report(int32_t, int32_t) override { return 0; }
};

template <class Fill>
void run(benchmark::State &state, Fill fill) {
    const int32_t n = int32_t(state.range(0));
    const auto strokes = drawing(n);
    std::vector<int32_t> order(static_cast<size_t>(n));
    KeepGoing progress;
    for (auto _ : state) {
        benchmark::DoNotOptimize(fill(strokes.data(), n, order.data(), progress));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

void BM_DrawOrderSorted(benchmark::State &s) { run(s, fillDrawOrder); }
void BM_DrawOrderRounds(benchmark::State &s) { run(s, pennaro_plain::drawOrderRounds); }

BENCHMARK(BM_DrawOrderSorted)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawOrderRounds)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DrawOrderRounds)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
