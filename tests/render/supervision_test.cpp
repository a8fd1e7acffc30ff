// Enabling controls with the playback mode and the wiggle switch, and the
// answer to the host's question whether the output varies with time.
#include <gtest/gtest.h>

#include "params/param_ids.h"
#include "render_fixture.h"

namespace render_test {
namespace {

using namespace pennaro;

constexpr uint32_t TIME_FLAGS = HOST_OUT_FLAG_NONLOCAL_TIME | HOST_OUT_FLAG_WIDE_TIME_INPUT;
const int32_t WIGGLE_CONTROLS[] = {6, 7, 8, 9, 10, 11};

TEST(Supervision, SpeedFollowsThePlaybackModeAndWiggleControlsTheSwitch) {
    for (int32_t command : {HOST_CMD_USER_CHANGED_PARAM, HOST_CMD_UPDATE_PARAMS_UI}) {
        for (int32_t mode = 1; mode <= 6; ++mode) {
            for (int wiggle = 0; wiggle <= 1; ++wiggle) {
                Rig rig;
                rig.host.setParam(PARAM_PLAYBACK_MODE, mode);
                rig.host.setParam(PARAM_WIGGLE_ENABLE, wiggle);
                ASSERT_EQ(rig.send(command), 0);
                const bool speedUsed = mode == 2 || mode == 3 || mode == 4;
                EXPECT_EQ(rig.host.uiFlags(PARAM_PLAYBACK_SPEED), speedUsed ? 0 : 32) << "mode " << mode;
                for (int32_t index : WIGGLE_CONTROLS) EXPECT_EQ(rig.host.uiFlags(index), wiggle ? 0 : 32);
                // Nothing else is touched, and each update carries the
                // host's own record apart from its UI flags.
                ASSERT_EQ(rig.host.uiUpdates().size(), 7u);
                for (const auto &update : rig.host.uiUpdates()) {
                    EXPECT_EQ(update.param.id, rig.host.definitions()[size_t(update.index - 1)].id);
                    EXPECT_EQ(update.param.paramType,
                              rig.host.definitions()[size_t(update.index - 1)].paramType);
                }
                EXPECT_EQ(rig.host.uiUpdates()[0].index, PARAM_PLAYBACK_SPEED);
                EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_REFRESH_UI);
                EXPECT_TRUE(rig.host.suitesBalanced());
            }
        }
    }
}

TEST(Supervision, FailuresStillReturnZero) {
    {
        Rig rig;
        rig.host.faults.failAcquire[HOST_PARAM_UTILS_SUITE] = 0;
        EXPECT_EQ(rig.send(HOST_CMD_UPDATE_PARAMS_UI), 0);
        EXPECT_STREQ(rig.host.out.message, "Failed to acquire suite.");
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
        EXPECT_TRUE(rig.host.uiUpdates().empty());
    }
    {
        // A failed speed update skips the wiggle controls; the suite is
        // still given back.
        Rig rig;
        rig.host.faults.updateParamUI.arm(1, 12);
        EXPECT_EQ(rig.send(HOST_CMD_USER_CHANGED_PARAM), 0);
        EXPECT_TRUE(rig.host.uiUpdates().empty());
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_REFRESH_UI);
        EXPECT_TRUE(rig.host.suitesBalanced());
    }
    {
        // Failed wiggle-control updates are ignored.
        Rig rig;
        rig.host.faults.updateParamUI.arm(2, 12);
        EXPECT_EQ(rig.send(HOST_CMD_USER_CHANGED_PARAM), 0);
        EXPECT_EQ(rig.host.uiUpdates().size(), 6u);
    }
}

TEST(DynamicFlags, TimeDependentWhenStrokesAreReplayedOrWiggled) {
    for (int32_t mode = 1; mode <= 6; ++mode) {
        for (int wiggle = 0; wiggle <= 1; ++wiggle) {
            Rig rig;
            rig.setStrokes({dotStroke(1, 0.0f, 0.5f, 0.5f)});
            rig.host.setParam(PARAM_PLAYBACK_MODE, mode);
            rig.host.setParam(PARAM_WIGGLE_ENABLE, wiggle);
            rig.host.out.outFlags = TIME_FLAGS;
            ASSERT_EQ(rig.host.call(rig.plugin->entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 0);
            const bool varies = mode != 1 || wiggle;
            EXPECT_EQ(rig.host.out.outFlags & TIME_FLAGS, varies ? TIME_FLAGS : 0u)
                << "mode " << mode << " wiggle " << wiggle;
            EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
        }
    }
}

TEST(DynamicFlags, NoStrokesAndCheckoutFailures) {
    Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ANIMATE);
    rig.host.out.outFlags = TIME_FLAGS | HOST_OUT_FLAG_DEEP_COLOR;
    const size_t before = rig.host.checkouts().size();
    ASSERT_EQ(rig.host.call(rig.plugin->entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 0);
    EXPECT_EQ(rig.host.out.outFlags, HOST_OUT_FLAG_DEEP_COLOR);
    EXPECT_EQ(rig.host.checkouts().size(), before);  // nothing checked out

    rig.setStrokes({dotStroke(1, 0.0f, 0.5f, 0.5f)});
    rig.host.faults.checkoutIndex = PARAM_PLAYBACK_MODE;
    rig.host.faults.checkout.arm(1, 21);
    rig.host.out.outFlags = 0;
    EXPECT_EQ(rig.host.call(rig.plugin->entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 21);
    EXPECT_EQ(rig.host.out.outFlags, 0u);

    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.host.faults.checkoutIndex = PARAM_WIGGLE_ENABLE;
    rig.host.faults.checkout.arm(1, 22);
    rig.host.out.outFlags = TIME_FLAGS;
    EXPECT_EQ(rig.host.call(rig.plugin->entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 22);
    EXPECT_EQ(rig.host.out.outFlags, TIME_FLAGS);
    EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
}

}  // namespace
}  // namespace render_test
