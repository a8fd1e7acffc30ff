// OpenEXR layers as pipelines hold them: values beyond 0..1 the effect
// cannot take, kept where it does not paint and reported where they are lost.
#include <gtest/gtest.h>

#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/run_tool.h"
#include "cli/images/image_format.h"
#include "cli/core/files.h"
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

namespace {

// A plate's value at a pixel of the shot: opaque, smooth, in 0..1.
float plateValue(int x, int y, int c) {
    return c == 3 ? 1.0f : float(((x + 300) * (3 + c) + (y + 300) * (5 - c)) % 1024) / 1024.0f;
}

FloatImage readWithWindows(const std::string &path, ImageWindows &windows) {
    return readExrFloats(path, PNG_DEFAULT_MAX_BYTES, &windows);
}

// The effect's value of channel c at (x, y) of an image whose first pixel
// lies at (left, top) of the shot.
uint16_t effectValue(const FloatImage &image, int left, int top, int x, int y, int c, int depth) {
    uint16_t values[4];
    exrPixelToEffectValues(&image.samples[(size_t(y - top) * size_t(image.width) + size_t(x - left)) * 4], depth,
                           values);
    return values[c];
}

}  // namespace

// An overscan plate is described to the effect with its display window as
// the layer and the overscan as more image around it: inside the display
// window the strokes land where they land on the plate cut to its display
// window, up to the rounding of dab centres near the edge; the output keeps
// both windows, and a PNG output holds the display window.
TEST(LayerValues, OverscanAndCgPlatesKeepTheirWindows) {
    ScratchDir dir("windows");
    // The geometry of a 1920x1080 plate with 64 pixels of overscan, smaller.
    const int W = 160, H = 90, O = 16;
    const Box display{0, 0, W - 1, H - 1}, overscan{-O, -O, W + O - 1, H + O - 1}, inside{W / 4, H / 4, W * 3 / 4, H * 3 / 4};
    writeFloatExr(dir / "over.exr", display, overscan, plateValue);
    writeFloatExr(dir / "cut.exr", display, display, plateValue);
    writeFloatExr(dir / "cg.exr", display, inside, plateValue);
    // The CG element padded to its display window with transparency.
    writeFloatExr(dir / "padded.exr", display, display, [&](int x, int y, int c) {
        const bool in = x >= inside.minX && x <= inside.maxX && y >= inside.minY && y <= inside.maxY;
        return in ? plateValue(x, y, c) : 0.0f;
    });
    for (const char *depth : {"8", "16"}) {
        const int bits = std::stoi(depth);
        auto render = [&](const std::string &layer, const std::string &out) {
            ToolRun run = runTool(Args{"render", drawing, "--playback-mode", "All Strokes", "--depth", depth,
                                       "--frames", "3", "--exr-type", "float", "--layer", dir / layer, "-o",
                                       dir / out});
            EXPECT_EQ(run.status, 0) << run.output;
            return run;
        };
        render("over.exr", "over-out.exr");
        render("cut.exr", "cut-out.exr");
        // A re-run knows the frame it wrote with both windows as whole.
        ToolRun again = runTool(Args{"render", drawing, "--playback-mode", "All Strokes", "--depth", depth, "--frames",
                                     "3", "--exr-type", "float", "--layer", dir / "over.exr", "-o",
                                     dir / "over-out.exr", "--skip-existing"});
        EXPECT_TRUE(again.says("rendered 0 frames (1 left as they were)")) << again.output;
        ImageWindows windows, cutWindows;
        const FloatImage over = readWithWindows(dir / "over-out.exr", windows);
        const FloatImage cut = readWithWindows(dir / "cut-out.exr", cutWindows);
        EXPECT_EQ(windows, (ImageWindows{-O, -O, W + 2 * O, H + 2 * O, 0, 0, W, H}));
        // Compared over the display window, away from its edge by the
        // largest brush of the drawing.
        const int edge = 12, unit = bits == 16 ? 4 : 1;
        int64_t paintedPixels = 0, differing = 0;
        for (int y = edge; y < H - edge; ++y)
            for (int x = edge; x < W - edge; ++x) {
                bool painted = false, differs = false;
                for (int c = 0; c < 4; ++c) {
                    const int a = effectValue(over, -O, -O, x, y, c, bits);
                    const int b = effectValue(cut, 0, 0, x, y, c, bits);
                    uint16_t plate[4];
                    const float stored[4] = {plateValue(x, y, 0), plateValue(x, y, 1), plateValue(x, y, 2), 1.0f};
                    exrPixelToEffectValues(stored, bits, plate);
                    painted = painted || b != plate[c];
                    ASSERT_LE(std::abs(a - b), unit) << depth << " at " << x << "," << y;
                    differs = differs || a != b;
                }
                paintedPixels += painted;
                differing += differs;
            }
        EXPECT_GT(paintedPixels, 500) << depth;
        // Dab centres are rounded after the origin is added: a few tenths of
        // a percent of the painted pixels differ, by a few units at most.
        EXPECT_LE(differing * 200, paintedPixels) << depth << ": " << differing << " of " << paintedPixels;
        // Paint goes on into the overscan.
        int64_t overscanPainted = 0;
        for (int y = -O; y < H + O; ++y)
            for (int x = -O; x < W + O; ++x)
                if (x < 0 || y < 0 || x >= W || y >= H) {
                    const float stored[4] = {plateValue(x, y, 0), plateValue(x, y, 1), plateValue(x, y, 2), 1.0f};
                    uint16_t plate[4];
                    exrPixelToEffectValues(stored, bits, plate);
                    overscanPainted += effectValue(over, -O, -O, x, y, 0, bits) != plate[0];
                }
        EXPECT_GT(overscanPainted, 0) << depth;
        // A PNG output holds the display window, and says so.
        ToolRun png = render("over.exr", "over-out.png");
        EXPECT_TRUE(png.says("PNG output holds its display window (" + std::to_string(W) + "x" + std::to_string(H) + ")")) << png.output;
        const RgbaImage held = readPng(dir / "over-out.png");
        ASSERT_EQ(held.width, W);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x)
                for (int c = 0; c < 4; ++c)
                    ASSERT_EQ(effectValueOfSample(held.pixel(x, y)[c], bits), effectValue(over, -O, -O, x, y, c, bits))
                        << depth << " at " << x << "," << y;
        // A CG element inside its display window paints as the element
        // padded with transparency, past its bounding box.
        render("cg.exr", "cg-out.exr");
        render("padded.exr", "padded-out.exr");
        ImageWindows cgWindows, paddedWindows;
        const FloatImage cg = readWithWindows(dir / "cg-out.exr", cgWindows);
        EXPECT_EQ(cgWindows, (ImageWindows{0, 0, W, H, 0, 0, W, H}));
        EXPECT_EQ(cg.samples, readWithWindows(dir / "padded-out.exr", paddedWindows).samples) << depth;
    }
    // The origin must stay whole pixels when downsampled; the display
    // window must not change along a sequence.
    ToolRun third = runTool(Args{"render", drawing, "--frames", "3", "--downsample", "1/3", "--layer",
                                 dir / "over.exr", "-o", dir / "third.exr"});
    EXPECT_EQ(third.status, 1);
    EXPECT_TRUE(third.says("display window lies 16,16 pixels into its data window, which --downsample 1/3,1/3 "
                           "does not scale to whole pixels")) << third.output;
    ToolRun half = runTool(Args{"render", drawing, "--frames", "3", "--downsample", "1/2", "--layer",
                                dir / "over.exr", "-o", dir / "half.exr"});
    EXPECT_EQ(half.status, 0) << half.output;
    ImageWindows halfWindows;
    readWithWindows(dir / "half.exr", halfWindows);
    EXPECT_EQ(halfWindows, (ImageWindows{-8, -8, 96, 61, 0, 0, 80, 45}));
    std::filesystem::copy_file(dir / "over.exr", dir / "seq_3.exr");
    writeFloatExr(dir / "seq_4.exr", Box{0, 0, 161, 89}, overscan, plateValue);
    ToolRun moved = runTool(Args{"render", drawing, "--frames", "3-4", "--layer", dir / "seq_#.exr", "-o",
                                 dir / "moved_#.exr"});
    EXPECT_EQ(moved.status, 1);
    EXPECT_TRUE(moved.says("every frame of a sequence needs one display window")) << moved.output;
}

// What a pipeline reads from headers: the compression asked for, the frame
// rate and the frame's time code, the software that wrote the file, and
// TIFF strips of a useful size. A re-run takes another compression for a
// file to write again.
TEST(LayerValues, HeadersSayWhatAPipelineReads) {
    ScratchDir dir("headers");
    const Args run = {"render", drawing, "--frames", "90", "--fps", "24", "--frame-offset", "10", "--size",
                      "640x360", "-q"};
    auto header = [&](const std::string &program, const std::string &file) {
        const std::string text = dir / (file + ".txt");
        EXPECT_EQ(std::system((program + " " + pennaro_test::shellQuote(dir / file) + " > " +
                               pennaro_test::shellQuote(text) + " 2>&1").c_str()), 0);
        std::ifstream in(text);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    ASSERT_EQ(runTool(run + Args{"--exr-compression", "piz", "-o", dir / "f_####.exr"}).status, 0);
    const std::string exr = header("exrheader", "f_0090.exr");
    for (const char *expected : {"compression (type compression): piz", "framesPerSecond (type rational): 24/1",
                                 "time 00:00:03:18", "software (type string): \"Pennaro "})
        EXPECT_NE(exr.find(expected), std::string::npos) << expected << "\n" << exr;
    ASSERT_EQ(runTool(run + Args{"-o", dir / "f_####.tif"}).status, 0);
    const std::string tiff = header("tiffinfo", "f_0090.tif");
    EXPECT_NE(tiff.find("Software: Pennaro "), std::string::npos) << tiff;
    EXPECT_NE(tiff.find("Rows/Strip: 25"), std::string::npos) << tiff;  // 64 KB of 2560-byte rows
    ASSERT_EQ(runTool(run + Args{"-o", dir / "f_####.png"}).status, 0);
    const auto png = readFileBytes(dir / "f_0090.png");
    EXPECT_NE(std::string(png.begin(), png.end()).find(std::string("tEXtSoftware\0Pennaro ", 21)), std::string::npos);
    ToolRun again = runTool(Args{"render", drawing, "--frames", "90", "--fps", "24", "--size", "640x360",
                                 "--skip-existing", "-o", dir / "f_####.exr"});
    EXPECT_TRUE(again.says("rendered 1 frame to")) << again.output;
    EXPECT_EQ(runTool(run + Args{"--exr-compression", "b44", "-o", dir / "x.exr"}).status, 2);

    // DPX: 16-bit RGBA holds the PNG's values; depth 8 is 10-bit RGB, with
    // a note that alpha is dropped; the time code in the television header.
    ToolRun dpx16 = runTool(run + Args{"--depth", "16", "-o", dir / "d16_####.dpx"});
    ASSERT_EQ(dpx16.status, 0) << dpx16.output;
    ASSERT_EQ(runTool(run + Args{"--depth", "16", "-o", dir / "d16_####.png"}).status, 0);
    EXPECT_EQ(runTool({"compare", dir / "d16_0090.dpx", dir / "d16_0090.png"}).status, 0);
    ToolRun dpx8 = runTool(Args{"render", drawing, "--frames", "90", "--fps", "24", "--size", "640x360", "-o",
                                dir / "d8_####.dpx"});
    EXPECT_TRUE(dpx8.says("note: DPX frames of depth 8 are 10-bit RGB: alpha is not written")) << dpx8.output;
    const auto bytes = readFileBytes(dir / "d8_0090.dpx");
    ASSERT_EQ(bytes.size(), 2048u + 640u * 360u * 4u);
    EXPECT_EQ(bytes[780 + 20], 50);  // RGB
    EXPECT_EQ(bytes[780 + 23], 10);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 1920, bytes.begin() + 1924), (std::vector<uint8_t>{0, 0, 3, 0x18}));
    ToolRun kept = runTool(Args{"render", drawing, "--frames", "90", "--fps", "24", "--size", "640x360",
                                "--skip-existing", "-o", dir / "d8_####.dpx"});
    EXPECT_TRUE(kept.says("rendered 0 frames (1 left as they were)")) << kept.output;
}
