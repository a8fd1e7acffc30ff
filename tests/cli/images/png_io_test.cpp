// Image files in and out: the 16-bit mapping, the expansion of every PNG
// colour type to RGBA, TIFF and OpenEXR round trips, and the one comparison
// all frame tests rely on.
#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <random>

#include "cli/run_tool.h"
#include "cli/core/errors.h"
#include "cli/images/compare.h"
#include "cli/images/image_format.h"
#include "cli/images/png_deflate.h"
#include "cli/images/png.h"
#include "cli/render/frames.h"

using namespace pennaro_cli;

TEST(SixteenBitMapping, EveryEffectValueSurvivesAFileRoundTrip) {
    uint16_t previous = 0;
    for (uint32_t v = 0; v <= 32768; ++v) {
        uint16_t file = sixteenBitToFile(uint16_t(v));
        ASSERT_EQ(sixteenBitFromFile(file), v) << "value " << v;
        ASSERT_TRUE(v == 0 || file > previous) << "value " << v;
        previous = file;
    }
    EXPECT_EQ(sixteenBitToFile(0), 0);
    EXPECT_EQ(sixteenBitToFile(32768), 65535);
    EXPECT_EQ(sixteenBitToFile(16384), 32768);  // (16384 * 65535 + 16384) / 32768
    EXPECT_EQ(sixteenBitToFile(65535), 65535);  // beyond the range: clipped
    EXPECT_EQ(sixteenBitFromFile(1), 1);        // (32768 + 32767) / 65535
    EXPECT_EQ(sixteenBitFromFile(2), 1);
}

// Layers reach the effect through the mapping, 8-bit ones widened at depth
// 16 with (v * 32768 + 127) / 255; a 16-bit layer is refused at depth 8.
TEST(SixteenBitMapping, LayersAreReadWithTheMappingAndRefusedAtDepthEight) {
    RgbaImage sixteen = makeImage(1, 1, 16);
    sixteen.samples = {65535, 32768, 1, 0};
    EXPECT_EQ(layerAtEffectScale(sixteen, 16, "l.png").samples, (std::vector<uint16_t>{32768, 16384, 1, 0}));
    EXPECT_THROW(layerAtEffectScale(sixteen, 8, "l.png"), ToolError);
    RgbaImage eight = makeImage(1, 1, 8);
    eight.samples = {255, 128, 1, 0};
    EXPECT_EQ(layerAtEffectScale(eight, 16, "e.png").samples, (std::vector<uint16_t>{32768, 16448, 129, 0}));
    EXPECT_EQ(layerAtEffectScale(eight, 8, "e.png").samples, (std::vector<uint16_t>{255, 128, 1, 0}));
}

namespace {

RgbaImage pattern(int depth) {
    RgbaImage image = makeImage(7, 5, depth);  // odd sizes catch row mistakes
    uint32_t top = depth == 16 ? 65535u : 255u;
    for (size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = uint16_t((i * 7919u) % (top + 1));
    return image;
}

// A PNG of another colour type, written by libpng's own simplified interface.
RgbaImage throughLibpng(uint32_t width, uint32_t format, const void *pixels, const void *colormap = nullptr,
                       uint32_t colours = 0) {
    png_image info{};
    info.version = PNG_IMAGE_VERSION;
    info.width = width, info.height = 1, info.format = format, info.colormap_entries = colours;
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&info, nullptr, &size, 0, pixels, 0, colormap));
    std::vector<uint8_t> bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&info, bytes.data(), &size, 0, pixels, 0, colormap));
    bytes.resize(size);
    return decodePng(bytes, "made");
}

}  // namespace

// Noise (stored blocks), short and long runs (coded blocks), wide enough for
// several rows per deflated piece and tall enough for several pieces.
RgbaImage paintLike(int depth, int32_t width, int32_t height) {
    RgbaImage image = makeImage(width, height, depth);
    std::mt19937 random(uint32_t(width * depth));
    for (size_t i = 0; i < image.samples.size();) {
        const uint16_t value = uint16_t(random() >> (depth == 16 ? 16 : 24));
        const size_t run = random() % 4 == 0 ? random() % 3000 : 1;
        for (size_t k = 0; k < run && i < image.samples.size(); ++k) image.samples[i++] = value;
    }
    return image;
}

TEST(PngFiles, RgbaRoundTripsAtBothDepthsWhateverTheThreadCount) {
    pennaro_test::ScratchDir dir("png");
    for (int depth : {8, 16}) {
        for (const RgbaImage &image : {pattern(depth), paintLike(depth, 40000, 23), paintLike(depth, 3, 3000)}) {
            std::vector<uint8_t> oneThread;
            for (unsigned threads : {1u, 2u, 5u}) {
                setPngEncodeThreads(threads);
                const std::vector<uint8_t> bytes = encodePng(image);
                setPngEncodeThreads(1);
                if (threads == 1) oneThread = bytes;
                EXPECT_EQ(bytes, oneThread) << threads << " threads";
            }
            writePng(dir / "a.png", image);
            RgbaImage back = readPng(dir / "a.png");  // through libpng
            EXPECT_EQ(back.depth, depth);
            EXPECT_TRUE(compareImages(image, back).identical()) << describeComparison(compareImages(image, back));
        }
    }
}

// Pieces deflated on their own join into one stream that zlib inflates.
TEST(PngFiles, DeflatedPiecesJoinIntoOneStream) {
    std::mt19937 random(7);
    std::vector<uint8_t> noise(200000), runs(300000), empty;
    for (auto &b : noise) b = uint8_t(random());
    for (size_t i = 0; i < runs.size(); ++i) runs[i] = uint8_t((i / (1 + i % 700)) % 5);
    const struct {
        const std::vector<uint8_t> &data;
        std::vector<size_t> cuts;
    } cases[] = {{noise, {}}, {noise, {70000, 70001}}, {runs, {}}, {runs, {1, 2, 3, 258, 100000}}, {empty, {}}};
    for (const auto &c : cases) {
        std::vector<uint8_t> stream;
        size_t from = 0;
        for (size_t k = 0; k <= c.cuts.size(); ++k) {
            const size_t to = k < c.cuts.size() ? c.cuts[k] : c.data.size();
            deflateRuns(c.data.data() + from, to - from, k == c.cuts.size(), stream);
            from = to;
        }
        std::vector<uint8_t> back(c.data.size() + 1);
        z_stream z{};
        ASSERT_EQ(inflateInit2(&z, -15), Z_OK);
        z.next_in = stream.data(), z.avail_in = uInt(stream.size());
        z.next_out = back.data(), z.avail_out = uInt(back.size());
        EXPECT_EQ(inflate(&z, Z_FINISH), Z_STREAM_END) << (z.msg ? z.msg : "");
        EXPECT_EQ(z.avail_in, 0u);
        back.resize(z.total_out);
        inflateEnd(&z);
        EXPECT_TRUE(back == c.data) << c.data.size() << " bytes in " << c.cuts.size() + 1 << " pieces";
        if (&c.data == &noise) {
            EXPECT_LE(stream.size(), c.data.size() + 5 * (c.data.size() / 16384 + 8));  // stored
        }
    }
}

// Every format reads back what it wrote, in the effect's values: exactly,
// except that EXR keeps no colour under zero alpha and half floats keep 11
// significant bits (off by at most 32 of 32768 at depth 16: colour and alpha
// each lose up to half a unit in the last place before their division).
TEST(ImageFiles, EveryFormatReadsBackWhatItWrote) {
    pennaro_test::ScratchDir dir("formats");
    const struct {
        const char *name;
        bool exrFloat;
        int depth, tolerance;
    } cases[] = {{"a.png", false, 8, 0},   {"a.png", false, 16, 0}, {"a.tif", false, 8, 0},
                 {"a.TIFF", false, 16, 0}, {"a.exr", false, 8, 0},  {"a.exr", true, 8, 0},
                 {"a.exr", true, 16, 0},   {"a.exr", false, 16, 32}};
    for (const auto &c : cases) {
        const RgbaImage written = pattern(c.depth);
        writeImage(dir / c.name, written, {3, 2, c.exrFloat});
        const ImageHeader header = probeImage(dir / c.name);
        EXPECT_EQ(header.width, 7);
        EXPECT_EQ(header.height, 5);
        const RgbaImage back = readImage(dir / c.name, PNG_DEFAULT_MAX_BYTES, c.depth);
        ASSERT_EQ(back.depth, c.depth) << c.name;
        const bool exr = header.floating;
        int worst = 0;
        for (size_t i = 0; i < written.samples.size(); ++i) {
            const int alpha = effectValueOfSample(written.samples[i | 3], c.depth);
            const int expected = exr && alpha == 0 ? 0 : effectValueOfSample(written.samples[i], c.depth);
            worst = std::max(worst, std::abs(effectValueOfSample(back.samples[i], c.depth) - expected));
        }
        EXPECT_LE(worst, c.tolerance) << c.name << " depth " << c.depth << (c.exrFloat ? " float" : "");
    }
    // The EXR values themselves: value / 255 with colour premultiplied.
    RgbaImage one = makeImage(1, 1, 8);
    one.samples = {255, 51, 0, 51};
    writeImage(dir / "one.exr", one, {1, 1, true});
    Imf::RgbaInputFile file((dir / "one.exr").c_str());
    Imf::Rgba pixel;
    file.setFrameBuffer(&pixel, 1, 1);
    file.readPixels(0);
    EXPECT_NEAR(float(pixel.r), 0.2f, 1e-4);
    EXPECT_NEAR(float(pixel.g), 0.04f, 1e-4);
    EXPECT_NEAR(float(pixel.a), 0.2f, 1e-4);
    EXPECT_THROW(outputFormatFor("f_####.jpg", "-o"), UsageError);
    EXPECT_EQ(&outputFormatFor("/dev/null", "-o"), &pngFormat());
    EXPECT_THROW(probeImage(dir / "missing.exr"), ToolError);
}

TEST(PngFiles, GreyPaletteAndMissingAlphaAreExpandedToRgba) {
    const uint8_t grey[2] = {10, 200};  // no alpha: opaque
    RgbaImage g = throughLibpng(2, PNG_FORMAT_GRAY, grey);
    ASSERT_EQ(g.depth, 8);
    EXPECT_EQ(g.samples, (std::vector<uint16_t>{10, 10, 10, 255, 200, 200, 200, 255}));

    const uint8_t colours[8] = {255, 0, 0, 255, 0, 0, 255, 0}, indices[3] = {0, 1, 0};  // with transparency
    RgbaImage p = throughLibpng(3, PNG_FORMAT_RGBA_COLORMAP, indices, colours, 2);
    ASSERT_EQ(p.depth, 8);
    EXPECT_EQ(p.samples, (std::vector<uint16_t>{255, 0, 0, 255, 0, 0, 255, 0, 255, 0, 0, 255}));

    const uint16_t rgb[3] = {1, 30000, 65535};  // 16-bit without alpha: opaque at 65535, samples kept
    RgbaImage r = throughLibpng(1, PNG_FORMAT_LINEAR_RGB, rgb);
    ASSERT_EQ(r.depth, 16);
    EXPECT_EQ(r.samples, (std::vector<uint16_t>{1, 30000, 65535, 65535}));
}

TEST(PngFiles, BrokenFilesAreRefusedWithTheirName) {
    try {
        decodePng({'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0}, "hello.png");
        FAIL();
    } catch (const ToolError &e) {
        EXPECT_NE(std::string(e.what()).find("hello.png"), std::string::npos);
    }
    auto bytes = encodePng(pattern(8));
    // Refused before anything is allocated for them: a header far larger
    // than the data could inflate to, an image above the caller's limit, and
    // a chunk declaring more bytes than the file holds (libpng would allocate
    // its whole length first).
    auto resized = bytes;
    for (int i = 0; i < 4; ++i) resized[16 + i] = resized[20 + i] = uint8_t(30000 >> (24 - 8 * i));
    const uLong crc = crc32(0, resized.data() + 12, 17);
    for (int i = 0; i < 4; ++i) resized[29 + i] = uint8_t(crc >> (24 - 8 * i));
    auto overrun = bytes;
    const uint8_t longText[] = {0x64, 0, 0, 0, 't', 'E', 'X', 't', 'a', 'b'};
    overrun.insert(overrun.begin() + 33, longText, longText + sizeof longText);
    const struct {
        std::vector<uint8_t> bytes;
        uint64_t maxBytes;
        const char *says;
    } refused[] = {{resized, PNG_DEFAULT_MAX_BYTES, "declares 30000x30000 pixels (3434 MB) but holds too little"},
                   {bytes, 100, "needs 280 bytes to read, more than the 100 bytes allowed"},
                   {overrun, PNG_DEFAULT_MAX_BYTES, "p.png: the file ends inside its tEXt chunk"}};
    for (const auto &c : refused) {
        try {
            decodePng(c.bytes, "p.png", c.maxBytes);
            ADD_FAILURE() << c.says;
        } catch (const ToolError &e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
    bytes.resize(bytes.size() / 2);
    EXPECT_THROW(decodePng(bytes, "cut.png"), ToolError);
}

TEST(Comparison, CountsTheLargestDifferenceAndTheFirstPixel) {
    RgbaImage a = pattern(8), b = pattern(8);
    EXPECT_TRUE(compareImages(a, b).identical());
    b.pixel(3, 1)[3] ^= 4;  // alpha only
    b.pixel(6, 4)[0] = uint16_t(255 - b.pixel(6, 4)[0]);
    int expectedLargest = std::max(4, std::abs(int(a.pixel(6, 4)[0]) - int(b.pixel(6, 4)[0])));
    ImageComparison result = compareImages(a, b);
    EXPECT_EQ(result.differingPixels, 2);
    EXPECT_EQ(result.largestDifference, uint32_t(expectedLargest));
    EXPECT_EQ(result.firstX, 3);
    EXPECT_EQ(result.firstY, 1);
    EXPECT_NE(describeComparison(result).find("(3, 1)"), std::string::npos);
    // Colour under zero alpha counts.
    a.pixel(0, 0)[3] = 0;
    b = a;
    b.pixel(0, 0)[1] ^= 1;
    EXPECT_EQ(compareImages(a, b).differingPixels, 1);

    EXPECT_FALSE(compareImages(pattern(8), pattern(16)).identical());
    EXPECT_FALSE(compareImages(pattern(8), makeImage(5, 7, 8)).sameShape);
    RgbaImage diff = makeDiffImage(pattern(8), b);
    EXPECT_EQ(diff.width, 7);
    EXPECT_GT(diff.pixel(0, 0)[0], diff.pixel(1, 0)[0]);
}
