// Which strokes a frame shows: the draw order, the drawing time with the
// playback speed, and each playback mode at its edges.
#include <gtest/gtest.h>

#include <cstring>

#include "host/entry.h"
#include "host/globals.h"
#include "params/param_ids.h"
#include "render/draw_order.h"
#include "render/selection.h"
#include "render_fixture.h"

namespace render_test {
namespace {

using namespace pennaro;

using Counts = std::vector<int32_t>;

TEST(DrawOrder, EqualStartTimesAreDrawnInIdOrder) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.setStrokes({dotStroke(5, 1.0f, 0.1f, 0.5f), dotStroke(9, 0.5f, 0.3f, 0.5f), dotStroke(2, 1.0f, 0.5f, 0.5f),
                    dotStroke(7, 0.0f, 0.7f, 0.5f), dotStroke(3, 1.0f, 0.9f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    bool valid = false;
    EXPECT_EQ(rig.order(&valid), (Counts{3, 1, 2, 4, 0}));
    EXPECT_TRUE(valid);
}

TEST(DrawOrder, UnreachableStrokesAndRepeatedPicks) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    // A negative start is never reached; a shared (start, id) pair is taken
    // once, from its first holder; rounds that find nothing repeat the pick,
    // and a repeated stroke is drawn once per position.
    rig.setStrokes({dotStroke(1, -1.0f, 0.5f, 0.5f), dotStroke(4, 0.5f, 0.5f, 0.5f), dotStroke(4, 0.5f, 0.2f, 0.5f),
                    dotStroke(2, 0.25f, 0.5f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.order(), (Counts{3, 1, 1, 1}));
    EXPECT_EQ(rig.host.progressCalls().size(), 4u);

    // Nothing reachable at all: stroke 0 fills every position.
    rig.setStrokes({dotStroke(1, -1.0f, 0.5f, 0.5f), dotStroke(2, -2.0f, 0.5f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.order(), (Counts{0, 0}));
}

TEST(DrawOrder, RebuiltWhenTheStrokeCountChanges) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.setStrokes({dotStroke(2, 0.0f, 0.5f, 0.5f), dotStroke(1, 0.0f, 0.5f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.order(), (Counts{1, 0}));
    rig.setStrokes({dotStroke(2, 0.0f, 0.5f, 0.5f), dotStroke(3, 0.0f, 0.5f, 0.5f), dotStroke(1, 0.0f, 0.5f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.order(), (Counts{2, 0, 1}));
}

TEST(DrawOrder, LookupOutsideTheOrderOrWithoutOne) {
    minihost::Host host;
    DrawOrderCache cache{0, 3, nullptr, -1.0};
    EXPECT_EQ(drawOrderLookup(&host.in, cache, 2), 2);  // not valid: position itself
    EXPECT_EQ(drawOrderLookup(&host.in, cache, 3), 0);  // outside
    EXPECT_EQ(drawOrderLookup(&host.in, cache, -1), 0);
    cache.order = minihost::newHandle(3 * sizeof(int32_t));
    const int32_t stored[] = {2, 0, 1};
    std::memcpy(minihost::lockHandle(cache.order), stored, sizeof stored);
    minihost::unlockHandle(cache.order);
    EXPECT_EQ(drawOrderLookup(&host.in, cache, 0), 0);  // still not valid
    cache.orderValid = 1;
    EXPECT_EQ(drawOrderLookup(&host.in, cache, 0), 2);
    EXPECT_EQ(drawOrderLookup(&host.in, cache, 2), 1);
    EXPECT_EQ(minihost::handleInfo(cache.order).lockCount, 0);
    minihost::disposeHandle(cache.order);
}

TEST(Selection, CurrentFrameAtThirtyFramesPerSecond) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_CURRENT_FRAME);
    rig.setStrokes({dotStroke(1, 1.0f, 0.5f, 0.5f), dotStroke(2, 1.01f, 0.5f, 0.5f)});
    const Counts expected[] = {{0, 0}, {1, 0}, {0, 1}, {0, 0}};  // frames 29..32
    for (int i = 0; i < 4; ++i) {
        rig.setFrame(29 + i, 30);
        ASSERT_EQ(rig.render(), 0);
        EXPECT_EQ(rig.drawCounts(), expected[i]) << "frame " << 29 + i;
    }
}

TEST(Selection, PastStrokesAtDoubleSpeed) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_PAST);
    rig.host.setParam(PARAM_PLAYBACK_SPEED, 2.0);
    // 24 fps: 1 % of a frame is 1/2400 s.
    rig.setStrokes({dotStroke(1, 1.5f, 0.5f, 0.5f), dotStroke(2, 2.0f, 0.5f, 0.5f),
                    dotStroke(3, 2.0003f, 0.5f, 0.5f), dotStroke(4, 2.001f, 0.5f, 0.5f),
                    dotStroke(5, 2.1f, 0.5f, 0.5f)});
    rig.host.setTime(2400, 100, 2400);  // layer time 1.0 s
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.drawCounts(), (Counts{1, 1, 1, 0, 0}));
    // "Current Frame" ignores the speed: its time is the layer time.
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_CURRENT_FRAME);
    rig.setStrokes({dotStroke(1, 1.0f, 0.5f, 0.5f), dotStroke(2, 2.0f, 0.5f, 0.5f)});
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.drawCounts(), (Counts{1, 0}));
}

TEST(Selection, HoldStrokesBetweenStarts) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_HOLD);
    rig.setStrokes({dotStroke(1, 1.0f, 0.5f, 0.5f), dotStroke(2, 2.0f, 0.5f, 0.5f), dotStroke(3, 1.0f, 0.5f, 0.5f),
                    dotStroke(4, 1.04f, 0.5f, 0.5f), dotStroke(5, 1.05f, 0.5f, 0.5f)});
    const int32_t frames[] = {12, 24, 25, 36, 48, 100};
    const Counts expected[] = {
        {0, 0, 0, 0, 0},  // before the first start
        {1, 0, 1, 1, 0},  // at 1.0 s: that start and what begins within W after it
        {0, 0, 0, 0, 1},  // 1.05 s has been reached
        {0, 0, 0, 0, 1},  // between starts the earlier one holds
        {0, 1, 0, 0, 0},
        {0, 1, 0, 0, 0},  // after the last start it stays
    };
    for (int i = 0; i < 6; ++i) {
        rig.setFrame(frames[i], 24);
        ASSERT_EQ(rig.render(), 0);
        EXPECT_EQ(rig.drawCounts(), expected[i]) << "frame " << frames[i];
    }
}

TEST(Selection, AnimateCountsThePointsTheAgeHasReached) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ANIMATE);
    rig.setStrokes({dotStroke(1, 1.0f, 0.5f, 0.5f, 1, 1, 1, 4), dotStroke(2, 0.0f, 0.5f, 0.5f, 1, 1, 1, 4)});
    rig.host.setTime(115, 1, 100);  // 1.15 s: ages 0.15 and 1.15
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.drawCounts(), (Counts{3, 4}));
    rig.host.setTime(100, 1, 100);  // the very start of stroke 1: not drawn
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.drawCounts(), (Counts{0, 4}));
}

TEST(Selection, UnselectsStrokesUnlessSelectionIsActive) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.setStrokes({dotStroke(1, 0.0f, 0.5f, 0.5f)});
    auto *seq = static_cast<PaintSequence *>(minihost::lockHandle(rig.host.in.sequenceData));
    auto *stroke = static_cast<PaintStroke *>(minihost::lockHandle(seq->strokeTable));
    stroke->selected = 1;
    minihost::unlockHandle(seq->strokeTable);
    minihost::unlockHandle(rig.host.in.sequenceData);
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.strokes()[0].selected, 0);
}

// Onion skin with the default two frames each way: strokes two frames back
// to two ahead are drawn; past ones in the backward tint, future ones in the
// forward tint, the current one in its own colour.
TEST(Selection, OnionSkinTwoFramesEachWayWithTints) {
    Rig rig(80, 10, false);
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ONION_SKIN);
    rig.host.setParam(PARAM_COMPOSITE, COMPOSITE_ONLY);
    std::vector<TestStroke> list;
    for (int k = 0; k < 7; ++k)  // frames 7..13, current frame 10
        list.push_back(dotStroke(k + 1, float(7 + k) / 24.0f, (5.0f + 10.0f * float(k)) / 80.0f, 0.5f, 0.0f, 0.0f, 1.0f));
    // Half a frame ahead: drawn, and not yet a future stroke.
    list.push_back(dotStroke(8, 10.5f / 24.0f, 75.0f / 80.0f, 0.5f, 0.0f, 0.0f, 1.0f));
    rig.setStrokes(list);
    rig.setFrame(10, 24);
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.drawCounts(), (Counts{0, 1, 1, 1, 1, 1, 0, 1}));
    auto at = [&](int k) { return rig.output.pixel8(5 + 10 * k, 5); };
    EXPECT_EQ(at(0).alpha, 0);
    EXPECT_EQ(at(6).alpha, 0);
    for (int k : {1, 2}) {  // past: backward colour (1, 0.5, 0.5), onion opacity
        EXPECT_EQ(at(k).red, 255);
        EXPECT_EQ(at(k).green, 128);
        EXPECT_EQ(at(k).blue, 128);
        EXPECT_GT(at(k).alpha, 0);
        EXPECT_LT(at(k).alpha, 255);
    }
    for (int k : {3, 7}) {  // current: own colour, own opacity
        EXPECT_EQ(at(k).red, 0);
        EXPECT_EQ(at(k).blue, 255);
        EXPECT_EQ(at(k).alpha, 255);
    }
    for (int k : {4, 5}) {  // future: forward colour (0.5, 1, 0.5)
        EXPECT_EQ(at(k).red, 128);
        EXPECT_EQ(at(k).green, 255);
        EXPECT_EQ(at(k).blue, 128);
        EXPECT_EQ(at(k).alpha, at(1).alpha);
    }
}

// ---- the drawing time, called directly with the stand-in host's records

struct TimeRig {
    minihost::Host host;
    TimeRig() {
        host.send(filterMain, HOST_CMD_GLOBAL_SETUP);
        host.setTime(1550, 100, 2400);
        host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_PAST);
    }
    ~TimeRig() { host.send(filterMain, HOST_CMD_GLOBAL_SETDOWN); }
    double time() { return drawingTime(&host.in, &host.out); }
};

TEST(DrawingTime, ConstantSpeedScalesTheLayerTime) {
    TimeRig rig;
    rig.host.setParam(PARAM_PLAYBACK_SPEED, 2 * 65536);  // no definitions: the 16.16 word itself
    EXPECT_EQ(rig.time(), 1550.0 / 2400.0 * 2.0);
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ONION_SKIN);
    EXPECT_EQ(rig.time(), 1550.0 / 2400.0);
    EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
}

TEST(DrawingTime, AnimatedSpeedIsALeftRiemannSum) {
    TimeRig rig;
    // Speed 1 until host time 1000, then 2 (held keys, no interpolation
    // without definitions). Frames of 100: j = 0..9 at 1, 10..14 at 2, and
    // the half frame from 1500 at 2: 10 + 10 + 1 = 21 frames of drawing time.
    rig.host.setKeyframes(PARAM_PLAYBACK_SPEED, {{0, 65536}, {1000, 131072}});
    EXPECT_EQ(rig.time(), 100.0 * 21.0 / 2400.0);
    EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
    // The speed's checkouts go frame by frame with time step 0.
    int speedCheckouts = 0;
    for (const auto &c : rig.host.checkouts())
        if (c.index == PARAM_PLAYBACK_SPEED) {
            ++speedCheckouts;
            EXPECT_EQ(c.timeStep, 0);
            EXPECT_EQ(c.time % 100, 0);
        }
    EXPECT_EQ(speedCheckouts, 16);

    // Without the suite the speed counts as animated (and the message shows).
    rig.host.setParam(PARAM_PLAYBACK_SPEED, 65536 * 3);
    rig.host.faults.failAcquire[HOST_PARAM_UTILS_SUITE] = 0;
    EXPECT_EQ(rig.time(), 100.0 * (3.0 * 0.5 + 45.0) / 2400.0);
    EXPECT_STREQ(rig.host.out.message, "Could not acquire param utils suite");

    // Negative time: only the partial step, which runs backward.
    rig.host.faults.failAcquire.clear();
    rig.host.setTime(-250, 100, 2400);
    rig.host.setKeyframes(PARAM_PLAYBACK_SPEED, {{0, 65536}, {1000, 131072}});
    EXPECT_EQ(rig.time(), 100.0 * (1.0 * -50.0 / 100.0) / 2400.0);
}

}  // namespace
}  // namespace render_test
