// The render command through the loaded effect: output preparation and
// compositing without strokes, progress, the scratch image, and every
// failure path with the output it leaves.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "catalog/params.h"
#include "rig.h"

namespace host_test {
namespace {

using namespace pennaro;

constexpr const char *TRANSFORM = HOST_WORLD_TRANSFORM_SUITE;
constexpr const char *FILL = HOST_FILL_MATTE_SUITE;
constexpr const char *WORLD = HOST_WORLD_SUITE;

// ---- no strokes: the prepared output composited with the layer

// "In Original" and "In Original Alpha Only" start from a copy of the layer,
// every other mode from a cleared output, which "Only" keeps and "Over
// Original" lays over the layer (the other modes' rules are the frame
// compositor's, tested with the render).
TEST(RenderNoStrokes, TheOutputStartsFromTheLayerOrCleared) {
    for (bool deep : {false, true}) {
        for (int mode : {COMPOSITE_ONLY, COMPOSITE_IN_ORIGINAL, COMPOSITE_IN_ORIGINAL_ALPHA_ONLY,
                         COMPOSITE_OVER_ORIGINAL}) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << (deep ? " 16 bit" : " 8 bit"));
            Rig rig(9, 7, deep);
            rig.output.fill(7, 7, 7, 7);
            rig.host.setParam(PARAM_COMPOSITE, mode);
            ASSERT_EQ(rig.render(), 0);
            EXPECT_TRUE(mode == COMPOSITE_ONLY ? rig.outputIsZero() : rig.output.samePixels(rig.layer));
            EXPECT_TRUE(rig.output.paddingIntact());
            EXPECT_TRUE(rig.host.progressCalls().empty());
            EXPECT_TRUE(rig.host.suitesBalanced());
        }
    }
}

TEST(RenderNoStrokes, NothingSelectedMakesNoScratchAndNoProgress) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_CURRENT_FRAME);
    rig.host.setParam(PARAM_COMPOSITE, COMPOSITE_OVER_ORIGINAL);
    rig.setStrokes({dotStroke(1, 5.0f, 0.5f, 0.5f)});
    rig.setFrame(0, 24);
    ASSERT_EQ(rig.render(), 0);
    EXPECT_TRUE(rig.host.progressCalls().empty());
    EXPECT_EQ(rig.host.suiteCounts()[WORLD].acquired, 0);
    EXPECT_TRUE(rig.output.samePixels(rig.layer));
}

// ---- progress

std::vector<TestStroke> manyStrokes(int n) {
    std::vector<TestStroke> list;
    for (int i = 0; i < n; ++i) list.push_back(dotStroke(i, 0.01f * float(n - i), 0.5f, 0.5f));
    return list;
}

TEST(RenderProgress, BuildingTheOrderTakesItsShare) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.setStrokes(manyStrokes(200));
    ASSERT_EQ(rig.render(), 0);
    const auto &first = rig.host.progressCalls();
    ASSERT_EQ(first.size(), 200u);
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(first[i].current, 2 + i);
        EXPECT_EQ(first[i].total, 202);
    }
    // The order is valid now: the next frame reports plain totals.
    ASSERT_EQ(rig.render(), 0);
    const auto &both = rig.host.progressCalls();
    ASSERT_EQ(both.size(), 400u);
    EXPECT_EQ(both[200].current, 0);
    EXPECT_EQ(both[399].current, 199);
    EXPECT_EQ(both[399].total, 200);
}

// ---- scratch image

TEST(RenderScratch, SixteenBitOutputWithEightBitScratchKeepsThePreparedImage) {
    Rig rig(16, 12, true);
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.host.setParam(PARAM_COMPOSITE, COMPOSITE_OVER_ORIGINAL);
    rig.setStrokes({dotStroke(1, 0.0f, 0.5f, 0.5f)});
    rig.host.faults.newImageShallow = true;
    rig.output.fill(1, 2, 3, 4);
    ASSERT_EQ(rig.render(), 0);
    EXPECT_TRUE(rig.outputIsZero());  // cleared, no stroke, not composited
    EXPECT_EQ(rig.host.liveImages(), 0);
    EXPECT_TRUE(rig.host.progressCalls().empty());

    // The same frame with a real 16-bit scratch image paints and composites.
    rig.host.faults.newImageShallow = false;
    ASSERT_EQ(rig.render(), 0);
    EXPECT_FALSE(rig.outputIsZero());
    EXPECT_EQ(rig.host.liveImages(), 0);
    EXPECT_EQ(rig.host.suiteCounts()[WORLD].acquired, 2);
}

// ---- failures and the output they leave

struct FailureRig : Rig {
    FailureRig() : Rig(12, 10, false) {
        host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
        host.setParam(PARAM_COMPOSITE, COMPOSITE_OVER_ORIGINAL);
        setStrokes({dotStroke(1, 0.0f, 0.25f, 0.5f), dotStroke(2, 0.0f, 0.75f, 0.5f)});
        output.fill(9, 9, 9, 9);
        before = output;
    }
    minihost::Image before{1, 1, false};
    bool untouched() const { return output.samePixels(before); }
    bool composited() const {
        // Over Original on an opaque layer: composited output is opaque
        // everywhere, the prepared one transparent where nothing was painted.
        return output.pixel8(0, 0).alpha == 255;
    }
};

// A suite the render cannot acquire: its error and message. The
// compositing suites are acquired before the output is prepared, the world
// suite after.
TEST(RenderFailure, SuiteAcquireFailures) {
    struct Case { const char *suite; int32_t composite; const char *message; bool prepared; };
    const Case cases[] = {
        {FILL, COMPOSITE_OVER_ORIGINAL, "Could not acquire Fill Matte Suite", false},
        {TRANSFORM, COMPOSITE_IN_ORIGINAL, "Could not acquire World Transform Suite", false},
        {WORLD, COMPOSITE_OVER_ORIGINAL, "Could not acquire World Suite", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.suite);
        FailureRig rig;
        rig.host.setParam(PARAM_COMPOSITE, c.composite);
        rig.host.faults.failAcquire[c.suite] = 0;
        EXPECT_EQ(rig.render(), 516);
        EXPECT_STREQ(rig.host.out.message, c.message);
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
        EXPECT_TRUE(c.prepared ? rig.outputIsZero() : rig.untouched());
    }
}

// A host image call that fails: its error is returned after every suite is
// released, with no image left behind.
TEST(RenderFailure, ImageCallErrorsAreReturnedAfterTheRelease) {
    struct Case { minihost::FaultCountdown minihost::Faults::*fault; int32_t composite; int32_t error; };
    const Case cases[] = {
        {&minihost::Faults::imageFill, COMPOSITE_OVER_ORIGINAL, 61},
        {&minihost::Faults::imageCopy, COMPOSITE_IN_ORIGINAL_ALPHA_ONLY, 62},
        {&minihost::Faults::newImage, COMPOSITE_OVER_ORIGINAL, 44},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.error);
        FailureRig rig;
        rig.host.setParam(PARAM_COMPOSITE, c.composite);
        (rig.host.faults.*c.fault).arm(1, c.error);
        EXPECT_EQ(rig.render(), c.error);
        EXPECT_TRUE(rig.host.suitesBalanced());
        EXPECT_EQ(rig.host.liveImages(), 0);
        // Without its scratch image the render leaves the prepared output.
        if (c.error == 44) {
            EXPECT_TRUE(rig.outputIsZero());
        }
    }
}

// A basic suite table that takes itself away while the effect holds one
// suite, so that suite's release finds no table and fails.
const HostBasicSuite *g_realSuites = nullptr;
HostInData *g_in = nullptr;
std::string g_vanishAfter;
const void *g_realSuite = nullptr;

int32_t vanishingFill(HostEffectRef ref, const HostPixel8 *c, const HostRect *r, HostWorld *w) {
    g_in->basicSuite = nullptr;
    return static_cast<const HostFillMatteSuite *>(g_realSuite)->fill(ref, c, r, w);
}
int32_t vanishingCopy(HostEffectRef ref, HostWorld *s, HostWorld *d, const HostRect *a, const HostRect *b) {
    g_in->basicSuite = nullptr;
    return static_cast<const HostWorldTransformSuite *>(g_realSuite)->copy(ref, s, d, a, b);
}
int32_t vanishingNewWorld(HostEffectRef ref, int32_t w, int32_t h, int32_t f, HostWorld *out) {
    g_in->basicSuite = nullptr;
    return static_cast<const HostWorldSuite *>(g_realSuite)->newWorld(ref, w, h, f, out);
}
const HostFillMatteSuite g_fill{vanishingFill};
const HostWorldTransformSuite g_copy{nullptr, nullptr, nullptr, vanishingCopy};
const HostWorldSuite g_world{vanishingNewWorld};

int32_t vanishingAcquire(const char *name, int32_t version, const void **suite) {
    const int32_t r = g_realSuites->acquireSuite(name, version, suite);
    if (*suite && g_vanishAfter == name) {
        g_realSuite = *suite;
        if (g_vanishAfter == FILL) *suite = &g_fill;
        if (g_vanishAfter == TRANSFORM) *suite = &g_copy;
        if (g_vanishAfter == WORLD) *suite = &g_world;
    }
    return r;
}
int32_t forwardRelease(const char *name, int32_t version) { return g_realSuites->releaseSuite(name, version); }
const HostBasicSuite g_vanishing{vanishingAcquire, forwardRelease};

void vanishAfter(Rig &rig, const char *suite) {
    g_realSuites = rig.host.in.basicSuite;
    g_in = &rig.host.in;
    g_vanishAfter = suite;
    rig.host.in.basicSuite = &g_vanishing;
}

TEST(RenderFailure, ReleaseFailureReturnsItsErrorWithThePreparedOutput) {
    // layerCopied: the mode prepares the output as the layer's copy.
    struct Case { const char *suite; int32_t composite; const char *message; bool layerCopied; };
    const Case cases[] = {
        {FILL, COMPOSITE_OVER_ORIGINAL, "Could not release Fill Matte Suite", false},
        {TRANSFORM, COMPOSITE_IN_ORIGINAL, "Could not release World Transform Suite", true},
        {WORLD, COMPOSITE_OVER_ORIGINAL, "Could not release World Suite", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.suite);
        FailureRig rig;
        rig.host.setParam(PARAM_COMPOSITE, c.composite);
        vanishAfter(rig, c.suite);
        EXPECT_EQ(rig.render(), 516);
        rig.host.in.basicSuite = g_realSuites;
        EXPECT_STREQ(rig.host.out.message, c.message);
        EXPECT_TRUE(c.layerCopied ? rig.output.samePixels(rig.layer) : rig.outputIsZero());
        EXPECT_EQ(rig.host.liveImages(), 0);  // a scratch image made is disposed
        EXPECT_TRUE(rig.host.progressCalls().empty());
    }
}

TEST(RenderFailure, NoSequenceDataAfterSetUp) {
    FailureRig rig;
    ASSERT_EQ(rig.send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    ASSERT_EQ(rig.host.in.sequenceData, nullptr);
    rig.host.faults.newHandle.arm(1, 0, true);
    EXPECT_EQ(rig.render(), 4);
    rig.host.faults.newHandle.disarm();
    EXPECT_EQ(rig.host.in.sequenceData, nullptr);
    EXPECT_TRUE(rig.outputIsZero());  // prepared, not composited
    // Without the fault the render makes itself a drawing and composites.
    EXPECT_EQ(rig.render(), 0);
    EXPECT_NE(rig.host.in.sequenceData, nullptr);
    EXPECT_TRUE(rig.output.samePixels(rig.layer));
}

TEST(RenderFailure, UnreadableFlattenedBlockGivesZeroAndThePreparedOutput) {
    FailureRig rig;
    ASSERT_EQ(rig.send(HOST_CMD_SEQUENCE_SETDOWN), 0);
    // A flattened block of a version no reader knows.
    HostHandle block = minihost::newHandle(sizeof(FlatDrawingHeader));
    auto *header = static_cast<FlatDrawingHeader *>(minihost::lockHandle(block));
    std::memset(header, 0, sizeof *header);
    header->layout.formatVersion = 999;
    header->layout.byteOrderMark = BYTE_ORDER_MARK;
    header->layout.flatHeaderSize = FLAT_HEADER_SIZE;
    header->layout.strokeRecordSize = FLAT_STROKE_RECORD_SIZE;
    header->layout.pointRecordSize = POINT_RECORD_SIZE;
    // Locked, as the sequence data is between commands.
    rig.host.in.sequenceData = block;
    EXPECT_EQ(rig.render(), 0);
    EXPECT_EQ(rig.host.in.sequenceData, nullptr);
    EXPECT_TRUE(rig.outputIsZero());
}

TEST(RenderFailure, DrawOrderOutOfMemory) {
    FailureRig rig;
    rig.host.faults.newHandle.arm(1);
    EXPECT_EQ(rig.render(), 4);
    EXPECT_TRUE(rig.outputIsZero());
    EXPECT_FALSE(rig.orderValid());
}

TEST(RenderFailure, DrawOrderBuildStoppedByProgress) {
    FailureRig rig;
    rig.setStrokes(manyStrokes(300));
    rig.host.stopProgressAt(1, 9);
    EXPECT_EQ(rig.render(), 9);
    ASSERT_EQ(rig.host.progressCalls().size(), 1u);
    EXPECT_EQ(rig.host.progressCalls()[0].current, 256);
    EXPECT_FALSE(rig.orderValid());
    EXPECT_TRUE(rig.outputIsZero());
    EXPECT_EQ(rig.host.suiteCounts()[WORLD].acquired, 0);
}

TEST(RenderFailure, PlaybackModeCheckoutFailure) {
    FailureRig rig;
    rig.host.faults.checkoutIndex = PARAM_PLAYBACK_MODE;
    rig.host.faults.checkout.arm(1, 33);
    EXPECT_EQ(rig.render(), 33);
    EXPECT_TRUE(rig.outputIsZero());
    EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
    // Selection ran regardless: every stroke has its draw count.
    for (const PaintStroke &s : rig.strokes()) EXPECT_EQ(s.info.drawCount, 1);
}

TEST(RenderFailure, ProgressStopLeavesPartlyPaintedOutput) {
    FailureRig rig;
    rig.host.stopProgressAt(1, 3);
    EXPECT_EQ(rig.render(), 3);
    EXPECT_EQ(rig.host.progressCalls().size(), 1u);
    EXPECT_EQ(rig.host.liveImages(), 0);
    EXPECT_FALSE(rig.composited());
    EXPECT_FALSE(rig.outputIsZero());  // the first stroke is there
}

TEST(RenderFailure, ScratchDisposalFailure) {
    FailureRig rig;
    rig.host.faults.disposeImage.arm(1, 55);
    EXPECT_EQ(rig.render(), 55);
    EXPECT_EQ(rig.host.progressCalls().size(), 2u);
    EXPECT_FALSE(rig.composited());
    EXPECT_FALSE(rig.outputIsZero());
    rig.host.faults.disposeImage.disarm();
}

TEST(RenderFailure, HandlesBalancedOnEveryPath) {
    // After each failing render every handle the render locked is unlocked.
    for (int path = 0; path < 6; ++path) {
        FailureRig rig;
        switch (path) {
            case 0: rig.host.faults.newImage.arm(1, 44); break;
            case 1: rig.host.faults.newImageShallow = true; break;
            case 2: rig.host.stopProgressAt(1, 3); break;
            case 3: rig.host.faults.disposeImage.arm(1, 55); break;
            case 4: rig.host.faults.failAcquire[WORLD] = 0; break;
            case 5: break;
        }
        const uint64_t lockedBefore = minihost::handleStats().locked;
        rig.render();
        EXPECT_EQ(minihost::handleStats().locked, lockedBefore) << "path " << path;
    }
}

// ---- the values the render reads from the host

// The check-outs of one parameter made by the last render, as (time, time
// step) pairs.
std::vector<std::pair<int32_t, int32_t>> checkoutsOf(const minihost::TestHost &host, int32_t index) {
    std::vector<std::pair<int32_t, int32_t>> list;
    for (const minihost::CheckoutRecord &c : host.checkouts())
        if (c.index == index) list.emplace_back(c.time, c.timeStep);
    return list;
}

// The speed and the wiggle rate are read at every frame time from 0 (time
// step 0, the layer's time scale); the mode twice at the current time.
TEST(RenderValues, ControlsAreCheckedOutAtEveryFrameTimeFromZero) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_PAST);
    rig.host.setKeyframes(PARAM_PLAYBACK_SPEED, {{0, 1.0}, {2, 3.0}});
    rig.host.setParam(PARAM_WIGGLE_ENABLE, 1);
    rig.setStrokes({dotStroke(1, 0.0f, 0.5f, 0.5f)});
    rig.setFrame(3, 24);
    ASSERT_EQ(rig.render(), 0);
    using Times = std::vector<std::pair<int32_t, int32_t>>;
    EXPECT_EQ(checkoutsOf(rig.host, PARAM_PLAYBACK_MODE), (Times{{3, 1}, {3, 1}}));
    // The partial last frame first (empty here), then the whole frames.
    EXPECT_EQ(checkoutsOf(rig.host, PARAM_PLAYBACK_SPEED), (Times{{3, 0}, {0, 0}, {1, 0}, {2, 0}}));
    EXPECT_EQ(checkoutsOf(rig.host, PARAM_WIGGLES_PER_SEC), (Times{{0, 0}, {1, 0}, {2, 0}, {3, 0}}));
    for (const minihost::CheckoutRecord &c : rig.host.checkouts()) EXPECT_EQ(c.timeScale, 24u);

    // An unanimated speed is read once, at time 0.
    rig.host.setParam(PARAM_PLAYBACK_SPEED, 2.0);
    rig.host.forgetHistory();
    ASSERT_EQ(rig.render(), 0);
    EXPECT_EQ(checkoutsOf(rig.host, PARAM_PLAYBACK_SPEED), (Times{{0, 0}}));
}

// Without the param utils suite the speed counts as animated, which is right
// either way; a failed wiggle-rate check-out uses the value at the current
// time. Neither changes the frame when the controls are constant.
TEST(RenderValues, FallbacksGiveTheSameFrame) {
    auto frame = [](bool failing) {
        Rig rig;
        rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ANIMATE);
        rig.host.setParam(PARAM_PLAYBACK_SPEED, 0.5);
        rig.host.setParam(PARAM_WIGGLE_ENABLE, 1);
        rig.setStrokes({dotStroke(1, 0.0f, 0.3f, 0.5f, 1, 1, 1, 8)});
        rig.setFrame(9, 24);
        if (failing) {
            rig.host.faults.failAcquire[HOST_PARAM_UTILS_SUITE] = 0;
            rig.host.faults.checkoutIndex = PARAM_WIGGLES_PER_SEC;
            rig.host.faults.checkout.arm(1, 5, true);
        }
        EXPECT_EQ(rig.render(), 0);
        EXPECT_EQ(rig.message(), failing ? "Could not acquire param utils suite" : "");
        EXPECT_EQ(checkoutsOf(rig.host, PARAM_PLAYBACK_SPEED).size(), failing ? 10u : 1u);
        return rig.output.packedPixels();
    };
    EXPECT_EQ(frame(true), frame(false));
}

// A host that gives no pixel address: nothing reaches the output beyond its
// preparation, and nothing fails.
TEST(RenderValues, NoPixelAddressLeavesThePreparedOutput) {
    FailureRig rig;
    rig.host.faults.pixelAddress.arm(1, 0, true);
    EXPECT_EQ(rig.render(), 0);
    EXPECT_TRUE(rig.outputIsZero());
}

// A host handing a layer and an output of different sizes: the strokes and
// the composite reach only the pixels both images have (under the
// sanitizers a read or write past either image fails the test), and those
// are the pixels of the same render with images of one size.
TEST(RenderImages, LayerAndOutputOfDifferentSizes) {
    const int32_t w = 23, h = 17;
    const int32_t sizes[][2] = {{w + 5, h}, {w - 6, h}, {w, h + 4}, {w, h - 5}, {w - 3, h + 3}, {w + 4, h - 4}};
    for (bool deep : {false, true}) {
        for (int mode : {COMPOSITE_OVER_ORIGINAL, COMPOSITE_UNDER_ORIGINAL, COMPOSITE_AS_MATTE}) {
            auto render = [&](int32_t ow, int32_t oh) {
                Rig rig(w, h, deep);
                rig.output = minihost::Image(ow, oh, deep, 4);
                rig.host.setParam(PARAM_COMPOSITE, mode);
                TestStroke line = dotStroke(1, 0.0f, -0.1f, 0.1f, 1.0f, 0.5f, 0.25f, 2);
                line.points[1].x = 1.2f;
                line.points[1].y = 1.1f;
                line.brush.size = 6.0f;
                rig.setStrokes({line, dotStroke(2, 0.0f, 0.9f, 0.9f)});
                EXPECT_EQ(rig.render(), 0);
                EXPECT_TRUE(rig.output.paddingIntact());
                return rig.output;
            };
            const minihost::Image same = render(w, h);
            for (const auto &size : sizes) {
                SCOPED_TRACE(::testing::Message() << "mode " << mode << " output " << size[0] << "x" << size[1]
                                                  << (deep ? " 16 bit" : " 8 bit"));
                const minihost::Image got = render(size[0], size[1]);
                for (int32_t y = 0; y < size[1]; ++y)
                    for (int32_t x = 0; x < size[0]; ++x) {
                        const bool both = x < w && y < h;
                        if (deep) {
                            const HostPixel16 p = got.pixel16(x, y), q = both ? same.pixel16(x, y) : HostPixel16{};
                            ASSERT_EQ(0, std::memcmp(&p, &q, sizeof p)) << x << "," << y;
                        } else {
                            const HostPixel8 p = got.pixel8(x, y), q = both ? same.pixel8(x, y) : HostPixel8{};
                            ASSERT_EQ(0, std::memcmp(&p, &q, sizeof p)) << x << "," << y;
                        }
                    }
            }
        }
    }
}

// The effect's threads: none unless the host asks at global set-up (a
// variable left in the environment does not ask for a host that does
// not); asked, they live from global set-up to global set-down, and the
// frame is the same.
TEST(RenderThreads, NoThreadUnlessTheHostAsks) {
#ifdef __linux__
    auto threadsNow = [] {
        size_t n = 0;
        for (const auto &entry : std::filesystem::directory_iterator("/proc/self/task")) n += entry.exists();
        return n;
    };
    setenv(minihost::Host::effectThreadsVariable, "4", 1);
    const size_t before = threadsNow();
    std::vector<uint8_t> frames[2];
    for (int asked : {0, 3}) {
        {
            Rig rig(64, 48, false, false);
            rig.host.threads = asked;
            for (int32_t command : {HOST_CMD_GLOBAL_SETUP, HOST_CMD_PARAMS_SETUP, HOST_CMD_SEQUENCE_SETUP})
                ASSERT_EQ(rig.send(command), 0);
            EXPECT_EQ(threadsNow(), before + size_t(asked));
            rig.host.setParam(PARAM_COMPOSITE, COMPOSITE_OVER_ORIGINAL);
            TestStroke line = dotStroke(1, 0.0f, 0.1f, 0.1f, 1.0f, 0.5f, 0.25f, 2);
            line.points[1].x = 0.9f;
            line.points[1].y = 0.8f;
            line.brush.size = 5.0f;
            rig.setStrokes({line, dotStroke(2, 0.0f, 0.5f, 0.5f)});
            ASSERT_EQ(rig.render(), 0);
            EXPECT_EQ(threadsNow(), before + size_t(asked));
            frames[asked != 0] = rig.output.packedPixels();
        }
        EXPECT_EQ(threadsNow(), before);
    }
    EXPECT_EQ(std::string(std::getenv(minihost::Host::effectThreadsVariable)), "4");
    unsetenv(minihost::Host::effectThreadsVariable);
    EXPECT_EQ(frames[0], frames[1]);
#else
    GTEST_SKIP() << "counts the process's threads in /proc";
#endif
}

}  // namespace
}  // namespace host_test
