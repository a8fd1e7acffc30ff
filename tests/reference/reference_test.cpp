// The reference frames and saved blocks through the effect library itself,
// driven the way a host drives it with nothing but the stand-in host in
// between: the shared library on Linux, the DLL under Wine. Both builds run
// these tests against the same expected PNG files (read with stb_image: no
// libpng, no tool), so passing on both means bit-identical frames and blocks.
// With PENNARO_FRAME_DUMP_DIR set, every frame rendered is also written there
// as raw samples ("PNRF", width, height and depth as 32-bit little-endian
// words, then every sample as a 16-bit little-endian word), so the Windows
// lane can compare the two libraries' frames directly. Where the pennaro tool
// is built, every case also goes through `pennaro render` with each host
// value and parameter on its command line, as a user would give them.
//
// Channels as the tool maps them: 8-bit samples as they are; at 16 bits an
// effect value v (0..32768) is stored as min((v * 65535 + 16384) / 32768,
// 65535) and a file sample s is read as (s * 32768 + 32767) / 65535.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "catalog/params.h"
#include "format/block.h"
#include "minihost/testing.h"

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

#ifdef PENNARO_CLI_PATH
#include "cli/run_tool.h"
#endif

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;

const std::string kDataDir = std::string(PENNARO_TEST_DATA_DIR) + "/conformance";

// The parameters a case sets, by their key in cases.json; the tool's option
// is the key with dashes.
const std::pair<const char *, int32_t> kParams[] = {
    {"playback_mode", pennaro::PARAM_PLAYBACK_MODE},         {"playback_speed", pennaro::PARAM_PLAYBACK_SPEED},
    {"wiggle", pennaro::PARAM_WIGGLE_ENABLE},                {"wiggles_per_sec", pennaro::PARAM_WIGGLES_PER_SEC},
    {"displacement_variation", pennaro::PARAM_DISPLACEMENT_VARIATION},
    {"displacement_detail", pennaro::PARAM_DISPLACEMENT_DETAIL},
    {"pressure_variation", pennaro::PARAM_PRESSURE_VARIATION}, {"pressure_detail", pennaro::PARAM_PRESSURE_DETAIL},
    {"individual_seeds", pennaro::PARAM_INDIVIDUAL_SEEDS},   {"composite", pennaro::PARAM_COMPOSITE},
};

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what); }

Bytes readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// One case of cases.json: its files (no layer: a transparent one), the
// host's values and the parameters.
struct Case {
    std::string name, block, layer, expected;
    int32_t width, height, depth, currentTime, timeStep, localTimeStep, originX, originY;
    uint32_t timeScale;
    std::string pixelAspect;  // "N/D"
    json params;
};

std::vector<Case> loadCases() {
    std::vector<Case> cases;
    const json list = json::parse(readFile(kDataDir + "/cases.json"));
    for (const json &e : list.at("cases")) {
        cases.push_back({e.at("name"), e.at("block"), e.at("layer").is_null() ? "" : e.at("layer").get<std::string>(),
                         e.at("expected"), e.at("width"), e.at("height"), e.at("depth"), e.at("current_time"),
                         e.at("time_step"), e.at("local_time_step"), e.at("origin").at(0), e.at("origin").at(1),
                         e.at("time_scale"), e.at("pixel_aspect"), e.at("params")});
        if (e.at("downsample") != "1/1") fail(cases.back().name + ": downsampled cases are not supported here");
    }
    return cases;
}

// Loaded once; a broken list leaves it empty and the list test says why.
const std::vector<Case> &allCases() {
    static const std::vector<Case> cases = [] {
        try {
            return loadCases();
        } catch (const std::exception &) {
            return std::vector<Case>{};
        }
    }();
    return cases;
}

std::string caseName(const ::testing::TestParamInfo<size_t> &info) {
    std::string name = allCases()[info.param].name;
    for (char &ch : name) ch = std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
    return name;
}

// An RGBA frame as PNG files hold it: four samples a pixel, 0..255 or 0..65535.
struct Frame {
    int32_t width = 0, height = 0, depth = 8;
    std::vector<uint16_t> samples;
};

// Any PNG as RGBA (opaque where it has no alpha), at its own depth.
Frame readPng(const std::string &path) {
    const Bytes bytes = readFile(path);
    const int length = static_cast<int>(bytes.size());
    Frame f;
    f.depth = stbi_is_16_bit_from_memory(bytes.data(), length) ? 16 : 8;
    int channels = 0;
    std::unique_ptr<stbi_us, void (*)(void *)> pixels(
        stbi_load_16_from_memory(bytes.data(), length, &f.width, &f.height, &channels, 4), stbi_image_free);
    if (!pixels) fail(path + ": " + stbi_failure_reason());
    f.samples.assign(pixels.get(), pixels.get() + size_t(f.width) * size_t(f.height) * 4);
    // stb widens 8-bit samples to 16 bits by repeating the byte.
    if (f.depth == 8) std::transform(f.samples.begin(), f.samples.end(), f.samples.begin(), [](int s) { return s / 257; });
    return f;
}

// Empty when the frames agree in every channel (colour included where alpha
// is 0), else how they differ.
std::string frameDifference(const Frame &a, const Frame &e) {
    if (a.width != e.width || a.height != e.height || a.depth != e.depth) return "the frames differ in size or depth";
    std::string first;
    size_t pixels = 0;
    auto rgba = [](const Frame &f, size_t i) {
        return "(" + std::to_string(f.samples[i]) + "," + std::to_string(f.samples[i + 1]) + "," +
               std::to_string(f.samples[i + 2]) + "," + std::to_string(f.samples[i + 3]) + ")";
    };
    for (size_t i = 0; i < a.samples.size(); i += 4) {
        if (std::equal(&a.samples[i], &a.samples[i] + 4, &e.samples[i])) continue;
        if (pixels++ == 0)
            first = "; first at (" + std::to_string(i / 4 % size_t(a.width)) + "," + std::to_string(i / 4 / size_t(a.width)) +
                "): RGBA " + rgba(a, i) + " rendered, " + rgba(e, i) + " expected";
    }
    return pixels ? std::to_string(pixels) + " pixel(s) differ" + first : "";
}

// A block as a machine of the other byte order writes it.
Bytes reverseWords(Bytes b) {
    pennaro::swapWords(b.data(), b.size());
    return b;
}

// One effect instance on the stand-in host, set up as far as parameter set-up.
struct Session {
    minihost::Plugin plugin{PENNARO_PLUGIN_PATH};
    minihost::TestHost host;

    void run(int32_t command, const std::string &what, HostWorld *output = nullptr) {
        const int32_t result = host.send(plugin.entry(), command, output);
        const std::string message(host.out.message, strnlen(host.out.message, HOST_MESSAGE_LEN));
        if (result != 0 || !message.empty()) fail(what + " failed with error " + std::to_string(result) + ": " + message);
    }
    // The drawing arrives as an opened project hands it over: the saved block
    // as sequence data, which the host keeps locked between commands, then
    // re-set-up.
    void bringIn(const Bytes &block) {
        HostHandle handle = minihost::newHandle(block.size());
        if (!block.empty()) std::memcpy(minihost::lockHandle(handle), block.data(), block.size());
        host.in.sequenceData = host.out.sequenceData = handle;
        run(HOST_CMD_SEQUENCE_RESETUP, "re-set-up");
        if (!host.in.sequenceData) fail("re-set-up left the instance without a drawing");
    }
};

// Runs `body` on a new session, sets it down, and checks that nothing the
// effect was given or allocated outlives it and that it kept the protocol.
// `threads`: what the host asks the effect for (0: nothing).
template <typename Body>
auto withSession(Body body, int32_t threads = 0) {
    const minihost::HandleStats before = minihost::handleStats();
    auto result = [&] {
        Session s;
        s.host.threads = threads;
        if (const int32_t error = s.plugin.registerEffect()) fail("registration failed with error " + std::to_string(error));
        s.run(HOST_CMD_GLOBAL_SETUP, "global set-up");
        s.run(HOST_CMD_PARAMS_SETUP, "parameter set-up");
        auto r = body(s);
        s.run(HOST_CMD_SEQUENCE_SETDOWN, "sequence set-down");
        s.run(HOST_CMD_GLOBAL_SETDOWN, "global set-down");
        if (!s.host.protocolErrors().empty()) fail("host protocol error: " + s.host.protocolErrors().front());
        return r;
    }();
    const minihost::HandleStats after = minihost::handleStats();
    if (after.live != before.live) fail(std::to_string(after.live - before.live) + " host handle(s) left after set-down");
    if (after.misuse != before.misuse) fail("the effect misused host handles");
    return result;
}

uint16_t sixteenBitToFile(uint16_t v) { return uint16_t(std::min((uint32_t(v) * 65535u + 16384u) / 32768u, 65535u)); }
uint16_t sixteenBitFromFile(uint16_t s) { return uint16_t((uint32_t(s) * 32768u + 32767u) / 65535u); }

// The case's frame from the effect, in PNG samples.
Frame renderCase(const Case &c, int32_t threads = 0) {
    const Bytes block = readFile(kDataDir + "/" + c.block);
    const bool deep = c.depth == 16;
    minihost::Image layer(c.width, c.height, deep), output(c.width, c.height, deep);
    if (!c.layer.empty()) {
        const Frame png = readPng(kDataDir + "/" + c.layer);
        if (png.width != c.width || png.height != c.height || png.depth != c.depth)
            fail(c.layer + " is not of the case's size and depth");
        for (int32_t i = 0, y = 0; y < c.height; ++y)
            for (int32_t x = 0; x < c.width; ++x, i += 4) {
                auto s = [&](int k) { return png.samples[size_t(i + k)]; };
                if (deep) layer.pixel16(x, y) = {sixteenBitFromFile(s(3)), sixteenBitFromFile(s(0)),
                                                 sixteenBitFromFile(s(1)), sixteenBitFromFile(s(2))};
                else layer.pixel8(x, y) = {uint8_t(s(3)), uint8_t(s(0)), uint8_t(s(1)), uint8_t(s(2))};
            }
    }
    withSession([&](Session &s) {
        for (auto [key, index] : kParams) {
            const json &v = c.params.at(key);
            s.host.setParam(index, v.is_boolean() ? v.get<bool>() : v.get<double>());
        }
        s.host.setTime(c.currentTime, c.timeStep, c.timeScale);
        s.host.in.localTimeStep = c.localTimeStep;
        s.bringIn(block);
        s.host.setLayer(&layer.world());
        HostRational &aspect = s.host.in.pixelAspect;
        if (std::sscanf(c.pixelAspect.c_str(), "%d/%u", &aspect.num, &aspect.den) != 2) fail(c.name + ": pixel aspect");
        s.host.in.originX = c.originX;
        s.host.in.originY = c.originY;
        s.run(HOST_CMD_RENDER, c.name + ": render", &output.world());
        s.host.setLayer(nullptr);
        if (!output.paddingIntact()) fail(c.name + ": the render wrote past the end of a row");
        return 0;
    }, threads);
    Frame f{c.width, c.height, c.depth, {}};
    for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
            if (deep) {
                const HostPixel16 &p = output.pixel16(x, y);
                for (uint16_t v : {p.red, p.green, p.blue, p.alpha}) f.samples.push_back(sixteenBitToFile(v));
            } else {
                const HostPixel8 &p = output.pixel8(x, y);
                f.samples.insert(f.samples.end(), {p.red, p.green, p.blue, p.alpha});
            }
        }
    return f;
}

void dumpFrame(const std::string &path, const Frame &f) {
    Bytes bytes{'P', 'N', 'R', 'F'};
    auto put = [&](uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
    };
    for (int32_t word : {f.width, f.height, f.depth}) put(uint32_t(word), 4);
    for (uint16_t sample : f.samples) put(sample, 2);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()))) fail("cannot write " + path);
}

TEST(ReferenceCaseList, HoldsEveryCase) {
    ASSERT_NO_THROW(loadCases());
    EXPECT_EQ(allCases().size(), 60u);
}

class ReferenceFrame : public ::testing::TestWithParam<size_t> {};

// The frame of a host that asks for no thread, and of hosts asking for 2
// and 7 (16 for every tenth case): the effect paints in bands then, with
// the same bytes.
TEST_P(ReferenceFrame, MatchesTheExpectedFrame) {
    const Case &c = allCases()[GetParam()];
    try {
        const Frame expected = readPng(kDataDir + "/" + c.expected);
        const Frame rendered = renderCase(c);
        if (const char *dumpDir = std::getenv("PENNARO_FRAME_DUMP_DIR"))
            dumpFrame(std::string(dumpDir) + "/" + c.name + ".frame", rendered);
        EXPECT_EQ(frameDifference(rendered, expected), "");
        for (int32_t threads : {2, 7, 16}) {
            if (threads == 16 && GetParam() % 10 != 0) continue;
            EXPECT_EQ(frameDifference(renderCase(c, threads), expected), "") << threads << " threads";
        }
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Conformance, ReferenceFrame, ::testing::Range<size_t>(0, allCases().size()), caseName);

#ifdef PENNARO_CLI_PATH
class ThroughTheTool : public ::testing::TestWithParam<size_t> {};

TEST_P(ThroughTheTool, MatchesTheExpectedFrame) {
    const Case &c = allCases()[GetParam()];
    ASSERT_EQ(c.currentTime % c.timeStep, 0) << "the host's time is a whole frame";
    auto text = [](double v) {
        char buffer[32];
        std::snprintf(buffer, sizeof buffer, "%.17g", v);
        return std::string(buffer);
    };
    const pennaro_test::ScratchDir dir("reference-" + c.name);
    const std::string output = dir / (c.name + ".png");
    std::vector<std::string> args = {"render", kDataDir + "/" + c.block, "--depth", text(c.depth), "--time-scale",
                                     text(c.timeScale), "--time-step", text(c.timeStep), "--local-time-step",
                                     text(c.localTimeStep), "--frames", text(c.currentTime / c.timeStep),
                                     "--pixel-aspect", c.pixelAspect, "--origin",
                                     text(c.originX) + "," + text(c.originY), "--downsample", "1/1", "-q", "-o", output};
    if (c.layer.empty()) args.insert(args.end(), {"--size", text(c.width) + "x" + text(c.height)});
    else args.insert(args.end(), {"--layer", kDataDir + "/" + c.layer});
    for (auto [key, index] : kParams) {
        std::string option = std::string("--") + key;
        std::replace(option.begin(), option.end(), '_', '-');
        const json &v = c.params.at(key);
        args.insert(args.end(), {option, v.is_boolean() ? (v.get<bool>() ? "on" : "off") : text(v.get<double>())});
    }
    const pennaro_test::ToolRun run = pennaro_test::runTool(args);
    ASSERT_EQ(run.status, 0) << run.output;
    try {
        EXPECT_EQ(frameDifference(readPng(output), readPng(kDataDir + "/" + c.expected)), "");
    } catch (const std::exception &e) {
        ADD_FAILURE() << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Conformance, ThroughTheTool, ::testing::Range<size_t>(0, allCases().size()), caseName);
#endif

class SavedBlock : public ::testing::TestWithParam<size_t> {};

// Read by re-set-up and written again by flatten, a block comes back byte for
// byte, in this machine's (little-endian) byte order whichever order it was
// written in.
TEST_P(SavedBlock, ComesBackExactlyFromEitherByteOrder) {
    try {
        const Bytes block = readFile(kDataDir + "/" + allCases()[GetParam()].block);
        const Bytes native = block.size() > 4 && block[4] != 0 ? reverseWords(block) : block;
        ASSERT_EQ(native.at(4), 0) << "not a block of either byte order";
        for (bool reversed : {false, true}) {
            const Bytes given = reversed ? reverseWords(native) : native, back = withSession([&](Session &s) {
                s.bringIn(given);
                s.run(HOST_CMD_SEQUENCE_FLATTEN, "flatten");
                const HostHandle flat = s.host.in.sequenceData;
                if (!flat) fail("flatten left the instance without a block");
                const uint64_t size = minihost::getHandleSize(flat);
                if (int64_t(size) != s.host.out.flatSize) fail("the flat size reported is not the block's size");
                const auto *bytes = static_cast<const uint8_t *>(minihost::lockHandle(flat));
                Bytes copy(bytes, bytes + size);
                minihost::unlockHandle(flat);
                return copy;
            });
            const auto at = std::mismatch(back.begin(), back.end(), native.begin(), native.end()).first - back.begin();
            EXPECT_TRUE(back == native) << (reversed ? "byte-reversed" : "as it was") << ": sizes "
                                        << back.size() << " and " << native.size() << ", first difference at " << at;
        }
    } catch (const std::exception &e) {
        FAIL() << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(Conformance, SavedBlock, ::testing::Range<size_t>(0, allCases().size()), caseName);

}  // namespace
