#include "reference/reference_frames.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "minihost/testing.h"
#include "catalog/params.h"

#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#define STBI_FAILURE_USERMSG
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb_image.h>

namespace reference_frames {

namespace {

using nlohmann::json;

[[noreturn]] void fail(const std::string &what) { throw std::runtime_error(what); }

HostRational parseRational(const std::string &text, const std::string &where) {
    int64_t num = 0, den = 0;
    char slash = 0;
    std::istringstream in(text);
    if (!(in >> num >> slash >> den) || slash != '/' || den <= 0 || !in.eof())
        fail(where + ": \"" + text + "\" is not a rational N/D");
    return HostRational{int32_t(num), uint32_t(den)};
}

std::string effectMessage(const minihost::TestHost &host) {
    return std::string(host.out.message, strnlen(host.out.message, HOST_MESSAGE_LEN));
}

// One effect instance on the stand-in host: library loaded and registered,
// global and parameter set-up done. Set down on destruction; the handle
// count is checked by the callers once it is gone.
struct Instance {
    minihost::Plugin plugin;
    minihost::TestHost host;
    bool globalSetUp = false;

    explicit Instance(const std::string &pluginPath) : plugin(pluginPath) {
        int32_t result = plugin.registerEffect();
        if (result != 0) fail("registration failed with error " + std::to_string(result));
        result = host.send(plugin.entry(), HOST_CMD_GLOBAL_SETUP);
        globalSetUp = result == 0;
        if (result != 0) fail("global set-up failed with error " + std::to_string(result) + ": " + effectMessage(host));
        result = host.send(plugin.entry(), HOST_CMD_PARAMS_SETUP);
        if (result != 0) fail("parameter set-up failed with error " + std::to_string(result) + ": " + effectMessage(host));
    }

    ~Instance() {
        if (host.in.sequenceData) host.send(plugin.entry(), HOST_CMD_SEQUENCE_SETDOWN);
        if (globalSetUp) host.send(plugin.entry(), HOST_CMD_GLOBAL_SETDOWN);
    }

    // The drawing arrives as an opened project hands it over: the saved
    // block as sequence data, then re-set-up.
    void bringIn(const std::vector<uint8_t> &block) {
        // Between commands the host keeps the sequence data locked; the
        // command's common frame unlocks it on entry.
        HostHandle handle = minihost::newHandle(block.size());
        if (!handle) fail("the stand-in host has no memory for the block");
        void *bytes = minihost::lockHandle(handle);
        if (!block.empty()) std::memcpy(bytes, block.data(), block.size());
        host.in.sequenceData = handle;
        host.out.sequenceData = handle;
        int32_t result = host.send(plugin.entry(), HOST_CMD_SEQUENCE_RESETUP);
        std::string message = effectMessage(host);
        if (result != 0 || !message.empty())
            fail("re-set-up failed with error " + std::to_string(result) + ": " + message);
        if (!host.in.sequenceData) fail("re-set-up left the instance without a drawing");
    }
};

// Runs `body` with an instance and checks that nothing the effect was given
// or allocated outlives it.
template <typename Body>
auto withInstance(const std::string &pluginPath, Body body) {
    const uint64_t liveBefore = minihost::handleStats().live;
    const uint64_t misuseBefore = minihost::handleStats().misuse;
    auto instance = std::make_unique<Instance>(pluginPath);
    auto result = body(*instance);
    std::vector<std::string> protocolErrors = instance->host.protocolErrors();
    instance.reset();
    minihost::HandleStats after = minihost::handleStats();
    if (after.live != liveBefore)
        fail(std::to_string(after.live - liveBefore) + " host handle(s) still alive after set-down");
    if (after.misuse != misuseBefore) fail("the effect misused host handles");
    if (!protocolErrors.empty()) fail("host protocol error: " + protocolErrors.front());
    return result;
}

Frame frameFromImage(const minihost::Image &image) {
    Frame frame;
    frame.width = image.width();
    frame.height = image.height();
    frame.depth = image.deep() ? 16 : 8;
    frame.samples.resize(size_t(frame.width) * size_t(frame.height) * 4);
    uint16_t *out = frame.samples.data();
    for (int32_t y = 0; y < frame.height; ++y) {
        for (int32_t x = 0; x < frame.width; ++x, out += 4) {
            if (image.deep()) {
                const HostPixel16 &p = image.pixel16(x, y);
                out[0] = sixteenBitToFile(p.red), out[1] = sixteenBitToFile(p.green);
                out[2] = sixteenBitToFile(p.blue), out[3] = sixteenBitToFile(p.alpha);
            } else {
                const HostPixel8 &p = image.pixel8(x, y);
                out[0] = p.red, out[1] = p.green, out[2] = p.blue, out[3] = p.alpha;
            }
        }
    }
    return frame;
}

void fillLayer(minihost::Image &layer, const Frame &png, const std::string &name) {
    if (png.width != layer.width() || png.height != layer.height())
        fail(name + " is " + std::to_string(png.width) + "x" + std::to_string(png.height) + ", the case says " +
             std::to_string(layer.width()) + "x" + std::to_string(layer.height()));
    if (png.depth == 16 && !layer.deep()) fail(name + " is a 16-bit PNG for an 8-bit case");
    const uint16_t *in = png.samples.data();
    for (int32_t y = 0; y < layer.height(); ++y) {
        for (int32_t x = 0; x < layer.width(); ++x, in += 4) {
            if (layer.deep()) {
                auto map = [&](uint16_t s) { return png.depth == 16 ? sixteenBitFromFile(s) : eightBitToSixteen(s); };
                HostPixel16 &p = layer.pixel16(x, y);
                p.red = map(in[0]), p.green = map(in[1]), p.blue = map(in[2]), p.alpha = map(in[3]);
            } else {
                HostPixel8 &p = layer.pixel8(x, y);
                p.red = uint8_t(in[0]), p.green = uint8_t(in[1]), p.blue = uint8_t(in[2]), p.alpha = uint8_t(in[3]);
            }
        }
    }
}

}  // namespace

std::vector<uint8_t> readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) fail("cannot open " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<ReferenceCase> loadCases(const std::string &casesJsonPath) {
    std::vector<uint8_t> bytes = readFile(casesJsonPath);
    json document = json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (document.is_discarded() || !document.is_object() || !document.contains("cases") ||
        !document["cases"].is_array())
        fail(casesJsonPath + ": not a case list ({\"cases\": [...]})");
    std::vector<ReferenceCase> cases;
    for (const json &entry : document["cases"]) {
        std::string where = casesJsonPath + ", case " + std::to_string(cases.size());
        try {
            ReferenceCase c;
            c.name = entry.at("name").get<std::string>();
            where = casesJsonPath + ", case " + c.name;
            c.block = entry.at("block").get<std::string>();
            if (!entry.at("layer").is_null()) c.layer = entry.at("layer").get<std::string>();
            c.expected = entry.at("expected").get<std::string>();
            c.width = entry.at("width").get<int32_t>();
            c.height = entry.at("height").get<int32_t>();
            c.depth = entry.at("depth").get<int>();
            if (c.depth != 8 && c.depth != 16) fail(where + ": depth must be 8 or 16");
            if (c.width <= 0 || c.height <= 0) fail(where + ": the frame size must be positive");
            c.currentTime = entry.at("current_time").get<int32_t>();
            c.timeStep = entry.at("time_step").get<int32_t>();
            c.localTimeStep = entry.at("local_time_step").get<int32_t>();
            c.timeScale = entry.at("time_scale").get<uint32_t>();
            const json &p = entry.at("params");
            c.playbackMode = p.at("playback_mode").get<int32_t>();
            c.playbackSpeed = p.at("playback_speed").get<double>();
            c.composite = p.at("composite").get<int32_t>();
            c.wiggle = p.at("wiggle").get<bool>();
            c.wigglesPerSec = p.at("wiggles_per_sec").get<double>();
            c.displacementVariation = p.at("displacement_variation").get<double>();
            c.displacementDetail = p.at("displacement_detail").get<double>();
            c.pressureVariation = p.at("pressure_variation").get<double>();
            c.pressureDetail = p.at("pressure_detail").get<double>();
            c.individualSeeds = p.at("individual_seeds").get<bool>();
            c.pixelAspect = parseRational(entry.at("pixel_aspect").get<std::string>(), where);
            c.downsample = parseRational(entry.at("downsample").get<std::string>(), where);
            const json &origin = entry.at("origin");
            if (!origin.is_array() || origin.size() != 2) fail(where + ": origin must be [x, y]");
            c.originX = origin[0].get<int32_t>();
            c.originY = origin[1].get<int32_t>();
            cases.push_back(std::move(c));
        } catch (const json::exception &e) {
            fail(where + ": " + e.what());
        }
    }
    return cases;
}

Frame readPng(const std::string &path) {
    std::vector<uint8_t> bytes = readFile(path);
    if (bytes.size() > size_t(INT32_MAX)) fail(path + ": too large");
    const auto *data = reinterpret_cast<const stbi_uc *>(bytes.data());
    const int length = int(bytes.size());
    Frame frame;
    int channels = 0;
    if (stbi_is_16_bit_from_memory(data, length)) {
        std::unique_ptr<stbi_us, void (*)(void *)> pixels(
            stbi_load_16_from_memory(data, length, &frame.width, &frame.height, &channels, 4), stbi_image_free);
        if (!pixels) fail(path + ": " + stbi_failure_reason());
        frame.depth = 16;
        frame.samples.assign(pixels.get(), pixels.get() + size_t(frame.width) * size_t(frame.height) * 4);
    } else {
        std::unique_ptr<stbi_uc, void (*)(void *)> pixels(
            stbi_load_from_memory(data, length, &frame.width, &frame.height, &channels, 4), stbi_image_free);
        if (!pixels) fail(path + ": " + stbi_failure_reason());
        frame.depth = 8;
        frame.samples.assign(pixels.get(), pixels.get() + size_t(frame.width) * size_t(frame.height) * 4);
    }
    return frame;
}

uint16_t sixteenBitFromFile(uint16_t fileSample) { return uint16_t((uint32_t(fileSample) * 32768u + 32767u) / 65535u); }

uint16_t sixteenBitToFile(uint16_t value) {
    uint32_t file = (uint32_t(value) * 65535u + 16384u) / 32768u;
    return uint16_t(file > 65535u ? 65535u : file);
}

uint16_t eightBitToSixteen(uint16_t sample) { return uint16_t((uint32_t(sample) * 32768u + 127u) / 255u); }

Frame renderCase(const ReferenceCase &c, const std::string &pluginPath, const std::string &dataDir) {
    if (c.downsample.num != 1 || c.downsample.den != 1)
        fail(c.name + ": downsampled cases are not supported by this harness");
    const std::vector<uint8_t> block = readFile(dataDir + "/" + c.block);
    const bool deep = c.depth == 16;
    minihost::Image layer(c.width, c.height, deep);
    layer.fill(0, 0, 0, 0);
    if (!c.layer.empty()) fillLayer(layer, readPng(dataDir + "/" + c.layer), c.layer);

    return withInstance(pluginPath, [&](Instance &instance) {
        minihost::TestHost &host = instance.host;
        using namespace pennaro;
        host.setParam(PARAM_PLAYBACK_MODE, c.playbackMode);
        host.setParam(PARAM_PLAYBACK_SPEED, c.playbackSpeed);
        host.setParam(PARAM_WIGGLE_ENABLE, c.wiggle ? 1 : 0);
        host.setParam(PARAM_WIGGLES_PER_SEC, c.wigglesPerSec);
        host.setParam(PARAM_DISPLACEMENT_VARIATION, c.displacementVariation);
        host.setParam(PARAM_DISPLACEMENT_DETAIL, c.displacementDetail);
        host.setParam(PARAM_PRESSURE_VARIATION, c.pressureVariation);
        host.setParam(PARAM_PRESSURE_DETAIL, c.pressureDetail);
        host.setParam(PARAM_INDIVIDUAL_SEEDS, c.individualSeeds ? 1 : 0);
        host.setParam(PARAM_COMPOSITE, c.composite);

        host.setTime(c.currentTime, c.timeStep, c.timeScale);
        host.in.localTimeStep = c.localTimeStep;
        instance.bringIn(block);

        minihost::Image output(c.width, c.height, deep);
        host.setTime(c.currentTime, c.timeStep, c.timeScale);
        host.in.localTimeStep = c.localTimeStep;
        host.setLayer(&layer.world());
        host.in.downsampleX = c.downsample;
        host.in.downsampleY = c.downsample;
        host.in.pixelAspect = c.pixelAspect;
        host.in.originX = c.originX;
        host.in.originY = c.originY;
        int32_t result = host.send(instance.plugin.entry(), HOST_CMD_RENDER, &output.world());
        host.setLayer(nullptr);
        std::string message = effectMessage(host);
        if (result != 0 || !message.empty())
            fail(c.name + ": render failed with error " + std::to_string(result) + ": " + message);
        if (!output.paddingIntact()) fail(c.name + ": the render wrote past the end of a row");
        return frameFromImage(output);
    });
}

std::vector<uint8_t> roundTripBlock(const std::vector<uint8_t> &block, const std::string &pluginPath) {
    return withInstance(pluginPath, [&](Instance &instance) {
        instance.bringIn(block);
        minihost::TestHost &host = instance.host;
        int32_t result = host.send(instance.plugin.entry(), HOST_CMD_SEQUENCE_FLATTEN);
        std::string message = effectMessage(host);
        if (result != 0 || !message.empty())
            fail("flatten failed with error " + std::to_string(result) + ": " + message);
        HostHandle flat = host.in.sequenceData;
        if (!flat) fail("flatten left the instance without a block");
        const uint64_t size = minihost::getHandleSize(flat);
        if (int64_t(size) != host.out.flatSize)
            fail("the flat size reported (" + std::to_string(host.out.flatSize) + ") is not the block's size (" +
                 std::to_string(size) + ")");
        const auto *bytes = static_cast<const uint8_t *>(minihost::lockHandle(flat));
        std::vector<uint8_t> copy(bytes, bytes + size);
        minihost::unlockHandle(flat);
        return copy;
    });
}

void writeRawFrame(const std::string &path, const Frame &frame) {
    std::vector<uint8_t> bytes{'P', 'N', 'R', 'F'};
    auto put = [&](uint32_t value, int count) {
        for (int i = 0; i < count; ++i) bytes.push_back(uint8_t(value >> (8 * i)));
    };
    put(uint32_t(frame.width), 4);
    put(uint32_t(frame.height), 4);
    put(uint32_t(frame.depth), 4);
    for (uint16_t sample : frame.samples) put(sample, 2);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), std::streamsize(bytes.size()));
    if (!out.flush()) fail("cannot write " + path);
}

std::vector<uint8_t> reverseWords(std::vector<uint8_t> block) {
    for (size_t i = 0; i + 4 <= block.size(); i += 4) {
        std::swap(block[i], block[i + 3]);
        std::swap(block[i + 1], block[i + 2]);
    }
    return block;
}

Comparison compareFrames(const Frame &actual, const Frame &expected) {
    Comparison result;
    if (actual.width != expected.width || actual.height != expected.height || actual.depth != expected.depth) {
        result.sameShape = false;
        return result;
    }
    const size_t pixels = size_t(actual.width) * size_t(actual.height);
    for (size_t i = 0; i < pixels; ++i) {
        const uint16_t *a = &actual.samples[i * 4];
        const uint16_t *e = &expected.samples[i * 4];
        bool differs = false;
        for (int k = 0; k < 4; ++k) {
            uint32_t d = a[k] > e[k] ? a[k] - e[k] : e[k] - a[k];
            if (d == 0) continue;
            differs = true;
            if (d > result.largestDifference) result.largestDifference = d;
        }
        if (!differs) continue;
        if (result.differingPixels++ == 0) {
            result.firstX = int32_t(i % size_t(actual.width));
            result.firstY = int32_t(i / size_t(actual.width));
            std::memcpy(result.firstActual, a, sizeof result.firstActual);
            std::memcpy(result.firstExpected, e, sizeof result.firstExpected);
        }
    }
    return result;
}

std::string Comparison::describe() const {
    if (!sameShape) return "the frames differ in size or depth";
    if (differingPixels == 0) return "identical";
    std::ostringstream out;
    auto rgba = [&](const uint16_t *s) {
        out << '(' << s[0] << ',' << s[1] << ',' << s[2] << ',' << s[3] << ')';
    };
    out << differingPixels << " pixel(s) differ, largest channel difference " << largestDifference
        << "; first at (" << firstX << "," << firstY << "): RGBA ";
    rgba(firstActual);
    out << " rendered, ";
    rgba(firstExpected);
    out << " expected";
    return out.str();
}

}  // namespace reference_frames
