// The sorted draw order against the selection rounds it replaces: the same
// order and the same progress calls (and the same stop when the host says
// stop) over random drawings full of the awkward cases.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "plain_forms.h"

using namespace pennaro;

namespace {

struct ProgressLog {
    std::vector<std::pair<int32_t, int32_t>> calls;
    int32_t stopAtCall = -1;  // answer non-zero on this call (counting from 0)
};

int32_t recordProgress(HostEffectRef ref, int32_t current, int32_t total) {
    auto *log = static_cast<ProgressLog *>(ref);
    log->calls.push_back({current, total});
    return static_cast<int32_t>(log->calls.size()) - 1 == log->stopAtCall ? 7 : 0;
}

struct Outcome {
    int32_t result;
    std::vector<int32_t> order;
    std::vector<std::pair<int32_t, int32_t>> calls;
};

template <class Fill>
Outcome run(Fill fill, const std::vector<PaintStroke> &strokes, int32_t stopAtCall) {
    ProgressLog log;
    log.stopAtCall = stopAtCall;
    HostInData in{};
    in.effectRef = &log;
    in.progress = recordProgress;
    Outcome o;
    o.order.assign(strokes.size(), -99);
    o.result = fill(&in, strokes.data(), static_cast<int32_t>(strokes.size()), o.order.data());
    o.calls = log.calls;
    return o;
}

// Start times drawn from a small pool so ties are common, plus the edge
// values: zero of both signs, negatives, NaN, infinity.
float randomStart(std::mt19937 &rng) {
    static const float pool[] = {0.0f, -0.0f, -1.5f, 0.25f, 0.5f, 1.0f, 3.75f, 1e-30f,
                                 std::numeric_limits<float>::quiet_NaN(),
                                 std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity()};
    std::uniform_int_distribution<int> pick(0, 14);
    const int i = pick(rng);
    if (i < 11) return pool[i];
    return std::uniform_real_distribution<float>(-2.0f, 10.0f)(rng);
}

std::vector<PaintStroke> randomDrawing(std::mt19937 &rng, int32_t n) {
    std::vector<PaintStroke> strokes(static_cast<size_t>(n));
    std::uniform_int_distribution<int32_t> id(-3, 12);
    for (auto &s : strokes) {
        s = PaintStroke{};
        s.startTime = randomStart(rng);
        s.strokeId = id(rng);
    }
    // Some exact duplicate pairs at other table positions.
    for (int32_t k = 0; k + 1 < n; k += 5) strokes[static_cast<size_t>(k + 1)] = strokes[static_cast<size_t>(k / 2)];
    return strokes;
}

void expectSame(const std::vector<PaintStroke> &strokes, int32_t stopAtCall) {
    const Outcome plain = run(pennaro_plain::drawOrderRounds, strokes, stopAtCall);
    const Outcome fast = run(fillDrawOrder, strokes, stopAtCall);
    ASSERT_EQ(fast.result, plain.result);
    ASSERT_EQ(fast.calls, plain.calls);
    if (plain.result == 0) {
        ASSERT_EQ(fast.order, plain.order);
    }
}

TEST(DrawOrderSorted, MatchesTheRoundsOnRandomDrawings) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t n = std::uniform_int_distribution<int32_t>(1, trial % 10 == 0 ? 1500 : 40)(rng);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(n) + " strokes");
        expectSame(randomDrawing(rng, n), -1);
    }
}

TEST(DrawOrderSorted, MatchesTheRoundsWhenNothingOrOneThingIsReachable) {
    std::vector<PaintStroke> strokes(600);
    for (size_t k = 0; k < strokes.size(); ++k) {
        strokes[k] = PaintStroke{};
        strokes[k].startTime = (k % 2) ? -1.0f : std::numeric_limits<float>::quiet_NaN();
        strokes[k].strokeId = static_cast<int32_t>(k);
    }
    expectSame(strokes, -1);  // all unreachable: stroke 0 everywhere
    strokes[417].startTime = 0.0f;
    expectSame(strokes, -1);  // one reachable: drawn first, then repeated
    strokes[3].startTime = 0.0f;
    strokes[3].strokeId = -1;  // the starting pair itself is not above itself
    expectSame(strokes, -1);
}

TEST(DrawOrderSorted, StopsWhereTheRoundsStop) {
    std::mt19937 rng(99);
    const auto strokes = randomDrawing(rng, 1100);
    for (int32_t stop = 0; stop < 5; ++stop) expectSame(strokes, stop);
}

}  // namespace
