// The stroke loop with a stand-in for the host's scratch image and
// progress: order, skipped strokes, the scratch image's life and every
// way out of the loop, onion tints; and the render's steps together under
// failing and moving memory.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "catalog/params.h"
#include "render/draw_order.h"
#include "render/paint.h"
#include "render/wiggle_setup.h"
#include "render_fixture.h"

namespace render_test {
namespace {

// Records what the loop asks for, as "new WxH[ deep]", "report c/t" and
// "dispose".
class FakeHost final : public PaintHost {
public:
    std::vector<std::string> events;
    int32_t newError = 0, disposeError = 0;
    size_t reports = 0, stopAtReport = 0;  // answer 3 at this report (1: the first)
    bool shallow = false;                  // an 8-bit image whatever was asked
    std::unique_ptr<TestImage> scratch;

    int32_t report(int32_t current, int32_t total) override {
        events.push_back("report " + std::to_string(current) + "/" + std::to_string(total));
        return ++reports == stopAtReport ? 3 : 0;
    }
    int32_t newScratch(int32_t width, int32_t height, bool deep, ImageView *view, bool *gotDeep) override {
        events.push_back("new " + std::to_string(width) + "x" + std::to_string(height) + (deep ? " deep" : ""));
        if (newError) return newError;
        scratch = std::make_unique<TestImage>(width, height, deep && !shallow);
        *view = scratch->view();
        *gotDeep = deep && !shallow;
        return 0;
    }
    int32_t disposeScratch() override {
        events.push_back("dispose");
        return disposeError;
    }
};

using Events = std::vector<std::string>;

PaintFrame frameFor(const TestImage &out, int32_t mode = PLAYBACK_ALL) {
    PaintFrame f{};
    f.playbackMode = mode;
    f.deep = out.deep();
    f.layer = layerOf(out.width(), out.height());
    f.scratchWidth = out.width();
    f.scratchHeight = out.height();
    return f;
}

// Strokes go in draw order (the stored one when valid); strokes with a
// draw count below 1 are skipped and report no progress; positions count
// from the progress base.
TEST(PaintStrokes, DrawOrderAndSkippedStrokes) {
    TestMemory memory;
    Drawing d(memory, {dot(1, 0, 0.5f, 0.5f, 1, 1, 0, 0), dot(2, 0, 0.5f, 0.5f, 1, 0, 1, 0),
                       dot(3, 0, 0.5f, 0.5f, 1, 0, 0, 1)});
    d.setDrawCounts({1, 0, 1});
    d.setOrder({2, 0, 1});
    for (bool valid : {true, false}) {
        d.seq.drawOrder.orderValid = valid;
        TestImage out(40, 10, false);
        FakeHost host;
        PaintFrame frame = frameFor(out);
        frame.progressBase = 5;
        const PaintResult r = paintStrokes(memory, d.seq, frame, out.view(), host);
        EXPECT_TRUE(r.error == 0 && r.composite);
        EXPECT_EQ(host.events, (Events{"new 40x10", "report 5/8", valid ? "report 6/8" : "report 7/8", "dispose"}));
        EXPECT_EQ(argb(out, 19, 4), valid ? (std::vector<int>{255, 255, 0, 0}) : (std::vector<int>{255, 0, 0, 255}));
        EXPECT_TRUE(host.scratch->allZero());
        EXPECT_EQ(memory.locked(), 0u);
    }
}

// The scratch image is made at the first drawn stroke at the layer's size
// and the output's depth, and given back on every way out; its failure is
// the render's error when nothing came before it.
TEST(PaintStrokes, EveryWayOut) {
    struct Case {
        const char *name; bool drawn, deep, shallow; int32_t newError, stopAt, disposeError, error; bool composite;
        Events events;
    };
    const Events all = {"new 40x10", "report 0/2", "report 1/2", "dispose"};
    const Case cases[] = {
        {"finished", true, false, false, 0, 0, 0, 0, true, all},
        {"finished in 16 bits", true, true, false, 0, 0, 0, 0, true,
         {"new 40x10 deep", "report 0/2", "report 1/2", "dispose"}},
        {"nothing to draw: no scratch image", false, false, false, 0, 0, 0, 0, true, {}},
        {"no scratch image", true, false, false, 44, 0, 0, 44, false, {"new 40x10", "dispose"}},
        {"8-bit scratch for a 16-bit output", true, true, true, 0, 0, 0, 0, false, {"new 40x10 deep", "dispose"}},
        {"stopped", true, false, false, 0, 1, 0, 3, false, {"new 40x10", "report 0/2", "dispose"}},
        {"stopped, then no dispose", true, false, false, 0, 1, 55, 3, false, {"new 40x10", "report 0/2", "dispose"}},
        {"no dispose", true, false, false, 0, 0, 55, 55, false, all},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestMemory memory;
        Drawing d(memory, {dot(1, 0, 0.25f, 0.0f), dot(2, 0, 0.75f, 0.99f)});  // on the first and last rows
        d.setDrawCounts({c.drawn, c.drawn ? 1 : -1});
        TestImage out(40, 10, c.deep);
        FakeHost host;
        host.shallow = c.shallow;
        host.newError = c.newError;
        host.stopAtReport = size_t(c.stopAt);
        host.disposeError = c.disposeError;
        const PaintResult r = paintStrokes(memory, d.seq, frameFor(out), out.view(), host);
        EXPECT_TRUE(r.error == c.error && r.composite == c.composite) << r.error;
        EXPECT_EQ(host.events, c.events);
        // Painted once a stroke was drawn, out to the first and last rows.
        const bool painted = c.events.size() > 2;
        EXPECT_EQ(out.allZero(), !painted);
        EXPECT_TRUE((out.alpha(10, 0) > 0) == painted && (out.alpha(30, 9) > 0) == (painted && c.stopAt == 0));
        EXPECT_TRUE(out.paddingIntact());
        EXPECT_EQ(memory.locked(), 0u);
    }
}

// Onion skin tints strokes that began more than 1 % of a frame ago in the
// backward colour, those starting more than just under a frame ahead in
// the forward colour, both at the onion opacity; other modes never tint.
TEST(PaintStrokes, OnionSkinTintsByAge) {
    TestMemory memory;
    const float starts[] = {9.985f, 9.995f, 10.985f, 11.0f};
    std::vector<StrokeSpec> list;
    for (int k = 0; k < 4; ++k) list.push_back(dot(k, starts[k], 0.1f + 0.2f * float(k), 0.5f, 1, 0, 0, 1));
    Drawing d(memory, list);
    d.select(PLAYBACK_ALL, 0, 1);
    for (int32_t mode : {PLAYBACK_ONION_SKIN, PLAYBACK_ALL}) {
        TestImage out(80, 10, false);
        FakeHost host;
        PaintFrame frame = frameFor(out, mode);
        frame.drawingTime = 10.0;
        frame.onionFrame = 1.0;
        frame.onion = OnionSkinPrefs{0.5f, 2, 2, 1, 0, 0, 0, 1, 0};
        paintStrokes(memory, d.seq, frame, out.view(), host);
        const std::vector<int> own = {255, 0, 0, 255}, past = {127, 255, 0, 0}, future = {127, 0, 255, 0};
        const bool onion = mode == PLAYBACK_ONION_SKIN;
        using Pixels = std::vector<std::vector<int>>;
        EXPECT_EQ((Pixels{argb(out, 7, 4), argb(out, 23, 4), argb(out, 39, 4), argb(out, 55, 4)}),
                  (Pixels{onion ? past : own, own, own, onion ? future : own}));
    }
}

// The frame's wiggle moves each stroke's dabs by its place in the stroke
// table (individual seeds), whatever the draw order.
TEST(PaintStrokes, WiggleSeedsFollowTheTableNotTheOrder) {
    TestMemory memory;
    Drawing d(memory, {dot(1, 0, 0.25f, 0.5f), dot(2, 0, 0.75f, 0.5f)});
    d.setDrawCounts({1, 1});
    Wiggle wiggle({1, 100, 0, 50, true}, 80, 10);
    std::vector<uint8_t> frames[3];  // unwiggled, wiggled, wiggled in the other order
    for (int run = 0; run < 3; ++run) {
        d.setOrder(run == 2 ? std::vector<int32_t>{1, 0} : std::vector<int32_t>{0, 1});
        TestImage out(80, 10, true);
        FakeHost host;
        PaintFrame frame = frameFor(out);
        if (run > 0) frame.wiggle = wiggle.settings;
        EXPECT_EQ(paintStrokes(memory, d.seq, frame, out.view(), host).error, 0);
        frames[run] = out.pixels();
    }
    EXPECT_NE(frames[1], frames[0]);
    EXPECT_EQ(frames[2], frames[1]);
}

// Draw order, selection and painting of a wiggled drawing, with every
// allocation failing once in turn and blocks moving on every lock: the
// steps fail only by lack of memory, leave no block behind or locked, and
// with all memory given paint the frame of a heap that never moves.
TEST(RenderSteps, EveryAllocationFailingOnce) {
    // The frame, the result, and whether the failAt-th allocation was reached.
    auto render = [](TestMemory &memory, bool deep, int32_t failAt, int32_t *result, bool *reached) {
        std::vector<StrokeSpec> list;
        for (int i = 0; i < 4; ++i) {
            StrokeSpec s = dot(10 - i, 0.05f * float(i), 0.2f + 0.2f * float(i), 0.2f, 6, 0.2f * float(i), 0.4f, 0.9f);
            for (size_t p = 0; p < s.points.size(); ++p) s.points[p].y = 0.2f + 0.1f * float(p);
            s.brush.brushMode = i == 3 ? BRUSH_KIND_SOFT | BRUSH_ERASE : BRUSH_KIND_ROUND + uint32_t(i);
            s.brush.opacity = 0.7f;
            list.push_back(s);
        }
        Drawing d(memory, list);
        TestImage out(40, 30, deep);
        out.fill(deep ? 26000 : 200, 50, 60, 70);
        FakeHost host;
        NoiseTable noise;
        buildNoiseTable(noise, WigglePhase{300, 24, 0.25f});
        PaintFrame frame = frameFor(out);
        frame.wiggle = wiggleSettings({5, 100, 70, 50, true}, 40, 30, {1, 1}, &noise);
        memory.failNewHandle(failAt);
        const int32_t calls = memory.newCalls();
        *result = buildDrawOrder(memory, d.seq, host);
        d.select(PLAYBACK_ALL, 0.0, 1.0 / 24);
        if (*result == 0) *result = paintStrokes(memory, d.seq, frame, out.view(), host).error;
        EXPECT_EQ(memory.locked(), 0u);
        *reached = memory.newCalls() - calls >= failAt;
        return out.pixels();
    };
    for (bool deep : {false, true}) {
        TestMemory plain;
        int32_t result = 0;
        bool reached = false;
        const auto expected = render(plain, deep, 0, &result, &reached);
        ASSERT_EQ(result, 0);
        for (int32_t n = 1;; ++n) {
            TestMemory memory;
            memory.moveOnLock(true);
            const auto pixels = render(memory, deep, n, &result, &reached);
            EXPECT_TRUE(result == 0 || result == 4) << "allocation " << n << " gave " << result;
            EXPECT_EQ(memory.live(), 0u) << "allocation " << n;
            EXPECT_EQ(memory.misuse(), 0);
            if (!reached) {
                EXPECT_EQ(pixels, expected);
                EXPECT_EQ(n, 6);  // the order and each stroke's resampled points
                break;
            }
        }
    }
}

}  // namespace
}  // namespace render_test
