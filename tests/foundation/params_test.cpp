// The thirteen parameter definitions as the host receives them.
#include "fixture.h"
#include "params/param_ids.h"

namespace {

using pennaro_test::LoadedEffect;

struct Expected {
    int32_t id;
    int32_t type;
    const char *name;
    int32_t flags;
};

const Expected EXPECTED[13] = {
    {1, 9, "Brush Settings (not available)", 0},
    {2, 7, "Playback Mode", 64},
    {3, 2, "Playback Speed", 32},
    {6, 13, "Wiggle Control", 32},
    {7, 4, "", 32},
    {8, 2, "Wiggles/sec", 32},
    {9, 2, "Displacement Variation", 32},
    {10, 2, "Displacement Detail", 32},
    {11, 2, "Pressure Variation", 32},
    {12, 2, "Pressure Detail", 32},
    {13, 4, "", 32},
    {14, 14, "", 32},
    {5, 7, "Composite Paint", 0},
};

struct Slider {
    int32_t index;
    uint32_t dephault, validMin, validMax, sliderMin, sliderMax;
    int16_t precision;
};

const Slider SLIDERS[] = {
    {3, 0x10000, 0xFF9C0000, 0x640000, 0x3333, 0x50000, 2},
    {6, 0x1E0000, 0xFF9C0000, 0x640000, 0, 0x1E0000, 2},
    {7, 0x50000, 0x8AD00000, 0x75300000, 0, 0x640000, 2},
    {8, 0x640000, 0, 0x3E80000, 0, 0x640000, 1},
    {9, 0x460000, 0x8AD00000, 0x75300000, 0, 0x640000, 2},
    {10, 0x320000, 0, 0x3E80000, 0, 0x640000, 1},
};

// Every byte of the value area beyond `used` is zero.
void expectZeroTail(const HostParam &p, size_t used) {
    const auto *bytes = reinterpret_cast<const uint8_t *>(&p.u);
    for (size_t i = used; i < sizeof p.u; ++i) ASSERT_EQ(bytes[i], 0) << "byte " << i << " of " << p.name;
}

TEST_F(LoadedEffect, ParameterSetUpDeclaresAllThirteenDefinitionsExactly) {
    setUpGlobals();
    ASSERT_EQ(send(HOST_CMD_PARAMS_SETUP), 0);
    EXPECT_EQ(host.out.paramCount, 14);
    const auto &defs = host.definitions();
    ASSERT_EQ(defs.size(), 13u);
    for (int32_t index : host.addParamIndices()) EXPECT_EQ(index, -1);

    for (size_t i = 0; i < 13; ++i) {
        const HostParam &p = defs[i];
        SCOPED_TRACE("index " + std::to_string(i + 1));
        EXPECT_EQ(p.id, EXPECTED[i].id);
        EXPECT_EQ(p.paramType, EXPECTED[i].type);
        EXPECT_STREQ(p.name, EXPECTED[i].name);
        EXPECT_EQ(p.flags, EXPECTED[i].flags);
        EXPECT_EQ(p.reserved, 0u);
        if (i == 0) {
            EXPECT_EQ(p.uiFlags, 2);
            EXPECT_EQ(p.uiWidth, 260);
            EXPECT_EQ(p.uiHeight, 74);
        } else {
            EXPECT_EQ(p.uiFlags, 0);
            EXPECT_EQ(p.uiWidth, 0);
            EXPECT_EQ(p.uiHeight, 0);
        }
        // The name field is zero after the text.
        for (size_t c = std::strlen(p.name); c < sizeof p.name; ++c) ASSERT_EQ(p.name[c], 0);
        if (p.paramType == 9 || p.paramType == 13 || p.paramType == 14) expectZeroTail(p, 0);
    }

    const HostParam &mode = defs[pennaro::PARAM_PLAYBACK_MODE - 1];
    EXPECT_EQ(mode.u.popup.value, 5);
    EXPECT_EQ(mode.u.popup.numChoices, 6);
    EXPECT_EQ(mode.u.popup.dephault, 5);
    EXPECT_STREQ(mode.u.popup.choices, "All Strokes|Past Strokes|Hold Strokes|Animate Strokes|Current Frame|Onion Skin");
    expectZeroTail(mode, sizeof(HostPopupDef));

    const HostParam &composite = defs[pennaro::PARAM_COMPOSITE - 1];
    EXPECT_EQ(composite.u.popup.value, 2);
    EXPECT_EQ(composite.u.popup.numChoices, 14);
    EXPECT_EQ(composite.u.popup.dephault, 2);
    EXPECT_STREQ(composite.u.popup.choices,
                 "Only|In Original|(-|Over Original|Under Original|(-|Track Original Matte|Track Original Matte "
                 "Visible|(-|As Matte|As Inverse Matte|(-|In Original Alpha Only|Under Original Alpha Only");

    const HostParam &wiggle = defs[pennaro::PARAM_WIGGLE_ENABLE - 1];
    EXPECT_EQ(wiggle.u.checkbox.value, 0);
    EXPECT_EQ(wiggle.u.checkbox.dephault, 0);
    EXPECT_EQ(wiggle.u.checkbox.reserved, 0);
    EXPECT_EQ(wiggle.u.checkbox.reserved1, 0);
    EXPECT_STREQ(wiggle.u.checkbox.label, "Enable Wiggling");
    const HostParam &seeds = defs[pennaro::PARAM_INDIVIDUAL_SEEDS - 1];
    EXPECT_EQ(seeds.u.checkbox.value, 1);
    EXPECT_EQ(seeds.u.checkbox.dephault, 1);
    EXPECT_STREQ(seeds.u.checkbox.label, "Individual Stroke Seeds");
    expectZeroTail(seeds, sizeof(HostCheckboxDef));

    for (const Slider &s : SLIDERS) {
        const HostParam &p = defs[size_t(s.index - 1)];
        SCOPED_TRACE(p.name);
        EXPECT_EQ(uint32_t(p.u.slider.value), s.dephault);
        EXPECT_EQ(uint32_t(p.u.slider.dephault), s.dephault);
        EXPECT_EQ(uint32_t(p.u.slider.validMin), s.validMin);
        EXPECT_EQ(uint32_t(p.u.slider.validMax), s.validMax);
        EXPECT_EQ(uint32_t(p.u.slider.sliderMin), s.sliderMin);
        EXPECT_EQ(uint32_t(p.u.slider.sliderMax), s.sliderMax);
        EXPECT_EQ(p.u.slider.precision, s.precision);
        EXPECT_EQ(p.u.slider.displayFlags, 0);
        EXPECT_EQ(p.u.slider.valueText[0], 0);
        EXPECT_EQ(p.u.slider.valueDesc[0], 0);
        expectZeroTail(p, sizeof(HostSliderDef));
    }

    ASSERT_TRUE(host.customUIRegistered());
    EXPECT_EQ(host.customUI().reserved, 0u);
    EXPECT_EQ(host.customUI().eventMask, 5u);
    for (uint32_t word : host.customUI().reserved2) EXPECT_EQ(word, 0u);

    // A new instance shows the initial values.
    EXPECT_EQ(host.paramValueAt(pennaro::PARAM_PLAYBACK_MODE, 0), pennaro::PLAYBACK_CURRENT_FRAME);
    EXPECT_EQ(host.paramValueAt(pennaro::PARAM_COMPOSITE, 0), pennaro::COMPOSITE_IN_ORIGINAL);
    EXPECT_EQ(host.paramValueAt(pennaro::PARAM_PLAYBACK_SPEED, 0), 0x10000);

    // Asked again, the effect declares the same list.
    std::vector<HostParam> first = defs;
    ASSERT_EQ(send(HOST_CMD_PARAMS_SETUP), 0);
    ASSERT_EQ(host.definitions().size(), 13u);
    for (size_t i = 0; i < 13; ++i) EXPECT_EQ(std::memcmp(&first[i], &host.definitions()[i], sizeof(HostParam)), 0);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

TEST_F(LoadedEffect, AddParameterFailureEndsSetUpAtOnce) {
    setUpGlobals();
    // The failure passes through the common frame, which still relocks
    // the sequence data.
    HostHandle sequence = minihost::newHandle(8);
    minihost::lockHandle(sequence);
    host.in.sequenceData = sequence;
    host.faults.addParam.arm(3, 1234);
    EXPECT_EQ(send(HOST_CMD_PARAMS_SETUP), 1234);
    EXPECT_EQ(host.definitions().size(), 2u);
    EXPECT_EQ(host.out.paramCount, 0);
    EXPECT_FALSE(host.customUIRegistered());
    EXPECT_STREQ(host.out.message, "");
    EXPECT_EQ(host.out.sequenceData, sequence);
    EXPECT_EQ(minihost::handleInfo(sequence).lockCount, 1);
    minihost::unlockHandle(sequence);
    minihost::disposeHandle(sequence);
    host.in.sequenceData = nullptr;
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

TEST_F(LoadedEffect, ControlAreaRegistrationResultComesBackAfterTheCountIsSet) {
    setUpGlobals();
    host.faults.registerUI.arm(1, 77);
    EXPECT_EQ(send(HOST_CMD_PARAMS_SETUP), 77);
    EXPECT_EQ(host.definitions().size(), 13u);
    EXPECT_EQ(host.out.paramCount, 14);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

}  // namespace
