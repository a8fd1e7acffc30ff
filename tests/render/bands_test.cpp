// Frames painted in bands on the effect's threads: the same bytes as one
// thread for random and hostile drawings at every thread count, the host
// asked for the same things in the same order, and a stop keeps the strokes
// already painted.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <random>
#include <string>

#include "catalog/params.h"
#include "render/paint.h"
#include "render/wiggle.h"
#include "render/workers.h"
#include "render_fixture.h"

namespace render_test {
namespace {

class Host final : public PaintHost {
public:
    std::vector<std::string> events;
    size_t stopAt = 0, reports = 0;  // answer 3 at this report (1: the first)
    std::unique_ptr<TestImage> scratch;

    int32_t report(int32_t current, int32_t total) override {
        events.push_back("report " + std::to_string(current) + "/" + std::to_string(total));
        return ++reports == stopAt ? 3 : 0;
    }
    int32_t newScratch(int32_t width, int32_t height, bool deep, ImageView *view, bool *gotDeep) override {
        events.push_back("new");
        scratch = std::make_unique<TestImage>(width, height, deep, 12);
        *view = scratch->view();
        *gotDeep = deep;
        return 0;
    }
    int32_t disposeScratch() override {
        events.push_back("dispose");
        return 0;
    }
};

// Usual values, and in a hostile drawing now and then one only corrupt data
// holds.
float wild(std::mt19937 &rng, bool hostile, float usual) {
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 3.0e38f, -40.0f, 1.0e-30f};
    return hostile && rng() % 8 == 0 ? values[rng() % 6] : usual;
}

std::vector<StrokeSpec> randomDrawing(std::mt19937 &rng, int32_t count, bool hostile) {
    static const uint32_t modes[] = {1, 2, 3, 1, 2, 3, 1, 9, 10, 11, 4, 12, 0};
    std::uniform_real_distribution<float> unit(0.0f, 1.0f), pos(-0.2f, 1.2f), pressure(-0.1f, 1.5f);
    std::vector<StrokeSpec> list;
    for (int32_t i = 0; i < count; ++i) {
        StrokeSpec s{i + 1, 0.3f * unit(rng), {}, {}};
        s.brush = BrushSettings{unit(rng), unit(rng), unit(rng), wild(rng, hostile, 0.3f + 0.7f * unit(rng)),
                                wild(rng, hostile, 0.5f + 30.0f * unit(rng) * unit(rng)), modes[rng() % 13],
                                wild(rng, hostile, unit(rng)), uint32_t(rng() % 4)};
        float x = pos(rng), y = pos(rng);
        const int32_t points = 1 + int32_t(rng() % 9);
        for (int32_t p = 0; p < points; ++p) {
            s.points.push_back({0.05f * float(p), wild(rng, hostile, x), wild(rng, hostile, y), pressure(rng)});
            x += 0.3f * (unit(rng) - 0.5f);
            y += 0.3f * (unit(rng) - 0.5f);
        }
        list.push_back(s);
    }
    return list;
}

struct Painted {
    std::vector<uint8_t> pixels;
    std::vector<std::string> events;
    bool scratchClear;
};

Painted paint(TestMemory &memory, Drawing &d, const PaintFrame &frame, TestImage out, size_t stopAt = 0) {
    Host host;
    host.stopAt = stopAt;
    paintStrokes(memory, d.seq, frame, out.view(), host);
    EXPECT_TRUE(out.paddingIntact());
    EXPECT_EQ(memory.locked(), 0u);
    return {out.pixels(), host.events, host.scratch && host.scratch->allZero() && host.scratch->paddingIntact()};
}

TEST(BandPainting, SameBytesAndHostCallsAtEveryThreadCount) {
    std::mt19937 rng(27);
    const int owner = 0;
    NoiseTable noise;
    buildNoiseTable(noise, WigglePhase{300, 24, 0.25f});
    struct Size { int32_t width, height; };
    // A single row, fewer rows than bands, and images of many bands.
    const Size sizes[] = {{61, 1}, {40, 11}, {97, 61}, {150, 203}};
    int run = 0;
    for (bool hostile : {false, true}) {
        for (const Size size : sizes) {
            for (bool deep : {false, true}) {
                ++run;
                SCOPED_TRACE(::testing::Message() << "hostile " << hostile << " " << size.width << "x" << size.height
                                                  << (deep ? " 16 bit" : " 8 bit"));
                TestMemory memory;
                Drawing d(memory, randomDrawing(rng, 40, hostile));
                d.setDrawCounts(std::vector<int32_t>(40, 1));
                TestImage out(size.width, size.height, deep, 4);
                out.fill(deep ? 20000 : 140, 90, 10, 200);
                PaintFrame frame{};
                frame.playbackMode = run % 3 == 0 ? PLAYBACK_ONION_SKIN : PLAYBACK_ANIMATE;
                frame.drawingTime = 0.2;
                frame.onionFrame = 0.04;
                frame.onion = OnionSkinPrefs{0.5f, 1, 1, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
                frame.deep = deep;
                frame.layer = layerOf(size.width, size.height);
                if (run % 2 == 0) frame.layer.originX = 3;
                if (run % 2 == 1)
                    frame.wiggle = wiggleSettings({5, 100, 70, 50, true}, size.width, size.height, {1, 1}, &noise);
                frame.scratchWidth = size.width;
                frame.scratchHeight = size.height;
                const size_t stop = run % 4 == 1 ? 17 : 0;
                const Painted alone = paint(memory, d, frame, out, stop);
                EXPECT_TRUE(alone.scratchClear);
                for (int32_t threads : {2, 7, 16}) {
                    SCOPED_TRACE(::testing::Message() << threads << " threads");
                    pennaro::workers::enlist(&owner, threads);
                    frame.threads = threads;
                    const Painted banded = paint(memory, d, frame, out, stop);
                    EXPECT_EQ(banded.events, alone.events);
                    EXPECT_TRUE(banded.scratchClear);
                    ASSERT_TRUE(banded.pixels == alone.pixels);
                }
                frame.threads = 0;
            }
        }
    }
    pennaro::workers::dismiss(&owner);
    EXPECT_EQ(pennaro::workers::poolSize(), 0);
}

// The pool belongs to its owners: none before the first asks, the largest
// count asked for while any is enlisted, none once the last is dismissed;
// a second command while one holds the pool is told to paint alone.
TEST(BandPainting, PoolLivesFromTheFirstOwnerToTheLast) {
    const int a = 0, b = 0;
    EXPECT_EQ(pennaro::workers::poolSize(), 0);
    pennaro::workers::enlist(&a, 1);
    EXPECT_EQ(pennaro::workers::poolSize(), 0);
    EXPECT_EQ(pennaro::workers::threadsFor(&a), 1);
    pennaro::workers::enlist(&b, 3);
    pennaro::workers::enlist(&a, 2);
    EXPECT_EQ(pennaro::workers::poolSize(), 3);
    pennaro::workers::dismiss(&b);
    EXPECT_EQ(pennaro::workers::poolSize(), 3);
    EXPECT_EQ(pennaro::workers::threadsFor(&b), 0);
    {
        pennaro::workers::Crew first, second;
        ASSERT_TRUE(first.start(2, [](void *) {}, nullptr));
        EXPECT_FALSE(second.start(1, [](void *) {}, nullptr));
    }
    pennaro::workers::dismiss(&a);
    EXPECT_EQ(pennaro::workers::poolSize(), 0);
}

}  // namespace
}  // namespace render_test
