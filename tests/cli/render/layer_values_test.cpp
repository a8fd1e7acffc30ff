// OpenEXR layers as pipelines hold them: values beyond 0..1 the effect
// cannot take, kept where it does not paint and reported where they are lost.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <cstring>
#include <sstream>

#include "cli/run_tool.h"
#include "cli/images/image_format.h"
#include "cli/images/png.h"

using namespace pennaro_cli;
using pennaro_test::runTool;
using pennaro_test::ScratchDir;
using pennaro_test::ToolRun;
using Args = std::vector<std::string>;

namespace {

const std::string drawing =
    (std::filesystem::path(PENNARO_TEST_DATA_DIR) / "conformance" / "render-117.bin").string();
const Args painted = {"render", drawing, "--playback-mode", "All Strokes", "-q", "--depth", "16"};

Args operator+(Args a, const Args &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Box {
    int minX, minY, maxX, maxY;
    int width() const { return maxX - minX + 1; }
    int height() const { return maxY - minY + 1; }
};

// A float RGBA file with the given windows; `value(x, y, c)` in the data
// window's coordinates, colour as stored (premultiplied).
template <typename Value>
void writeFloatExr(const std::string &path, Box display, Box data, Value value) {
    Imf::Header header(Imath::Box2i({display.minX, display.minY}, {display.maxX, display.maxY}),
                       Imath::Box2i({data.minX, data.minY}, {data.maxX, data.maxY}));
    for (const char *c : {"R", "G", "B", "A"}) header.channels().insert(c, Imf::Channel(Imf::FLOAT));
    std::vector<float> pixels(size_t(data.width()) * size_t(data.height()) * 4);
    for (int y = data.minY; y <= data.maxY; ++y)
        for (int x = data.minX; x <= data.maxX; ++x)
            for (int c = 0; c < 4; ++c)
                pixels[(size_t(y - data.minY) * size_t(data.width()) + size_t(x - data.minX)) * 4 + size_t(c)] =
                    value(x, y, c);
    Imf::FrameBuffer buffer;
    const size_t xStride = 4 * sizeof(float), yStride = xStride * size_t(data.width());
    int c = 0;
    for (const char *name : {"R", "G", "B", "A"}) {
        char *base = reinterpret_cast<char *>(pixels.data() + c++) - ptrdiff_t(data.minX) * ptrdiff_t(xStride) -
                     ptrdiff_t(data.minY) * ptrdiff_t(yStride);
        buffer.insert(name, Imf::Slice(Imf::FLOAT, base, xStride, yStride));
    }
    Imf::OutputFile file(path.c_str(), header);
    file.setFrameBuffer(buffer);
    file.writePixels(data.height());
}

bool effectHolds(const float *stored) {
    for (int c = 0; c < 3; ++c)
        if (!(stored[c] >= 0 && stored[c] <= stored[3])) return false;
    return stored[3] >= 0 && stored[3] <= 1;
}

}  // namespace

// An opaque plate with colour from -0.5 to 8: the effect takes it clipped,
// and a float EXR output gives back every value it did not paint bit for
// bit, the effect's own where it painted; a PNG output says once how much
// it clipped.
TEST(LayerValues, AFloatPlateKeepsWhatTheEffectDoesNotPaint) {
    ScratchDir dir("float-plate");
    const Box box{0, 0, 47, 31};
    writeFloatExr(dir / "plate.exr", box, box, [](int x, int y, int c) {
        return c == 3 ? 1.0f : -0.5f + 8.5f * float((x * 7 + y * 13 + c * 5) % 17) / 16.0f;
    });
    const FloatImage plate = readExrFloats(dir / "plate.exr", PNG_DEFAULT_MAX_BYTES);
    const Args layer = {"--layer", dir / "plate.exr", "--frames", "3"};
    ToolRun exr = runTool(painted + layer + Args{"--exr-type", "float", "-o", dir / "out.exr"});
    ASSERT_EQ(exr.status, 0) << exr.output;
    ToolRun png = runTool(painted + layer + Args{"-o", dir / "out.png"});
    ASSERT_EQ(png.status, 0) << png.output;
    const FloatImage out = readExrFloats(dir / "out.exr", PNG_DEFAULT_MAX_BYTES);
    const RgbaImage effect = readPng(dir / "out.png");
    ASSERT_EQ(out.samples.size(), plate.samples.size());
    int64_t kept = 0, paintedChannels = 0, clipped = 0, lostUnderPaint = 0;
    for (size_t i = 0; i < plate.samples.size(); i += 4) {
        uint16_t received[4], given[4];
        exrPixelToEffectValues(&plate.samples[i], 16, received);
        bool lost = false;
        for (int c = 0; c < 4; ++c) given[c] = effectValueOfSample(effect.samples[i + size_t(c)], 16);
        // Colour is kept straight under the effect's alpha when that changed.
        const double plateAlpha = plate.samples[i + 3];
        const double alpha = given[3] == received[3] ? plateAlpha : given[3] / 32768.0;
        for (int c = 0; c < 4; ++c) {
            const float stored = plate.samples[i + size_t(c)];
            const float expected = c == 3                         ? float(alpha)
                                   : given[c] != received[c]      ? float(given[c] / 32768.0 * alpha)
                                   : given[3] == received[3]      ? stored
                                                                  : float(stored / plateAlpha * alpha);
            ASSERT_EQ(std::memcmp(&out.samples[i + size_t(c)], &expected, sizeof(float)), 0)
                << "pixel " << i / 4 << " channel " << c << ": " << out.samples[i + size_t(c)] << " for "
                << expected << " (effect " << given[c] << ", received " << received[c] << ")";
            (given[c] == received[c] ? kept : paintedChannels) += 1;
            lost = lost || (given[c] != received[c] && !(stored >= 0 && stored <= 1));
        }
        clipped += !effectHolds(&plate.samples[i]);
        lostUnderPaint += lost;
    }
    EXPECT_GT(kept, 1000);
    EXPECT_GT(paintedChannels, 100);
    ASSERT_GT(lostUnderPaint, 0);
    EXPECT_TRUE(exr.says("warning: " + std::to_string(lostUnderPaint) + " pixels in 1 frame held layer values "
                         "outside 0..1 that the OpenEXR output does not keep")) << exr.output;
    // Every plate pixel holds a value the PNG cannot; two frames, one line.
    ToolRun frames = runTool(painted + Args{"--layer", dir / "plate.exr", "--frames", "3-4", "-o", dir / "f_#.png"});
    ASSERT_EQ(frames.status, 0) << frames.output;
    std::istringstream lines(frames.output);
    int warnings = 0;
    for (std::string line; std::getline(lines, line);) warnings += line.find("warning") != std::string::npos;
    EXPECT_EQ(warnings, 1) << frames.output;
    EXPECT_TRUE(frames.says("warning: " + std::to_string(2 * clipped) +
                            " pixels in 2 frames held layer values outside 0..1 that the PNG output does not keep"))
        << frames.output;
}
