// The whole render path, from a saved block to the composited frame, when
// the host runs out of memory at every possible allocation, and with the
// host moving every unlocked block on each lock: same pixels, no leaks.
#include <gtest/gtest.h>

#include "catalog/params.h"
#include "rig.h"

namespace host_test {
namespace {

using namespace pennaro;

struct Scene {
    int32_t playbackMode;
    bool wiggle;
};

std::vector<TestStroke> sceneStrokes(int count) {
    std::vector<TestStroke> list;
    for (int i = 0; i < count; ++i) {
        TestStroke s = dotStroke(10 - i, 0.05f * float(i), 0.2f + 0.2f * float(i), 0.5f, 0.2f * float(i), 0.4f, 0.9f, 6);
        for (size_t p = 0; p < s.points.size(); ++p) s.points[p].y = 0.2f + 0.1f * float(p);
        s.brush.brushMode = BRUSH_KIND_ROUND + uint32_t(i % 3);
        s.brush.opacity = 0.7f;
        list.push_back(s);
    }
    return list;
}

// With `grown`, the drawing was rendered once and has gained a stroke since,
// so the render resizes its draw order instead of making it.
void prepare(Rig &rig, const Scene &scene, bool grown = false) {
    rig.host.setParam(PARAM_PLAYBACK_MODE, scene.playbackMode);
    rig.host.setParam(PARAM_WIGGLE_ENABLE, scene.wiggle ? 1 : 0);
    rig.host.setParam(PARAM_COMPOSITE, COMPOSITE_OVER_ORIGINAL);
    rig.setStrokes(sceneStrokes(4));
    rig.setFrame(3, 24);
    if (grown) {
        ASSERT_EQ(rig.render(), 0);
        rig.setStrokes(sceneStrokes(5));
        return;
    }
    // As after a project is opened: the drawing is still the saved block.
    ASSERT_EQ(rig.send(HOST_CMD_SEQUENCE_FLATTEN), 0);
}

std::vector<uint8_t> referenceFrame(const Scene &scene, bool grown) {
    Rig rig(40, 30, false);
    prepare(rig, scene, grown);
    EXPECT_EQ(rig.render(), 0);
    return rig.output.packedPixels();
}

void sweep(const Scene &scene, bool resizes) {
    const std::vector<uint8_t> expected = referenceFrame(scene, resizes);
    minihost::setStrictHandles(true);
    const uint64_t liveBefore = minihost::handleStats().live;
    bool finished = false;
    int failures = 0;
    for (int32_t n = 1; n < 500 && !finished; ++n) {
        {
            Rig rig(40, 30, false);
            prepare(rig, scene, resizes);
            minihost::FaultCountdown &fault = resizes ? rig.host.faults.resizeHandle : rig.host.faults.newHandle;
            fault.arm(n);
            const int32_t result = rig.render();
            finished = fault.callsSinceArmed() < n;
            fault.disarm();
            if (finished) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(rig.output.packedPixels(), expected) << "strict handles changed the frame";
            } else {
                ++failures;
                EXPECT_TRUE(result == 0 || result == 4) << "allocation " << n << " gave " << result;
            }
            EXPECT_EQ(rig.host.liveImages(), 0);
            EXPECT_TRUE(rig.host.suitesBalanced());
            EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
            // Whatever failed, the next frame renders.
            EXPECT_EQ(rig.render(), 0) << "after allocation " << n;
        }
        ASSERT_EQ(minihost::handleStats().live, liveBefore) << "leak after failing allocation " << n;
    }
    minihost::setStrictHandles(false);
    EXPECT_TRUE(finished);
    EXPECT_GT(failures, 0) << "the sweep never reached an allocation";
}

TEST(RenderMemory, EveryAllocationFailingOnceStillLeavesNoHandleBehind) {
    sweep({PLAYBACK_ALL, true}, false);
    sweep({PLAYBACK_ONION_SKIN, false}, false);
    sweep({PLAYBACK_ANIMATE, true}, false);
}

TEST(RenderMemory, EveryResizeFailingOnce) { sweep({PLAYBACK_ALL, true}, true); }

}  // namespace
}  // namespace host_test
