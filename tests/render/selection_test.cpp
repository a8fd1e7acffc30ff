// Which strokes a frame shows and at what time: every playback mode's rule
// at its edges; the drawing time and the wiggle phase as sums over frames
// (and the times at which the controls are asked for), the frame duration.
// The wiggle settings from the controls are pinned by the wiggled reference
// frames.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

#include "catalog/params.h"
#include "render/timing.h"
#include "render_fixture.h"

namespace render_test {
namespace {

using Counts = std::vector<int32_t>;

TEST(Selection, PlaybackModes) {
    const float nan = std::nanf("");
    // Frames 7..13, then 10.5, 7.55 and 12.45, at 24 fps.
    std::vector<float> onionStarts;
    for (float frame : {7.0f, 8.0f, 9.0f, 10.0f, 11.0f, 12.0f, 13.0f, 10.5f, 7.55f, 12.45f})
        onionStarts.push_back(frame / 24.0f);
    struct Case {
        const char *name; int32_t mode; std::vector<float> starts; int32_t points; double fps; OnionSkinPrefs onion;
        std::vector<std::pair<double, Counts>> frames;  // the counts at each frame
    };
    const Case cases[] = {
        // Judged by the frame the time falls in, a quarter frame early;
        // drawn from 1 % of a frame before the start to just under a frame after.
        {"current frame", PLAYBACK_CURRENT_FRAME, {1.0f, 1.01f}, 1, 30, {},
         {{29, {0, 0}}, {29.6, {0, 0}}, {29.8, {1, 0}}, {30, {1, 0}}, {31, {0, 1}}, {32, {0, 0}}}},
        // Everything started, up to 1 % of a frame ahead; the whole stroke.
        {"past", PLAYBACK_PAST, {1.5f, 2.0f, 2.0003f, 2.0006f, 2.1f}, 3, 24, {}, {{48, {3, 3, 3, 0, 0}}}},
        // The latest start reached (with 0.01 s to spare) and whatever starts
        // within just under a frame after it.
        {"hold", PLAYBACK_HOLD, {1.0f, 2.0f, 1.0f, 1.04f, 1.05f, 1.0415f}, 1, 24, {},
         {{12, {0, 0, 0, 0, 0, 0}}, {24, {1, 0, 1, 1, 0, 0}}, {25, {0, 0, 0, 0, 1, 0}},
          {36, {0, 0, 0, 0, 1, 0}}, {48, {0, 1, 0, 0, 0, 0}}, {100, {0, 1, 0, 0, 0, 0}}}},
        {"all", PLAYBACK_ALL, {-5.0f, 0.0f, 1e9f, nan}, 2, 24, {}, {{0, {2, 2, 2, 2}}}},
        {"unknown modes draw everything", 0, {-5.0f, 1e9f}, 2, 24, {}, {{3, {2, 2}}}},
        // Half a frame beyond the preferences' frames each way.
        {"onion skin 2 back 2 forward", PLAYBACK_ONION_SKIN, onionStarts, 1, 24, {0.5f, 2, 2, 0, 0, 0, 0, 0, 0},
         {{10, {0, 1, 1, 1, 1, 1, 0, 1, 1, 1}}}},
        {"onion skin 1 back 3 forward", PLAYBACK_ONION_SKIN, onionStarts, 1, 24, {0.5f, 1, 3, 0, 0, 0, 0, 0, 0},
         {{10, {0, 0, 1, 1, 1, 1, 1, 1, 0, 1}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        TestMemory memory;
        std::vector<StrokeSpec> list;
        for (size_t i = 0; i < c.starts.size(); ++i) list.push_back(dot(int32_t(i), c.starts[i], 0.5f, 0.5f, c.points));
        Drawing d(memory, list);
        for (const auto &[frame, counts] : c.frames)
            EXPECT_EQ(d.select(c.mode, frame / c.fps, 1.0 / c.fps, c.onion), counts) << "frame " << frame;
    }
}

// "Animate Strokes" counts the samples the stroke's age has reached, and
// the first one beyond it; nothing at the very start or before the first
// sample's time.
TEST(Selection, AnimateCountsTheSamplesReached) {
    TestMemory memory;
    StrokeSpec late = dot(3, 1.0f, 0.5f, 0.5f, 2);
    for (PaintPoint &p : late.points) p.time += 0.2f;
    Drawing d(memory, {dot(1, 1.0f, 0.5f, 0.5f, 4), dot(2, 0.0f, 0.5f, 0.5f, 4), late, dot(4, 0.0f, 0.5f, 0.5f, 0)});
    EXPECT_EQ(d.select(PLAYBACK_ANIMATE, 1.15, 0.01), (Counts{3, 4, 0, 0}));
    EXPECT_EQ(d.select(PLAYBACK_ANIMATE, 1.0, 0.01), (Counts{0, 4, 0, 0}));
    EXPECT_EQ(d.select(PLAYBACK_ANIMATE, 1.25, 0.01), (Counts{4, 4, 2, 0}));
    EXPECT_EQ(memory.locked(), 0u);
}

TEST(Selection, UnselectsStrokesUnlessASelectionIsActive) {
    for (bool active : {false, true}) {
        TestMemory memory;
        Drawing d(memory, {dot(1, 0.0f)});
        Locked<PaintStroke>(memory, d.seq.strokeTable)->info.selected = 1;
        d.select(PLAYBACK_ALL, 0.0, 1.0, {}, active);
        EXPECT_EQ(Locked<PaintStroke>(memory, d.seq.strokeTable)->info.selected, active ? 1 : 0);
    }
}

// ---- time

// A control held at each key's value from its time on; records the times
// it was asked for.
struct Control {
    std::vector<std::pair<int32_t, double>> keys;
    std::vector<int32_t> asked;
    double at(int32_t t) {
        asked.push_back(t);
        double v = keys[0].second;
        for (const auto &[from, value] : keys)
            if (t >= from) v = value;
        return v;
    }
};

std::vector<int32_t> steps(int32_t from, int32_t to, int32_t step) {
    std::vector<int32_t> v;
    for (int32_t t = from; t <= to; t += step) v.push_back(t);
    return v;
}

TEST(DrawingTime, LeftRiemannSumOfTheSpeedPartialStepFirst) {
    struct Case {
        const char *name; TimeBase time; std::vector<std::pair<int32_t, double>> speed; double expected;
        std::vector<int32_t> asked;
    };
    std::vector<int32_t> animated = {1500};
    for (int32_t t : steps(0, 1400, 100)) animated.push_back(t);
    const Case cases[] = {
        // Frames 0-9 at 1, 10-14 at 2 and the half frame from 1500 at 2.
        {"animated speed", {1550, 100, 100, 2400}, {{0, 1}, {1000, 2}}, 100.0 * 21.0 / 2400.0, animated},
        {"before zero only the partial step, backward", {-250, 100, 100, 2400}, {{-1000, 1}}, -50.0 / 2400.0, {-200}},
        {"local time step first", {5, 7, 3, 24}, {{0, 1}}, 5.0 / 24.0, {3, 0}},
        {"then the time step", {5, 7, 0, 24}, {{0, 1}}, 5.0 / 24.0, {0}},
        {"then a thirtieth of a second", {250, 0, 0, 2400}, {{0, 2}}, 500.0 / 2400.0, {240, 0, 80, 160}},
        {"then one time-scale unit", {50, 0, 0, 20}, {{0, 1}}, 50.0 / 20.0, {40, 0, 20}},
        {"no time scale", {50, 0, 0, 0}, {{0, 1}}, std::numeric_limits<double>::infinity(), {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Control speed{c.speed, {}};
        EXPECT_DOUBLE_EQ(integratedDrawingTime(c.time, [&](int32_t t) { return speed.at(t); }), c.expected);
        EXPECT_EQ(speed.asked, c.asked);
    }
}

// The rate is asked for at every whole frame from 0, then at the current
// one; a frame is the local time step, else the time step, else a
// thirtieth of a second, else one time-scale unit.
TEST(WigglePhase, SumOfTheRateWholeFramesFirst) {
    struct Case {
        const char *name; TimeBase time; std::vector<std::pair<int32_t, double>> rate; int32_t K; float f;
        std::vector<int32_t> asked;
    };
    const Case cases[] = {
        {"1.5 s at 30 wiggles/s", {45, 1, 1, 30}, {{0, 30}}, 45 * 30, 0.0f, steps(0, 45, 1)},
        {"10 s at a quarter wiggle/s", {300, 1, 1, 30}, {{0, 0.25}}, 2 * 30, 0.5f, steps(0, 300, 1)},
        {"the rate changes frame by frame", {30, 1, 1, 30}, {{0, 2}, {15, 4}}, 3 * 30, 0.0f, steps(0, 30, 1)},
        // -17.5 frame-wiggles truncate to -17: the count -1 and 13/30 of one.
        {"backward", {35, 1, 1, 30}, {{0, -0.5}}, -30, float(13.0 / 30.0), steps(0, 35, 1)},
        {"frozen", {300, 1, 1, 30}, {{0, 0}}, 0, 0.0f, steps(0, 300, 1)},
        {"frozen elsewhere", {3, 1, 1, 30}, {{0, 0}}, 0, 0.0f, steps(0, 3, 1)},
        {"no time scale", {5, 0, 0, 0}, {{0, 3}}, 0, 0.0f, steps(0, 5, 1)},
        // Frames 0-3 at 24, 4-6 at 48 and 0.4 of frame 7 at 48: 10.8 wiggles.
        {"frames of 100 units", {740, 100, 100, 2400}, {{0, 24}, {301, 48}}, 10 * 2400, 0.8f, steps(0, 700, 100)},
        {"local time step first", {6, 7, 3, 24}, {{0, 1}}, 0, 0.25f, steps(0, 6, 3)},
        {"no time steps: a thirtieth of a second", {250, 0, 0, 2400}, {{0, 1}}, 0, float(250.0 / 2400.0),
         steps(0, 240, 80)},
        {"then one time-scale unit", {50, 0, 0, 20}, {{0, 1}}, 40, 0.5f, steps(0, 40, 20)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Control rate{c.rate, {}};
        const WigglePhase phase = integrateWigglePhase(c.time, [&](int32_t t) { return rate.at(t); });
        EXPECT_EQ(phase.K, c.K);
        EXPECT_EQ(phase.f, c.f);
        EXPECT_EQ(phase.S, c.time.timeScale);
        EXPECT_EQ(rate.asked, c.asked);
    }
}

TEST(FrameSeconds, LocalStepThenStepThenOneSecond) {
    EXPECT_EQ(frameSeconds(TimeBase{0, 5, 2, 48}), 2.0 / 48.0);
    EXPECT_EQ(frameSeconds(TimeBase{0, 5, 0, 48}), 5.0 / 48.0);
    EXPECT_EQ(frameSeconds(TimeBase{0, 0, -1, 48}), 1.0);
}

}  // namespace
}  // namespace render_test
