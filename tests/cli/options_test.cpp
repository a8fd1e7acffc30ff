// What `pennaro render` accepts and refuses before the effect sees a value,
// and the preference files it hands to the host.
#include <gtest/gtest.h>

#include "catalog/messages.h"
#include "catalog/params.h"
#include "lib/common.h"
#include "lib/prefs_file.h"
#include "lib/render_frames.h"
#include "lib/render_options.h"
#include "minihost/minihost.h"

using namespace pennaro_cli;

namespace {

// The message of the ToolError `f` throws, or "" when it does not throw.
template <typename F>
std::string refusal(F f) {
    try {
        f();
    } catch (const ToolError &e) {
        return e.what();
    }
    return "";
}

}  // namespace

TEST(RenderOptions, RationalsAndFrameRates) {
    Rational ntsc = parseRational("30000/1001", "--fps");
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001u);
    EXPECT_EQ(parseRational(" 24 ", "--fps").den, 1u);
    EXPECT_EQ(parseRational("-3/2", "--pixel-aspect").num, -3);
    for (const char *bad : {"", "1/0", "1/-2", "abc", "2.5", "1/2/3", "99999999999"})
        EXPECT_NE(refusal([&] { parseRational(bad, "--fps"); }).find("--fps"), std::string::npos) << bad;
}

TEST(RenderOptions, FrameLists) {
    EXPECT_EQ(parseFrameList("7"), (std::vector<int32_t>{7}));
    EXPECT_EQ(parseFrameList("1,5,10-12"), (std::vector<int32_t>{1, 5, 10, 11, 12}));
    EXPECT_EQ(parseFrameList("3-4,2-4"), (std::vector<int32_t>{3, 4, 2}));
    EXPECT_EQ(parseFrameList("-2--1,0"), (std::vector<int32_t>{-2, -1, 0}));
    for (const char *bad : {"", "5-3", "1,,2", "a-b", "1-", "x"})
        EXPECT_FALSE(refusal([&] { parseFrameList(bad); }).empty()) << bad;
}

TEST(RenderOptions, SizesOriginsAndDownsampling) {
    EXPECT_EQ(parseSize("1920x1080"), (std::array<int32_t, 2>{1920, 1080}));
    EXPECT_EQ(parseOrigin("5,-3"), (std::array<int32_t, 2>{5, -3}));
    EXPECT_FALSE(refusal([] { parseSize("0x10"); }).empty());
    EXPECT_FALSE(refusal([] { parseSize("10"); }).empty());
    EXPECT_FALSE(refusal([] { parseOrigin("5"); }).empty());

    auto half = parseDownsample("1/2");
    EXPECT_EQ(half[1].num, 1);
    EXPECT_EQ(half[1].den, 2u);
    auto mixed = parseDownsample("1/2,1/3");
    EXPECT_EQ(mixed[1].den, 3u);
    EXPECT_EQ(scaledExtent(1919, half[0]), 960);  // rounded up
    EXPECT_EQ(scaledExtent(1080, mixed[1]), 360);
    EXPECT_FALSE(refusal([] { parseDownsample("0"); }).empty());
    EXPECT_FALSE(refusal([] { parseDownsample("-1/2"); }).empty());
}

TEST(RenderOptions, PointSamplingTakesTheTopLeftSourcePixel) {
    EffectImage full = makeEffectImage(5, 3, 8);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) full.pixel(x, y)[0] = uint16_t(10 * y + x);
    EffectImage small = pointSample(full, 3, 2, {1, 2}, {1, 2});
    EXPECT_EQ(small.pixel(0, 0)[0], 0);
    EXPECT_EQ(small.pixel(1, 0)[0], 2);
    EXPECT_EQ(small.pixel(2, 1)[0], 24);
}

TEST(RenderOptions, OutputNames) {
    EXPECT_EQ(frameFileName("out/frame_####.png", 7), "out/frame_0007.png");
    EXPECT_EQ(frameFileName("f#.png", 123), "f123.png");
    EXPECT_EQ(frameFileName("f###.png", -4), "f-004.png");
    EXPECT_EQ(frameFileName("still.png", 9), "still.png");
    EXPECT_FALSE(hasFramePlaceholder("still.png"));
}

TEST(RenderOptions, Backgrounds) {
    EXPECT_EQ(parseBackground("transparent").rgba, (std::array<uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(parseBackground("#102030").rgba, (std::array<uint8_t, 4>{16, 32, 48, 255}));
    EXPECT_EQ(parseBackground("#10203040").rgba, (std::array<uint8_t, 4>{16, 32, 48, 64}));
    EXPECT_EQ(parseBackground("White").rgba, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(parseBackground("checker").kind, Background::Checker);
    EXPECT_FALSE(refusal([] { parseBackground("#12345"); }).empty());
    EXPECT_FALSE(refusal([] { parseBackground("mauve"); }).empty());
    // A colour at depth 16 is widened like an 8-bit layer.
    EffectImage deep = backgroundImage(parseBackground("#FF8000"), 1, 1, 16);
    EXPECT_EQ(deep.samples, (std::vector<uint16_t>{32768, 16448, 0, 32768}));
}

TEST(RenderOptions, ParametersByName) {
    using namespace pennaro;
    const ParamInfo *mode = findParam("playback-mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(findParam("playback_mode"), mode);
    EXPECT_EQ(findParam("--playback-mode"), mode);
    EXPECT_EQ(findParam("brush-settings"), nullptr);
    EXPECT_EQ(parseParamValue(*mode, "Past Strokes").stored, PLAYBACK_PAST);
    EXPECT_EQ(parseParamValue(*mode, "animate strokes").stored, PLAYBACK_ANIMATE);
    EXPECT_EQ(parseParamValue(*mode, "2").stored, PLAYBACK_PAST);
    EXPECT_NE(refusal([&] { parseParamValue(*mode, "7"); }).find("\"Onion Skin\""), std::string::npos);
    EXPECT_FALSE(refusal([&] { parseParamValue(*mode, "0"); }).empty());
    EXPECT_FALSE(refusal([&] { parseParamValue(*mode, "Future Strokes"); }).empty());

    const ParamInfo *composite = findParam("composite");
    EXPECT_EQ(parseParamValue(*composite, "Under Original Alpha Only").stored, COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY);
    EXPECT_EQ(parseParamValue(*composite, "10").stored, COMPOSITE_AS_MATTE);
    for (const char *separator : {"3", "6", "9", "12", "(-"})
        EXPECT_FALSE(refusal([&] { parseParamValue(*composite, separator); }).empty()) << separator;

    const ParamInfo *wiggle = findParam("wiggle");
    EXPECT_EQ(parseParamValue(*wiggle, "on").stored, 1);
    EXPECT_EQ(parseParamValue(*wiggle, "0").stored, 0);
    EXPECT_FALSE(refusal([&] { parseParamValue(*wiggle, "maybe"); }).empty());

    const ParamInfo *speed = findParam("playback-speed");
    EXPECT_EQ(parseParamValue(*speed, "2.5").stored, 0x28000);
    EXPECT_EQ(parseParamValue(*speed, "-100").stored, -100 * 65536);
    EXPECT_NE(refusal([&] { parseParamValue(*speed, "100.01"); }).find("valid range"), std::string::npos);
    EXPECT_FALSE(refusal([&] { parseParamValue(*speed, "fast"); }).empty());
    EXPECT_FALSE(refusal([&] { parseParamValue(*findParam("displacement-detail"), "-1"); }).empty());
    EXPECT_EQ(parseParamValue(*findParam("displacement-variation"), "30000").stored, 30000 * 65536);
}

TEST(RenderOptions, SlidersRoundToNearestWithHalvesAwayFromZero) {
    EXPECT_EQ(sliderToFixed(0.5 / 65536), 1);
    EXPECT_EQ(sliderToFixed(-0.5 / 65536), -1);
    EXPECT_EQ(sliderToFixed(0.49 / 65536), 0);
    EXPECT_EQ(sliderToFixed(0.2), 13107);  // 13107.2
    EXPECT_EQ(sliderToFixed(7.5), 0x78000);
}

TEST(RenderOptions, KeyframeFiles) {
    using namespace pennaro;
    ParamSettings settings = defaultParamSettings();
    EXPECT_EQ(settings.tracks[PARAM_PLAYBACK_MODE].constant.stored, PLAYBACK_CURRENT_FRAME);
    EXPECT_EQ(settings.tracks[PARAM_INDIVIDUAL_SEEDS].constant.stored, 1);
    loadParamKeyframes(settings,
                       R"({"playback-speed": [[0, 1.0], [48, 2.5]], "wiggle": [[0, "off"], [30, "on"]],
                           "composite": "Over Original", "individual_seeds": false})",
                       "keys.json");
    const ParamTrack &speed = settings.tracks[PARAM_PLAYBACK_SPEED];
    ASSERT_EQ(speed.keys.size(), 2u);
    EXPECT_EQ(speed.keys[1].first, 48.0);
    EXPECT_EQ(speed.keys[1].second.real, 2.5);
    EXPECT_EQ(settings.tracks[PARAM_WIGGLE_ENABLE].keys[1].second.stored, 1);
    EXPECT_FALSE(settings.tracks[PARAM_COMPOSITE].keyed());
    EXPECT_EQ(settings.tracks[PARAM_COMPOSITE].constant.stored, COMPOSITE_OVER_ORIGINAL);
    EXPECT_EQ(settings.tracks[PARAM_INDIVIDUAL_SEEDS].constant.stored, 0);

    // A parameter given twice, in a file and on the command line, is refused.
    EXPECT_NE(refusal([&] { setParamFromOption(settings, *findParam("wiggle"), "on"); }).find("keys.json"),
              std::string::npos);

    for (const char *bad : {R"([1, 2])", R"({"speed": 1})", R"({"playback-speed": [[0, 1], [0, 2]]})",
                            R"({"playback-speed": [[0, 200]]})", R"({"wiggle": [[0]]})", R"({"wiggle": []})",
                            R"({"playback-mode": [["a", 1]]})", "{oops"}) {
        ParamSettings fresh = defaultParamSettings();
        EXPECT_NE(refusal([&] { loadParamKeyframes(fresh, bad, "bad.json"); }).find("bad.json"), std::string::npos)
            << bad;
    }
}

TEST(PreferenceFiles, KnownKeysWithTheirTypesOrAClearErrorAndNothingStored) {
    minihost::PrefStore store;
    loadPrefsText(store, R"({"Onion skin - Opacity": 0.35, "Onion skin - Frames backward": -4,
                             "Onion skin - Forward color - Red": 1})", "prefs.json");
    const auto *opacity = store.find(pennaro::PLUGIN_NAME, "Onion skin - Opacity");
    ASSERT_NE(opacity, nullptr);
    EXPECT_EQ(opacity->value, 0.35);
    EXPECT_FALSE(opacity->isInteger);
    EXPECT_TRUE(store.find(pennaro::PLUGIN_NAME, "Onion skin - Frames backward")->isInteger);
    EXPECT_FALSE(store.find(pennaro::PLUGIN_NAME, "Onion skin - Forward color - Red")->isInteger);

    auto error = [&](const std::string &json) { return refusal([&] { loadPrefsText(store, json, "prefs.json"); }); };
    std::string e = error(R"({"Onion Skin Opacity": 0.35})");
    EXPECT_NE(e.find("prefs.json: unknown preference \"Onion Skin Opacity\""), std::string::npos) << e;
    EXPECT_NE(e.find("\"Draw brush sprite\" (integer)"), std::string::npos) << e;  // lists the known keys
    e = error(R"({"Preview quality": 0, "Onion skin - Frames forward": 1.5})");
    EXPECT_NE(e.find("\"Onion skin - Frames forward\" must be an integer"), std::string::npos) << e;
    EXPECT_NE(error(R"({"Onion skin - Opacity": "high"})").find("must be a number"), std::string::npos);
    for (const char *big : {R"({"Draw brush sprite": 2147483648})", R"({"Draw brush sprite": -2147483649})"})
        EXPECT_NE(error(big).find("32 bits"), std::string::npos) << big;
    EXPECT_NE(error("[1, 2]"), "");
    EXPECT_NE(error("{"), "");
    // The good key of a rejected file did not land.
    EXPECT_EQ(store.find(pennaro::PLUGIN_NAME, "Preview quality"), nullptr);
    EXPECT_NE(refusal([&] { loadPrefsFile(store, "/nonexistent/prefs.json"); }).find("/nonexistent/prefs.json"),
              std::string::npos);
}
