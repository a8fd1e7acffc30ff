// What `pennaro render` accepts and refuses before the effect sees a value,
// and the preference files it hands to the host.
#include <gtest/gtest.h>

#include "catalog/messages.h"
#include "catalog/params.h"
#include "cli/core/errors.h"
#include "cli/core/command_line.h"
#include "cli/core/memory_budget.h"
#include "cli/render/prefs_file.h"
#include "cli/render/frames.h"
#include "cli/render/options.h"
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

bool mentions(const std::string &text, const std::string &part) { return text.find(part) != std::string::npos; }

}  // namespace

TEST(RenderOptions, RationalsFrameListsSizesAndOrigins) {
    Rational ntsc = parseRational("30000/1001", "--fps");
    EXPECT_EQ(ntsc.num, 30000);
    EXPECT_EQ(ntsc.den, 1001u);
    EXPECT_EQ(parseRational(" 24 ", "--fps").den, 1u);
    EXPECT_EQ(parseRational("-3/2", "--pixel-aspect").num, -3);
    for (const char *bad : {"", "1/0", "1/-2", "abc", "2.5", "1/2/3", "99999999999"})
        EXPECT_TRUE(mentions(refusal([&] { parseRational(bad, "--fps"); }), "--fps")) << bad;
    // Frame rates: exact decimals as they stand, NTSC's rounded ones as
    // their ratios, other rounded ones refused with the nearest ratio.
    const struct {
        const char *text;
        int32_t num;
        uint32_t den;
    } rates[] = {{"25", 25, 1},           {"24000/1001", 24000, 1001}, {"12.5", 25, 2},
                 {"25.000", 25, 1},       {"23.976", 24000, 1001},     {"23.98", 24000, 1001},
                 {"29.97", 30000, 1001},  {"47.952", 48000, 1001},     {"59.94", 60000, 1001},
                 {"119.880", 120000, 1001}};
    for (const auto &r : rates) {
        const Rational rate = parseFrameRate(r.text);
        EXPECT_TRUE(rate.num == r.num && rate.den == r.den) << r.text << " gave " << rate.num << "/" << rate.den;
    }
    const struct {
        const char *text, *says;
    } refusedRates[] = {{"23.97", "the nearest is 24000/1001"}, {"25.01", "the nearest is 25"},
                        {"0.0", "outside the allowed range"},   {"1.2.3", "not a frame rate"},
                        {"-24", "outside the allowed range"},   {"24.", "not a frame rate"}};
    for (const auto &r : refusedRates)
        EXPECT_TRUE(mentions(refusal([&] { parseFrameRate(r.text); }), r.says)) << r.text;
    // The default range: to the frame holding the end of the last stroke,
    // or, revealing strokes, the first frame whose time has reached it.
    const struct {
        double end, speed;
        int32_t last;
    } ranges[] = {{5.59, 0, 167}, {5.59, 1, 168}, {5.59, 2, 84}, {2.0, 1, 60}, {0, 1, 0}};
    for (const auto &r : ranges)
        EXPECT_EQ(defaultFrameRange(r.end, parseTiming("30", "", "", ""), "d", r.speed).back(), r.last)
            << r.end << " at speed " << r.speed;

    EXPECT_EQ(parseFrameList("7"), (std::vector<int32_t>{7}));
    EXPECT_EQ(parseFrameList("1,5,10-12"), (std::vector<int32_t>{1, 5, 10, 11, 12}));
    EXPECT_EQ(parseFrameList("3-4,2-4"), (std::vector<int32_t>{3, 4, 2}));
    EXPECT_EQ(parseFrameList("-2--1,0"), (std::vector<int32_t>{-2, -1, 0}));
    EXPECT_EQ(parseFrameList("1-8x3,20"), (std::vector<int32_t>{1, 4, 7, 20}));
    EXPECT_EQ(parseFrameList("-5--1x2"), (std::vector<int32_t>{-5, -3, -1}));
    for (const char *bad : {"", "5-3", "1,,2", "a-b", "1-", "x", "1-9x0", "1-9x", "3x2"})
        EXPECT_TRUE(mentions(refusal([&] { parseFrameList(bad); }), "--frames")) << bad;

    EXPECT_EQ(parseSize("1920x1080"), (std::array<int32_t, 2>{1920, 1080}));
    EXPECT_EQ(parseOrigin("5,-3"), (std::array<int32_t, 2>{5, -3}));
    EXPECT_TRUE(mentions(refusal([] { parseSize("0x10"); }), "--size"));
    EXPECT_TRUE(mentions(refusal([] { parseOrigin("5"); }), "--origin"));
}

TEST(RenderOptions, DownsamplingRoundsSizesUpAndTakesTheTopLeftSourcePixel) {
    auto half = parseDownsample("1/2"), mixed = parseDownsample("1/2,1/3");
    EXPECT_TRUE(half[1].num == 1 && half[1].den == 2u && mixed[0].den == 2u && mixed[1].den == 3u);
    EXPECT_EQ(scaledExtent(1919, half[0]), 960);
    EXPECT_EQ(scaledExtent(1080, mixed[1]), 360);
    EXPECT_FALSE(refusal([] { parseDownsample("-1/2"); }).empty());

    RgbaImage full = makeImage(5, 3, 8, SampleScale::Effect);
    for (int32_t y = 0; y < 3; ++y)
        for (int32_t x = 0; x < 5; ++x) full.pixel(x, y)[0] = uint16_t(10 * y + x);
    RgbaImage small = pointSample(full, 3, 2, {1, 2}, {1, 2});
    EXPECT_EQ(small.pixel(0, 0)[0], 0);
    EXPECT_EQ(small.pixel(1, 0)[0], 2);
    EXPECT_EQ(small.pixel(2, 1)[0], 24);
}

TEST(RenderOptions, OutputNamesAndBackgrounds) {
    EXPECT_EQ(frameFileName("out/frame_####.png", 7), "out/frame_0007.png");
    EXPECT_EQ(frameFileName("f#.png", 123), "f123.png");
    EXPECT_EQ(frameFileName("f###.png", -4), "f-004.png");
    EXPECT_EQ(frameFileName("still.png", 9), "still.png");
    EXPECT_FALSE(hasFramePlaceholder("still.png"));
    EXPECT_EQ(frameFileName("take#2/f_##.png", 3), "take#2/f_03.png");  // only the file name holds the frame
    EXPECT_FALSE(hasFramePlaceholder("take#2/still.png"));
    EXPECT_EQ(frameFileName("out/f_%04d.exr", 12), "out/f_0012.exr");
    EXPECT_EQ(frameFileName("f_%d.png", 12), "f_12.png");
    EXPECT_EQ(frameFileName("f_$F4.tif", 7), "f_0007.tif");
    EXPECT_EQ(frameFileName("f_$F.tif", 7), "f_7.tif");
    EXPECT_EQ(frameFileName("100%/f_%03d_#.png", 5), "100%/f_005_#.png");  // the first one counts
    EXPECT_FALSE(hasFramePlaceholder("f_%s_$G.png"));
    EXPECT_EQ(closestName("--fsp", {"--frames", "--fps"}), "--fps");
    EXPECT_EQ(closestName("--colour", {"--frames", "--fps"}), "");

    EXPECT_EQ(parseBackground("transparent").rgba, (std::array<uint8_t, 4>{0, 0, 0, 0}));
    EXPECT_EQ(parseBackground("#102030").rgba, (std::array<uint8_t, 4>{16, 32, 48, 255}));
    EXPECT_EQ(parseBackground("#10203040").rgba, (std::array<uint8_t, 4>{16, 32, 48, 64}));
    EXPECT_EQ(parseBackground("White").rgba, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_EQ(parseBackground("checker").kind, Background::Checker);
    EXPECT_FALSE(refusal([] { parseBackground("#12345"); }).empty());
}

TEST(RenderOptions, ParametersByName) {
    using namespace pennaro;
    const ParamInfo *mode = findParam("playback-mode");
    ASSERT_NE(mode, nullptr);
    EXPECT_EQ(findParam("playback_mode"), mode);
    EXPECT_EQ(findParam("--playback-mode"), mode);
    EXPECT_EQ(findParam("brush-settings"), nullptr);
    const struct {
        const char *param, *text;
        int32_t stored;
    } accepted[] = {
        {"playback-mode", "Past Strokes", PLAYBACK_PAST},
        {"playback-mode", "animate strokes", PLAYBACK_ANIMATE},
        {"playback-mode", "2", PLAYBACK_PAST},
        {"composite", "Under Original Alpha Only", COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY},
        {"composite", "10", COMPOSITE_AS_MATTE},
        {"wiggle", "on", 1},
        {"wiggle", "0", 0},
        {"playback-speed", "2.5", 0x28000},
        {"playback-speed", "-100", -100 * 65536},
        {"displacement-variation", "30000", 30000 * 65536},
    };
    for (const auto &a : accepted)
        EXPECT_EQ(parseParamValue(*findParam(a.param), a.text).stored, a.stored) << a.param << " " << a.text;
    // Every refusal names the option; separators of a popup are no choice.
    const struct {
        const char *param, *text, *mentions;
    } refused[] = {
        {"playback-mode", "7", "\"Onion Skin\""}, {"playback-mode", "0", ""}, {"playback-mode", "Future Strokes", ""},
        {"composite", "3", ""}, {"composite", "6", ""}, {"composite", "9", ""}, {"composite", "12", ""},
        {"composite", "(-", ""}, {"wiggle", "maybe", ""}, {"playback-speed", "100.01", "valid range"},
        {"playback-speed", "fast", ""}, {"displacement-detail", "-1", "valid range"},
    };
    for (const auto &r : refused) {
        const std::string said = refusal([&] { parseParamValue(*findParam(r.param), r.text); });
        EXPECT_TRUE(mentions(said, std::string("--") + r.param) && mentions(said, r.mentions)) << r.text << ": " << said;
    }
}

TEST(RenderOptions, SlidersRoundToNearestWithHalvesAwayFromZero) {
    for (auto [real, fixed] : std::vector<std::pair<double, int32_t>>{
             {0.5 / 65536, 1}, {-0.5 / 65536, -1}, {0.49 / 65536, 0}, {0.2, 13107}, {7.5, 0x78000}})
        EXPECT_EQ(sliderToFixed(real), fixed) << real;
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
    EXPECT_TRUE(mentions(refusal([&] { setParamFromOption(settings, *findParam("wiggle"), "on"); }), "keys.json"));

    for (const char *bad : {R"([1, 2])", R"({"speed": 1})", R"({"playback-speed": [[0, 1], [0, 2]]})",
                            R"({"playback-speed": [[0, 200]]})", R"({"wiggle": [[0]]})", R"({"wiggle": []})",
                            R"({"playback-mode": [["a", 1]]})", "{oops"}) {
        ParamSettings fresh = defaultParamSettings();
        EXPECT_TRUE(mentions(refusal([&] { loadParamKeyframes(fresh, bad, "bad.json"); }), "bad.json")) << bad;
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
    EXPECT_TRUE(mentions(e, "prefs.json: unknown preference \"Onion Skin Opacity\"")) << e;
    EXPECT_TRUE(mentions(e, "\"Draw brush sprite\" (integer)")) << e;  // lists the known keys
    e = error(R"({"Draw brush sprite": 0, "Onion skin - Frames forward": 1.5})");  // the good key is read first
    EXPECT_TRUE(mentions(e, "\"Onion skin - Frames forward\" must be an integer")) << e;
    EXPECT_TRUE(mentions(error(R"({"Onion skin - Opacity": "high"})"), "must be a number"));
    for (const char *big : {R"({"Draw brush sprite": 2147483648})", R"({"Draw brush sprite": -2147483649})"})
        EXPECT_TRUE(mentions(error(big), "32 bits")) << big;
    EXPECT_NE(error("[1, 2]"), "");
    EXPECT_NE(error("{"), "");
    // The good key of a rejected file did not land.
    EXPECT_EQ(store.find(pennaro::PLUGIN_NAME, "Draw brush sprite"), nullptr);
    EXPECT_TRUE(mentions(refusal([&] { loadPrefsFile(store, "/nonexistent/prefs.json"); }), "/nonexistent/prefs.json"));
}

namespace {

TEST(MemoryOptions, SizesAndTheirRefusals) {
    const struct {
        const char *text;
        uint64_t bytes;  // 0: refused
    } cases[] = {{"512M", 512ull << 20}, {"4G", 4ull << 30}, {"1.5g", 3ull << 29}, {"65536", 65536},
                 {"64KiB", 64 << 10}, {"2TB", 2ull << 40}, {"0", 0}, {"4x", 0}, {"M", 0}, {"1..5G", 0},
                 {"-1G", 0}, {"99999999999T", 0}, {"", 0}};
    for (const auto &c : cases) {
        uint64_t got = 0;
        try {
            got = parseMemorySize(c.text);
        } catch (const std::invalid_argument &) {
        }
        EXPECT_EQ(got, c.bytes) << c.text;
    }
    EXPECT_EQ(formatMemorySize(3ull << 29), "1.5 GiB");
    EXPECT_GE(defaultMemoryBudget(), MIN_DEFAULT_BUDGET);
}

// The sheet keeps thumbnails only, whatever the frames' size.
TEST(ContactSheets, KeepOnlyThumbnails) {
    ContactSheet sheet;
    RgbaImage frame = makeImage(1920, 1080, 16);
    for (int i = 0; i < 5; ++i) sheet.add(frame);
    EXPECT_EQ(sheet.keptBytes(), 5u * 256 * 144 * 4 * sizeof(uint16_t));
    const RgbaImage made = sheet.finish();
    EXPECT_EQ(made.width, 3 * (256 + 4) + 4);
    EXPECT_EQ(made.height, 2 * (144 + 4) + 4);
}

}  // namespace
