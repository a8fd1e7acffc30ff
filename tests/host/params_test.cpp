// The parameters as the host receives them (their values are pinned by the
// golden description of the effect), the controls kept in step with the
// values, and the answer whether the output varies with time.
#include <cstring>

#include "catalog/params.h"
#include "rig.h"

namespace {

using namespace pennaro;

// Every byte of a definition's value area beyond `used` is zero, and so is
// the name field after its text: the host may read whole records.
void expectCleanRecord(const HostParam &p, size_t used) {
    for (size_t c = std::strlen(p.name); c < sizeof p.name; ++c) ASSERT_EQ(p.name[c], 0) << p.name;
    EXPECT_EQ(p.reserved, 0u);
    const auto *bytes = reinterpret_cast<const uint8_t *>(&p.u);
    for (size_t i = used; i < sizeof p.u; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i << " of " << p.name;
}

// What the host is given for indices 1 to 13, written out as a user of
// the host sees it: saved projects depend on every value here.
struct ExpectedParam {
    int32_t id, type;
    uint32_t flags;
    const char *name, *text;  // text: the popup's choices or the checkbox's label
    int32_t defaultValue;     // sliders in 16.16
    int32_t validMin, validMax, sliderMin, sliderMax, precision;
};
constexpr int32_t F = 65536;
constexpr uint32_t C = HOST_PARAM_FLAG_START_COLLAPSED, S = HOST_PARAM_FLAG_SUPERVISE;
const ExpectedParam EXPECTED[13] = {
    {1, HOST_PARAM_TYPE_NO_DATA, 0, "Brush Settings (not available)", nullptr, 0, 0, 0, 0, 0, 0},
    {2, HOST_PARAM_TYPE_POPUP, S, "Playback Mode",
     "All Strokes|Past Strokes|Hold Strokes|Animate Strokes|Current Frame|Onion Skin", 5, 0, 0, 0, 0, 0},
    {3, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Playback Speed", nullptr, F, -100 * F, 100 * F, 13107, 5 * F, 2},
    {6, HOST_PARAM_TYPE_GROUP_START, C, "Wiggle Control", nullptr, 0, 0, 0, 0, 0, 0},
    {7, HOST_PARAM_TYPE_CHECKBOX, C, "", "Enable Wiggling", 0, 0, 0, 0, 0, 0},
    {8, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Wiggles/sec", nullptr, 30 * F, -100 * F, 100 * F, 0, 30 * F, 2},
    {9, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Displacement Variation", nullptr, 5 * F, -30000 * F, 30000 * F, 0, 100 * F, 2},
    {10, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Displacement Detail", nullptr, 100 * F, 0, 1000 * F, 0, 100 * F, 1},
    {11, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Pressure Variation", nullptr, 70 * F, -30000 * F, 30000 * F, 0, 100 * F, 2},
    {12, HOST_PARAM_TYPE_FIXED_SLIDER, C, "Pressure Detail", nullptr, 50 * F, 0, 1000 * F, 0, 100 * F, 1},
    {13, HOST_PARAM_TYPE_CHECKBOX, C, "", "Individual Stroke Seeds", 1, 0, 0, 0, 0, 0},
    {14, HOST_PARAM_TYPE_GROUP_END, C, "", nullptr, 0, 0, 0, 0, 0, 0},
    {5, HOST_PARAM_TYPE_POPUP, 0, "Composite Paint",
     "Only|In Original|(-|Over Original|Under Original|(-|Track Original Matte|Track Original Matte Visible|(-|"
     "As Matte|As Inverse Matte|(-|In Original Alpha Only|Under Original Alpha Only",
     2, 0, 0, 0, 0, 0},
};

TEST(ParamSetUp, DeclaresTheTableInIndexOrderAsWholeCleanRecords) {
    host_test::Rig rig;
    const auto &defs = rig.host.definitions();
    ASSERT_EQ(defs.size(), 13u);
    EXPECT_EQ(rig.host.out.paramCount, PARAM_COUNT);
    for (int32_t index : rig.host.addParamIndices()) EXPECT_EQ(index, -1);
    for (size_t i = 0; i < 13; ++i) {
        const ExpectedParam &e = EXPECTED[i];
        const HostParam &p = defs[i];
        SCOPED_TRACE(e.name);
        EXPECT_EQ(p.id, e.id);
        EXPECT_EQ(p.paramType, e.type);
        EXPECT_EQ(p.flags, e.flags);
        EXPECT_STREQ(p.name, e.name);
        switch (e.type) {
            case HOST_PARAM_TYPE_POPUP:
                EXPECT_STREQ(p.u.popup.choices, e.text);
                EXPECT_EQ(p.u.popup.value, e.defaultValue);
                EXPECT_EQ(p.u.popup.dephault, e.defaultValue);
                expectCleanRecord(p, sizeof(HostPopupDef));
                break;
            case HOST_PARAM_TYPE_CHECKBOX:
                EXPECT_STREQ(p.u.checkbox.label, e.text);
                EXPECT_EQ(p.u.checkbox.value, e.defaultValue);
                EXPECT_EQ(p.u.checkbox.dephault, e.defaultValue);
                EXPECT_EQ(p.u.checkbox.reserved, 0);
                EXPECT_EQ(p.u.checkbox.reserved1, 0);
                expectCleanRecord(p, sizeof(HostCheckboxDef));
                break;
            case HOST_PARAM_TYPE_FIXED_SLIDER: {
                const HostSliderDef &sl = p.u.slider;
                EXPECT_EQ(std::vector<int32_t>({sl.value, sl.dephault, sl.validMin, sl.validMax, sl.sliderMin,
                                                sl.sliderMax, sl.precision}),
                          std::vector<int32_t>({e.defaultValue, e.defaultValue, e.validMin, e.validMax, e.sliderMin,
                                                e.sliderMax, e.precision}));
                EXPECT_EQ(sl.valueText[0], 0);
                EXPECT_EQ(sl.valueDesc[0], 0);
                EXPECT_EQ(sl.displayFlags, 0);
                expectCleanRecord(p, sizeof(HostSliderDef));
                break;
            }
            default:
                expectCleanRecord(p, 0);
        }
        if (e.type != HOST_PARAM_TYPE_NO_DATA) {
            EXPECT_EQ(p.uiFlags | p.uiWidth | p.uiHeight, 0);
        }
    }
    EXPECT_EQ(defs[0].uiWidth, 260);
    EXPECT_EQ(defs[0].uiHeight, 74);
    ASSERT_TRUE(rig.host.customUIRegistered());
    EXPECT_EQ(rig.host.customUI().reserved, 0u);
    EXPECT_EQ(rig.host.customUI().eventMask, 5u);
    for (uint32_t word : rig.host.customUI().reserved2) EXPECT_EQ(word, 0u);

    // Asked again, the effect declares the very same records.
    const std::vector<HostParam> first = defs;
    ASSERT_EQ(rig.send(HOST_CMD_PARAMS_SETUP), 0);
    ASSERT_EQ(rig.host.definitions().size(), 13u);
    for (size_t i = 0; i < 13; ++i) EXPECT_EQ(std::memcmp(&first[i], &rig.host.definitions()[i], sizeof(HostParam)), 0);
}

TEST(ParamSetUp, AddFailureEndsAtOnceAndRegistrationFailureComesBackAfterTheCount) {
    {
        host_test::Rig rig(8, 8, false, false);
        ASSERT_EQ(rig.send(HOST_CMD_GLOBAL_SETUP), 0);
        ASSERT_EQ(rig.send(HOST_CMD_SEQUENCE_SETUP), 0);
        rig.host.faults.addParam.arm(3, 1234);
        // The failure passes through the common frame, which still relocks
        // the sequence data.
        EXPECT_EQ(rig.send(HOST_CMD_PARAMS_SETUP), 1234);
        EXPECT_EQ(rig.host.definitions().size(), 2u);
        EXPECT_EQ(rig.host.out.paramCount, 0);
        EXPECT_FALSE(rig.host.customUIRegistered());
        EXPECT_STREQ(rig.host.out.message, "");
        EXPECT_EQ(minihost::handleInfo(rig.host.in.sequenceData).lockCount, 1);
    }
    host_test::Rig rig(8, 8, false, false);
    ASSERT_EQ(rig.send(HOST_CMD_GLOBAL_SETUP), 0);
    rig.host.faults.registerUI.arm(1, 77);
    EXPECT_EQ(rig.send(HOST_CMD_PARAMS_SETUP), 77);
    EXPECT_EQ(rig.host.definitions().size(), 13u);
    EXPECT_EQ(rig.host.out.paramCount, 14);
}

constexpr uint32_t TIME_FLAGS = HOST_OUT_FLAG_NONLOCAL_TIME | HOST_OUT_FLAG_WIDE_TIME_INPUT;
const int32_t WIGGLE_CONTROLS[] = {6, 7, 8, 9, 10, 11};

TEST(Supervision, SpeedFollowsThePlaybackModeAndWiggleControlsTheSwitch) {
    for (int32_t command : {HOST_CMD_USER_CHANGED_PARAM, HOST_CMD_UPDATE_PARAMS_UI}) {
        for (int32_t mode = 1; mode <= 6; ++mode) {
            for (int wiggle = 0; wiggle <= 1; ++wiggle) {
                host_test::Rig rig;
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
        host_test::Rig rig;
        rig.host.faults.failAcquire[HOST_PARAM_UTILS_SUITE] = 0;
        EXPECT_EQ(rig.send(HOST_CMD_UPDATE_PARAMS_UI), 0);
        EXPECT_STREQ(rig.host.out.message, "Failed to acquire suite.");
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_DISPLAY_ERROR);
        EXPECT_TRUE(rig.host.uiUpdates().empty());
    }
    {
        // A failed speed update skips the wiggle controls; the suite is
        // still given back.
        host_test::Rig rig;
        rig.host.faults.updateParamUI.arm(1, 12);
        EXPECT_EQ(rig.send(HOST_CMD_USER_CHANGED_PARAM), 0);
        EXPECT_TRUE(rig.host.uiUpdates().empty());
        EXPECT_TRUE(rig.host.out.outFlags & HOST_OUT_FLAG_REFRESH_UI);
        EXPECT_TRUE(rig.host.suitesBalanced());
    }
    {
        // Failed wiggle-control updates are ignored.
        host_test::Rig rig;
        rig.host.faults.updateParamUI.arm(2, 12);
        EXPECT_EQ(rig.send(HOST_CMD_USER_CHANGED_PARAM), 0);
        EXPECT_EQ(rig.host.uiUpdates().size(), 6u);
    }
}

TEST(DynamicFlags, TimeDependentWhenStrokesAreReplayedOrWiggled) {
    for (int32_t mode = 1; mode <= 6; ++mode) {
        for (int wiggle = 0; wiggle <= 1; ++wiggle) {
            host_test::Rig rig;
            rig.setStrokes({host_test::dotStroke(1, 0.0f, 0.5f, 0.5f)});
            rig.host.setParam(PARAM_PLAYBACK_MODE, mode);
            rig.host.setParam(PARAM_WIGGLE_ENABLE, wiggle);
            rig.host.out.outFlags = TIME_FLAGS;
            ASSERT_EQ(rig.host.call(rig.plugin.entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 0);
            const bool varies = mode != 1 || wiggle;
            EXPECT_EQ(rig.host.out.outFlags & TIME_FLAGS, varies ? TIME_FLAGS : 0u)
                << "mode " << mode << " wiggle " << wiggle;
            EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
        }
    }
}

TEST(DynamicFlags, NoStrokesAndCheckoutFailures) {
    host_test::Rig rig;
    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ANIMATE);
    rig.host.out.outFlags = TIME_FLAGS | HOST_OUT_FLAG_DEEP_COLOR;
    const size_t before = rig.host.checkouts().size();
    ASSERT_EQ(rig.host.call(rig.plugin.entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 0);
    EXPECT_EQ(rig.host.out.outFlags, HOST_OUT_FLAG_DEEP_COLOR);
    EXPECT_EQ(rig.host.checkouts().size(), before);  // nothing checked out

    rig.setStrokes({host_test::dotStroke(1, 0.0f, 0.5f, 0.5f)});
    rig.host.faults.checkoutIndex = PARAM_PLAYBACK_MODE;
    rig.host.faults.checkout.arm(1, 21);
    rig.host.out.outFlags = 0;
    EXPECT_EQ(rig.host.call(rig.plugin.entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 21);
    EXPECT_EQ(rig.host.out.outFlags, 0u);

    rig.host.setParam(PARAM_PLAYBACK_MODE, PLAYBACK_ALL);
    rig.host.faults.checkoutIndex = PARAM_WIGGLE_ENABLE;
    rig.host.faults.checkout.arm(1, 22);
    rig.host.out.outFlags = TIME_FLAGS;
    EXPECT_EQ(rig.host.call(rig.plugin.entry(), HOST_CMD_QUERY_DYNAMIC_FLAGS), 22);
    EXPECT_EQ(rig.host.out.outFlags, TIME_FLAGS);
    EXPECT_EQ(rig.host.outstandingCheckouts(), 0);
}

}  // namespace
