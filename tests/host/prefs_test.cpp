// Preferences read at global set-up, through the shared library, and the
// validation on its own.
#include <bit>
#include <cstring>

#include "catalog/prefs.h"
#include "rig.h"

namespace {

using host_test::LoadedEffect;

// The global record holds the preferences' defaults, as users find them
// before they set anything (the stylus switch never reaches the record).
void expectDefaults(const pennaro::PaintGlobals &g) {
    EXPECT_EQ(std::vector<int>({g.drawBrushSprite, g.previewQuality, g.showToolbar, g.highResStylus}),
              std::vector<int>({1, 1, 1, 0}));
    const pennaro::OnionSkinPrefs &o = g.onion;
    EXPECT_EQ(std::bit_cast<uint32_t>(o.onionOpacity), 0x3EB3404Fu);
    EXPECT_EQ(o.onionFramesBackward, 2);
    EXPECT_EQ(o.onionFramesForward, 2);
    EXPECT_EQ(std::vector<float>({o.backwardRed, o.backwardGreen, o.backwardBlue}),
              std::vector<float>({1.0f, 0.5f, 0.5f}));
    EXPECT_EQ(std::vector<float>({o.forwardRed, o.forwardGreen, o.forwardBlue}),
              std::vector<float>({0.5f, 1.0f, 0.5f}));
}

TEST_F(LoadedEffect, EmptyStoreGivesTheDefaultsAndReadsEveryKeyInOrder) {
    setUpGlobals();
    expectDefaults(globals());
    // The integers, then the reals.
    const std::vector<std::string> order = {
        "Draw brush sprite",
        "Preview quality",
        "Use high resolution stylus coordinates",
        "Show toolbar in composition window",
        "Onion skin - Frames backward",
        "Onion skin - Frames forward",
        "Onion skin - Opacity",
        "Onion skin - Backward color - Red",
        "Onion skin - Backward color - Green",
        "Onion skin - Backward color - Blue",
        "Onion skin - Forward color - Red",
        "Onion skin - Forward color - Green",
        "Onion skin - Forward color - Blue",
    };
    EXPECT_EQ(host.prefReads(), order);
    EXPECT_TRUE(host.suitesBalanced());
    EXPECT_EQ(host.out.outFlags & 0x100u, 0u);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

TEST_F(LoadedEffect, StoredValuesAreClampedNeverRejected) {
    setInt("Onion skin - Frames backward", 5000);
    setInt("Onion skin - Frames forward", -3);
    setReal("Onion skin - Opacity", 1.7);
    setReal("Onion skin - Backward color - Red", -0.2);
    setReal("Onion skin - Forward color - Blue", 0.25);
    setInt("Draw brush sprite", 7);
    setInt("Preview quality", 0);
    setInt("Use high resolution stylus coordinates", 1);
    setInt("Show toolbar in composition window", -1);
    setUpGlobals();
    const pennaro::PaintGlobals &g = globals();
    EXPECT_EQ(g.onion.onionFramesBackward, 1000);
    EXPECT_EQ(g.onion.onionFramesForward, 0);
    EXPECT_EQ(g.onion.onionOpacity, 1.0f);
    EXPECT_EQ(g.onion.backwardRed, 0.0f);
    EXPECT_EQ(g.onion.forwardBlue, 0.25f);
    EXPECT_EQ(g.drawBrushSprite, 1);
    EXPECT_EQ(g.previewQuality, 0);
    EXPECT_EQ(g.showToolbar, 1);
    // The stylus switch is read but never reaches the global record.
    EXPECT_EQ(g.highResStylus, 0);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

TEST_F(LoadedEffect, RealsAreRoundedToSinglePrecision) {
    setReal("Onion skin - Opacity", 0.1);
    setReal("Onion skin - Forward color - Green", 1.0);
    setUpGlobals();
    EXPECT_EQ(globals().onion.onionOpacity, 0.1f);
    EXPECT_EQ(globals().onion.forwardGreen, 1.0f);
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

// A read that fails, integer or real, gives all defaults even for the values
// read before it; nothing is read after it.
TEST_F(LoadedEffect, AFailingReadGivesAllDefaultsEvenForValuesReadBefore) {
    setInt("Draw brush sprite", 0);
    setInt("Onion skin - Frames forward", 40);
    setReal("Onion skin - Opacity", 0.9);
    for (const char *key : {"Preview quality", "Onion skin - Forward color - Blue"}) {
        SCOPED_TRACE(key);
        host.prefReads().clear();
        host.faults.failPrefReadKey = key;
        setUpGlobals();
        expectDefaults(globals());
        EXPECT_EQ(host.prefReads().back(), key);
        EXPECT_TRUE(host.suitesBalanced());
        EXPECT_EQ(host.out.outFlags & 0x100u, 0u);
        ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
    }
    EXPECT_EQ(host.prefReads().size(), 13u);
}

TEST_F(LoadedEffect, NoStoreOrAFailingStoreGivesDefaultsSilently) {
    setInt("Onion skin - Frames forward", 40);
    host.faults.noPrefStore = true;
    setUpGlobals();
    expectDefaults(globals());
    EXPECT_TRUE(host.prefReads().empty());
    EXPECT_TRUE(host.suitesBalanced());
    EXPECT_STREQ(host.out.message, "");
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);

    host.faults.noPrefStore = false;
    host.faults.prefStoreError = 3;
    setUpGlobals();
    expectDefaults(globals());
    EXPECT_TRUE(host.prefReads().empty());
    ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
}

// No persistent-data suite, or no suite table at all: shown, set-up succeeds
// with the defaults.
TEST_F(LoadedEffect, MissingSuiteIsShownButSetUpSucceeds) {
    setInt("Onion skin - Frames forward", 40);
    for (bool noTable : {false, true}) {
        SCOPED_TRACE(noTable ? "no suite table" : "no persistent-data suite");
        host.faults.noBasicSuite = noTable;
        if (!noTable) host.faults.failAcquire[HOST_PERSISTENT_DATA_SUITE] = 5;
        ASSERT_EQ(send(HOST_CMD_GLOBAL_SETUP), 0);
        host.faults.failAcquire.clear();
        EXPECT_STREQ(host.out.message, "Not able to acquire OVFX Suite.");
        EXPECT_NE(host.out.outFlags & 0x100u, 0u);
        EXPECT_EQ(host.out.outFlags & 0x2208037u, 0x2208037u);
        expectDefaults(globals());
        EXPECT_EQ(host.suiteCounts()[HOST_PERSISTENT_DATA_SUITE].released, 0);
        ASSERT_EQ(send(HOST_CMD_GLOBAL_SETDOWN), 0);
        EXPECT_EQ(minihost::handleStats().live, liveBefore);
    }
}

TEST(PrefsClamp, BoundariesAndSwitches) {
    pennaro::PaintPrefs p = pennaro::defaultPrefs();
    p.onion.onionOpacity = 0.0f;
    p.onion.backwardGreen = -0.0f;
    p.onion.forwardRed = 1.0f;
    p.onion.forwardGreen = 0.999999f;
    p.onion.onionFramesBackward = 1000;
    p.onion.onionFramesForward = 999;
    p.previewQuality = -5;
    pennaro::clampPrefs(p);
    EXPECT_EQ(std::bit_cast<uint32_t>(p.onion.onionOpacity), 0u);
    EXPECT_EQ(std::bit_cast<uint32_t>(p.onion.backwardGreen), 0u);  // no negative zero
    EXPECT_EQ(p.onion.forwardRed, 1.0f);
    EXPECT_EQ(p.onion.forwardGreen, 0.999999f);
    EXPECT_EQ(p.onion.onionFramesBackward, 1000);
    EXPECT_EQ(p.onion.onionFramesForward, 999);
    EXPECT_EQ(p.previewQuality, 1);
}

}  // namespace
