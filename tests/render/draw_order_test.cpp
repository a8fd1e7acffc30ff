// The draw order: by start time then id, each (start, id) pair once, as
// the selection rounds of plain_draw_order.h define it (ties, zero of both
// signs, unreachable and NaN starts and duplicate pairs in random
// drawings), with their progress calls; its block made, resized or given up.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <utility>

#include "plain_draw_order.h"
#include "render_fixture.h"

namespace render_test {
namespace {

using Calls = std::vector<std::pair<int32_t, int32_t>>;

struct Log final : Progress {
    Calls calls;
    int32_t stopAt = -1;  // answer 7 on this call, counting from 0
    int32_t report(int32_t current, int32_t total) override {
        calls.push_back({current, total});
        return int32_t(calls.size()) - 1 == stopAt ? 7 : 0;
    }
};

// n strokes with id 0 starting at `start`.
std::vector<PaintStroke> alike(size_t n, float start) {
    std::vector<PaintStroke> strokes(n, PaintStroke{});
    for (PaintStroke &s : strokes) s.info.startTime = start;
    return strokes;
}

struct Outcome { int32_t result; std::vector<int32_t> order; Calls calls; };

template <class Fill>
Outcome run(Fill fillOrder, const std::vector<PaintStroke> &strokes, int32_t stopAt) {
    Log log;
    log.stopAt = stopAt;
    Outcome o{0, std::vector<int32_t>(strokes.size(), -99), {}};
    o.result = fillOrder(strokes.data(), int32_t(strokes.size()), o.order.data(), log);
    o.calls = log.calls;
    return o;
}

void expectSameAsRounds(const std::vector<PaintStroke> &strokes, int32_t stopAt = -1) {
    const Outcome plain = run(pennaro_plain::drawOrderRounds, strokes, stopAt);
    const Outcome sorted = run(fillDrawOrder, strokes, stopAt);
    ASSERT_EQ(sorted.result, plain.result);
    ASSERT_EQ(sorted.calls, plain.calls);
    if (plain.result == 0) {
        ASSERT_EQ(sorted.order, plain.order);
    }
}

// Start times from a small pool, so ties are common, with zero of both
// signs, negatives, NaN and infinities; ids from -3; duplicate pairs.
std::vector<PaintStroke> randomDrawing(std::mt19937 &rng, int32_t n) {
    static const float pool[] = {0.0f, -0.0f, -1.5f, 0.25f, 0.5f, 1.0f, 3.75f, 1e-30f,
                                 std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                 -std::numeric_limits<float>::infinity()};
    std::vector<PaintStroke> strokes(size_t(n), PaintStroke{});
    for (PaintStroke &s : strokes) {
        const int i = std::uniform_int_distribution<int>(0, 14)(rng);
        s.info.startTime = i < 11 ? pool[i] : std::uniform_real_distribution<float>(-2.0f, 10.0f)(rng);
        s.info.strokeId = std::uniform_int_distribution<int32_t>(-3, 12)(rng);
    }
    for (int32_t k = 0; k + 1 < n; k += 5) strokes[size_t(k + 1)] = strokes[size_t(k / 2)];
    return strokes;
}

TEST(DrawOrder, MatchesThePlainRounds) {
    std::mt19937 rng(1234);
    for (int trial = 0; trial < 400; ++trial) {
        const int32_t n = std::uniform_int_distribution<int32_t>(1, trial % 10 == 0 ? 1500 : 40)(rng);
        SCOPED_TRACE("trial " + std::to_string(trial) + ", " + std::to_string(n) + " strokes");
        expectSameAsRounds(randomDrawing(rng, n));
    }
    const auto drawing = randomDrawing(rng, 1100);
    for (int32_t stop = 0; stop < 5; ++stop) expectSameAsRounds(drawing, stop);

    std::vector<PaintStroke> strokes = alike(600, -1.0f);
    for (size_t k = 0; k < strokes.size(); k += 2) strokes[k].info.startTime = std::nanf("");
    expectSameAsRounds(strokes);  // nothing reachable
    strokes[417].info.startTime = 0.0f;
    expectSameAsRounds(strokes);  // one reachable stroke: drawn first, then repeated
}

TEST(DrawOrder, ProgressTotalsWrapLikeTheHostsIntegers) {
    EXPECT_EQ(run(fillDrawOrder, alike(600, 1.0f), -1).calls, (Calls{{256, 1179}, {512, 1179}}));  // 1200 - 21
    EXPECT_EQ(run(fillDrawOrder, alike(512, 1.0f), -1).calls, (Calls{{256, 1008}}));  // before rounds 256 only
    EXPECT_EQ(drawOrderProgressTotal(200), 398);
    EXPECT_EQ(drawOrderProgressTotal(32768), 0);
    EXPECT_EQ(drawOrderProgressTotal(40000), 80000 - 97656);
    EXPECT_EQ(drawOrderProgressBase(200), 2);
    EXPECT_EQ(drawOrderProgressBase(2000000), 244140625);
    EXPECT_EQ(drawOrderProgressBase(3000000), 549316406);  // n * n beyond 32 bits
}

TEST(DrawOrder, BuildMakesResizesOrGivesUpItsBlock) {
    enum Setup { Fresh, OtherSize, SameSize, NoMemory, NoResize, NoStrokes, Stopped };
    struct Case {
        const char *name; Setup setup; int32_t result; int32_t newCalls, resizeCalls; bool valid, hasBlock;
    };
    const Case cases[] = {
        {"made", Fresh, 0, 1, 0, true, true},
        {"resized when the count changed", OtherSize, 0, 0, 1, true, true},
        {"kept at the right size", SameSize, 0, 0, 0, true, true},
        {"no memory", NoMemory, 4, 1, 0, false, false},
        {"resize refused: the old block goes", NoResize, 4, 0, 1, false, false},
        {"no strokes", NoStrokes, 4, 0, 0, false, false},
        {"stopped by progress", Stopped, 7, 1, 0, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestMemory memory;
        std::vector<StrokeSpec> list;
        const int32_t n = c.setup == NoStrokes ? 0 : c.setup == Stopped ? 300 : 3;
        for (int32_t i = 0; i < n; ++i) list.push_back(dot(n - i, 0.0f));
        Drawing d(memory, list);
        if (c.setup == OtherSize || c.setup == NoResize) d.setOrder({0, 1, 2, 3});
        if (c.setup == SameSize) {
            d.setOrder({0, 0, 0});
            d.seq.drawOrder.orderValid = 0;
        }
        const size_t live = memory.live();
        const int32_t newBefore = memory.newCalls();
        if (c.setup == NoMemory) memory.failNewHandle(1);
        if (c.setup == NoResize) memory.failResize(1);
        Log log;
        log.stopAt = 0;
        EXPECT_EQ(buildDrawOrder(memory, d.seq, log), c.result);
        EXPECT_EQ(memory.newCalls() - newBefore, c.newCalls);
        EXPECT_EQ(memory.resizeCalls(), c.resizeCalls);
        EXPECT_EQ(d.seq.drawOrder.orderValid != 0, c.valid);
        EXPECT_EQ(d.seq.drawOrder.orderCount, n);
        EXPECT_EQ(d.seq.drawOrder.order != nullptr, c.hasBlock);
        const bool hadBlock = c.setup == OtherSize || c.setup == SameSize || c.setup == NoResize;
        EXPECT_EQ(memory.live(), live + c.hasBlock - hadBlock);
        EXPECT_EQ(memory.locked(), 0u);
        if (c.valid) {
            Locked<int32_t> order(memory, d.seq.drawOrder.order);
            EXPECT_EQ(std::vector<int32_t>(order.get(), order.get() + n), (std::vector<int32_t>{2, 1, 0}));
        }
        EXPECT_EQ(log.calls, (c.setup == Stopped ? Calls{{256, 595}} : Calls{}));
    }
}

TEST(DrawOrder, LookupOutsideTheOrderOrWithoutOne) {
    TestMemory memory;
    Drawing d(memory, {});
    d.seq.drawOrder.orderCount = 3;
    auto lookup = [&](std::vector<int32_t> positions) {
        for (int32_t &p : positions) p = drawOrderLookup(memory, d.seq.drawOrder, p);
        return positions;
    };
    EXPECT_EQ(lookup({-1, 0, 2, 3}), (std::vector<int32_t>{0, 0, 2, 0}));  // no order: the position itself
    d.setOrder({2, 0, 1});
    EXPECT_EQ(lookup({-1, 0, 2, 3}), (std::vector<int32_t>{0, 2, 1, 0}));
    d.seq.drawOrder.orderValid = 0;
    EXPECT_EQ(lookup({0, 1}), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(memory.locked(), 0u);
}

}  // namespace
}  // namespace render_test
