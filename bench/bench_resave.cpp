// `pennaro resave` of drawings made of many tiny strokes: the effect saves
// by appending every stroke to one growing block. Timed with the stand-in
// host's handles growing with room to spare, beside a store that moves the
// block on every growth (how the host behaved before: the time grew with
// the square of the stroke count). The counters give the moves and the
// bytes they copied per resave.
#include <benchmark/benchmark.h>

#ifdef PENNARO_BENCH_HAVE_TOOLS

#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/drawings/drawing_file.h"
#include "cli/drawings/resave.h"
#include "minihost/minihost.h"

using namespace pennaro_cli;

namespace {

// `count` strokes of two samples each, spread over the layer, on the
// bundled demo's header.
std::vector<uint8_t> tinyStrokes(int count) {
    std::ifstream file(std::string(PENNARO_BENCH_SOURCE_DIR) + "/examples/demo.json");
    std::stringstream text;
    text << file.rdbuf();
    nlohmann::ordered_json d = nlohmann::ordered_json::parse(text.str());
    nlohmann::ordered_json stroke = d["strokes"][0];
    nlohmann::ordered_json strokes = nlohmann::ordered_json::array();
    for (int k = 0; k < count; ++k) {
        const double x = (k % 200) / 200.0, y = (k / 200 % 200) / 200.0;
        stroke["strokeId"] = k;
        stroke["points"] = {{0.0, x, y, 1.0}, {0.1, x + 0.004, y, 1.0}};
        strokes.push_back(stroke);
    }
    d["strokes"] = strokes;
    return jsonToBlock(d);
}

class EveryGrowthMoves : public minihost::HandleStore {
protected:
    bool exactCapacity() const override { return true; }
};

void resave(benchmark::State &state, minihost::HandleStore &store) {
    minihost::useHandleStore(store);
    const std::vector<uint8_t> block = tinyStrokes(int(state.range(0)));
    const auto before = store.counters();
    for (auto _ : state) {
        const ResaveOutcome outcome = resaveThroughEffect(PENNARO_BENCH_PLUGIN, block);
        if (!outcome.ok) state.SkipWithError("the resave failed");
        benchmark::DoNotOptimize(outcome.block.data());
    }
    const auto after = store.counters();
    const double runs = double(state.iterations());
    state.counters["moves"] = double(after.moves - before.moves) / runs;
    state.counters["MB_copied"] = double(after.bytesCopied - before.bytesCopied) / runs / 1e6;
}

minihost::HandleStore roomy;
EveryGrowthMoves everyGrowth;

void BM_ResaveRoomy(benchmark::State &state) { resave(state, roomy); }
void BM_ResaveEveryGrowthMoves(benchmark::State &state) { resave(state, everyGrowth); }

}  // namespace

BENCHMARK(BM_ResaveRoomy)->Arg(10000)->Arg(40000)->Arg(160000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResaveEveryGrowthMoves)->Arg(10000)->Arg(40000)->Unit(benchmark::kMillisecond)->Iterations(1);

#endif

BENCHMARK_MAIN();
