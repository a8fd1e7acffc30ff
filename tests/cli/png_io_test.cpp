// PNG files in and out: the 16-bit mapping, the expansion of every PNG
// colour type to RGBA, and the one comparison all frame tests rely on.
#include <gtest/gtest.h>
#include <png.h>

#include <filesystem>

#include "cli/run_tool.h"
#include "lib/common.h"
#include "lib/image_compare.h"
#include "lib/png_io.h"
#include "lib/render_frames.h"

using namespace pennaro_cli;

TEST(SixteenBitMapping, EveryEffectValueSurvivesAFileRoundTrip) {
    uint16_t previous = 0;
    for (uint32_t v = 0; v <= 32768; ++v) {
        uint16_t file = sixteenBitToFile(uint16_t(v));
        ASSERT_EQ(sixteenBitFromFile(file), v) << "value " << v;
        if (v > 0) {
            ASSERT_GT(file, previous) << "value " << v;
        }
        previous = file;
    }
    EXPECT_EQ(sixteenBitToFile(0), 0);
    EXPECT_EQ(sixteenBitToFile(32768), 65535);
    EXPECT_EQ(sixteenBitToFile(16384), 32768);  // (16384 * 65535 + 16384) / 32768
    EXPECT_EQ(sixteenBitToFile(65535), 65535);  // beyond the range: clipped
    EXPECT_EQ(sixteenBitFromFile(65535), 32768);
    EXPECT_EQ(sixteenBitFromFile(1), 1);        // (32768 + 32767) / 65535
    EXPECT_EQ(sixteenBitFromFile(2), 1);
}

TEST(SixteenBitMapping, EightBitSamplesWiden) {
    EXPECT_EQ(eightBitToSixteen(0), 0);
    EXPECT_EQ(eightBitToSixteen(255), 32768);
    EXPECT_EQ(eightBitToSixteen(1), 129);      // (32768 + 127) / 255
    EXPECT_EQ(eightBitToSixteen(128), 16448);  // (4194304 + 127) / 255, truncated
}

namespace {

PngImage pattern(int depth) {
    PngImage image = makePngImage(7, 5, depth);  // odd sizes catch row mistakes
    uint32_t top = depth == 16 ? 65535u : 255u;
    for (size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = uint16_t((i * 7919u) % (top + 1));
    return image;
}

std::vector<uint8_t> writeWithSimplifiedApi(png_image &info, const void *pixels, const void *colormap) {
    png_alloc_size_t size = 0;
    EXPECT_TRUE(png_image_write_to_memory(&info, nullptr, &size, 0, pixels, 0, colormap));
    std::vector<uint8_t> bytes(size);
    EXPECT_TRUE(png_image_write_to_memory(&info, bytes.data(), &size, 0, pixels, 0, colormap));
    bytes.resize(size);
    return bytes;
}

}  // namespace

TEST(PngFiles, RgbaRoundTripsAtBothDepths) {
    for (int depth : {8, 16}) {
        PngImage image = pattern(depth);
        auto dir = pennaro_test::scratchDir("png" + std::to_string(depth));
        writePng(dir / "a.png", image);
        PngImage back = readPng(dir / "a.png");
        EXPECT_EQ(back.depth, depth);
        EXPECT_TRUE(compareImages(image, back).identical()) << describeComparison(compareImages(image, back));
        std::filesystem::remove_all(dir);
    }
}

TEST(PngFiles, GreyPaletteAndMissingAlphaAreExpandedToRgba) {
    // Grey without alpha: opaque.
    png_image grey{};
    grey.version = PNG_IMAGE_VERSION;
    grey.width = 2, grey.height = 1, grey.format = PNG_FORMAT_GRAY;
    uint8_t greyPixels[2] = {10, 200};
    PngImage g = decodePng(writeWithSimplifiedApi(grey, greyPixels, nullptr), "grey");
    ASSERT_EQ(g.depth, 8);
    EXPECT_EQ(std::vector<uint16_t>(g.samples.begin(), g.samples.end()),
              (std::vector<uint16_t>{10, 10, 10, 255, 200, 200, 200, 255}));

    // Palette with transparency.
    png_image palette{};
    palette.version = PNG_IMAGE_VERSION;
    palette.width = 3, palette.height = 1, palette.format = PNG_FORMAT_RGBA_COLORMAP;
    palette.colormap_entries = 2;
    uint8_t colours[8] = {255, 0, 0, 255, 0, 0, 255, 0};
    uint8_t indices[3] = {0, 1, 0};
    PngImage p = decodePng(writeWithSimplifiedApi(palette, indices, colours), "palette");
    ASSERT_EQ(p.depth, 8);
    EXPECT_EQ(p.pixel(0, 0)[0], 255);
    EXPECT_EQ(p.pixel(0, 0)[3], 255);
    EXPECT_EQ(p.pixel(1, 0)[2], 255);
    EXPECT_EQ(p.pixel(1, 0)[3], 0);

    // 16-bit RGB without alpha: opaque at 65535, samples kept.
    png_image rgb16{};
    rgb16.version = PNG_IMAGE_VERSION;
    rgb16.width = 1, rgb16.height = 1, rgb16.format = PNG_FORMAT_LINEAR_RGB;
    uint16_t rgbPixels[3] = {1, 30000, 65535};
    PngImage r = decodePng(writeWithSimplifiedApi(rgb16, rgbPixels, nullptr), "rgb16");
    ASSERT_EQ(r.depth, 16);
    EXPECT_EQ(r.pixel(0, 0)[0], 1);
    EXPECT_EQ(r.pixel(0, 0)[1], 30000);
    EXPECT_EQ(r.pixel(0, 0)[2], 65535);
    EXPECT_EQ(r.pixel(0, 0)[3], 65535);
}

TEST(PngFiles, BrokenFilesAreRefusedWithTheirName) {
    std::vector<uint8_t> notPng = {'h', 'e', 'l', 'l', 'o', 0, 0, 0, 0};
    try {
        decodePng(notPng, "hello.png");
        FAIL();
    } catch (const ToolError &e) {
        EXPECT_NE(std::string(e.what()).find("hello.png"), std::string::npos);
    }
    auto bytes = encodePng(pattern(8));
    bytes.resize(bytes.size() / 2);
    EXPECT_THROW(decodePng(bytes, "cut.png"), ToolError);
}

TEST(LayerDepth, SixteenBitLayersAreReadWithTheMappingAndRefusedAtDepthEight) {
    PngImage sixteen = makePngImage(1, 1, 16);
    sixteen.samples = {65535, 32768, 1, 0};
    EffectImage layer = layerFromPng(sixteen, 16, "l.png");
    EXPECT_EQ(layer.samples, (std::vector<uint16_t>{32768, 16384, 1, 0}));
    EXPECT_THROW(layerFromPng(sixteen, 8, "l.png"), ToolError);

    PngImage eight = makePngImage(1, 1, 8);
    eight.samples = {255, 128, 1, 0};
    EXPECT_EQ(layerFromPng(eight, 16, "e.png").samples, (std::vector<uint16_t>{32768, 16448, 129, 0}));
    EXPECT_EQ(layerFromPng(eight, 8, "e.png").samples, (std::vector<uint16_t>{255, 128, 1, 0}));
}

TEST(Comparison, CountsTheLargestDifferenceAndTheFirstPixel) {
    PngImage a = pattern(8), b = pattern(8);
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
    PngImage c = a;
    c.pixel(0, 0)[3] = 0;
    PngImage d = c;
    d.pixel(0, 0)[1] ^= 1;
    EXPECT_EQ(compareImages(c, d).differingPixels, 1);

    EXPECT_FALSE(compareImages(pattern(8), pattern(16)).identical());
    EXPECT_FALSE(compareImages(pattern(8), makePngImage(5, 7, 8)).sameShape);
    PngImage diff = makeDiffImage(a, b);
    EXPECT_EQ(diff.width, a.width);
    EXPECT_GT(diff.pixel(3, 1)[0], diff.pixel(0, 0)[0]);
}
