// Layers in formats only OpenImageIO reads: a frame rendered on one is the
// frame rendered on the same pixels given as a PNG, and a damaged file is
// refused as any damaged layer is. Skipped in a build without OpenImageIO,
// where only the refusal's message can be checked.
#include <gtest/gtest.h>

#ifdef PENNARO_TEST_OPENIMAGEIO
#include <OpenImageIO/imageio.h>
#endif

#include <filesystem>

#include "cli/core/files.h"
#include "cli/images/image_format.h"
#include "cli/images/png.h"
#include "cli/run_tool.h"

using namespace pennaro_cli;
using pennaro_test::runTool;
using pennaro_test::ScratchDir;
using pennaro_test::ToolRun;
using Args = std::vector<std::string>;

namespace {

const std::string drawing =
    (std::filesystem::path(PENNARO_TEST_DATA_DIR) / "conformance" / "render-117.bin").string();

#ifdef PENNARO_TEST_OPENIMAGEIO
namespace OIIO = OIIO_NAMESPACE;
constexpr int W = 48, H = 32;

// A file written by OpenImageIO's own writer: `channels` samples a pixel of
// `type`, stored in the file at `bits` per sample.
template <typename Sample>
void writeWithOpenImageIO(const std::string &path, int channels, OIIO::TypeDesc type, int bits,
                          const std::vector<Sample> &samples) {
    OIIO::ImageSpec spec(W, H, channels, type);
    if (bits) spec.attribute("oiio:BitsPerSample", bits);
    if (channels == 4) spec.attribute("oiio:UnassociatedAlpha", 1);
    auto out = OIIO::ImageOutput::create(path);
    ASSERT_TRUE(out && out->open(path, spec)) << OIIO::geterror();
    ASSERT_TRUE(out->write_image(type, samples.data())) << out->geterror();
    ASSERT_TRUE(out->close());
}

// The frame rendered on `layer` and on `png` at `depth`, byte for byte.
void expectSameFrame(const ScratchDir &dir, const std::string &layer, const std::string &png, int depth) {
    const Args render = {"render", drawing, "--playback-mode", "All Strokes", "-q", "--frames", "3",
                         "--depth", std::to_string(depth)};
    Args a = render, b = render;
    a.insert(a.end(), {"--layer", layer, "-o", dir / "a.png"});
    b.insert(b.end(), {"--layer", png, "-o", dir / "b.png"});
    const ToolRun ra = runTool(a), rb = runTool(b);
    ASSERT_EQ(ra.status, 0) << ra.output;
    ASSERT_EQ(rb.status, 0) << rb.output;
    EXPECT_EQ(readFileBytes(dir / "a.png"), readFileBytes(dir / "b.png")) << layer;
}
#endif

}  // namespace

// Without OpenImageIO, such a layer is refused naming the package that
// brings it.
TEST(OiioLayers, TheRefusalNamesThePackage) {
    EXPECT_NE(oiioMissingMessage().find("install libopenimageio-dev"), std::string::npos);
    EXPECT_NE(oiioMissingMessage().find("rebuild"), std::string::npos);
    const ToolRun version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_TRUE(version.says(oiioBuiltIn() ? "layers through OpenImageIO 2" : "libopenimageio-dev")) << version.output;
}

TEST(OiioLayers, RenderAsTheSamePixelsInPng) {
#ifndef PENNARO_TEST_OPENIMAGEIO
    GTEST_SKIP() << "built without OpenImageIO";
#else
    ScratchDir dir("oiio-layers");
    // 8-bit RGBA with every kind of alpha, as Targa and as PNG.
    RgbaImage straight = makeImage(W, H, 8);
    std::vector<uint8_t> bytes(straight.samples.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        straight.samples[i] = bytes[i] = uint8_t(i % 4 == 3 ? (i / 4 % 5) * 60 + 15 : (i * 37) % 251);
    writeWithOpenImageIO(dir / "plate.tga", 4, OIIO::TypeDesc::UINT8, 0, bytes);
    writeImage(dir / "plate.png", straight);
    expectSameFrame(dir, dir / "plate.tga", dir / "plate.png", 8);
    EXPECT_TRUE(runTool({"--version"}).says("targa"));

    // 10-bit RGB DPX (not a layout the tool writes), and 16-bit grey as
    // PGM: the PNGs hold what OpenImageIO's own reader gives back, grey as
    // RGB.
    std::vector<uint16_t> rgb(size_t(W) * H * 3), grey(size_t(W) * H);
    for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = uint16_t(i * 977 % 65536);
    for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint16_t(i * 1361 % 65536);
    writeWithOpenImageIO(dir / "plate.dpx", 3, OIIO::TypeDesc::UINT16, 10, rgb);
    writeWithOpenImageIO(dir / "grey.pgm", 1, OIIO::TypeDesc::UINT16, 16, grey);
    for (const char *name : {"plate.dpx", "grey.pgm"}) {
        auto in = OIIO::ImageInput::open(dir / name);
        ASSERT_TRUE(in);
        ASSERT_EQ(in->spec().format, OIIO::TypeDesc::UINT16) << name;
        ASSERT_TRUE(in->read_image(0, 0, 0, name[0] == 'p' ? 3 : 1, OIIO::TypeDesc::UINT16,
                                   name[0] == 'p' ? rgb.data() : grey.data()));
    }
    RgbaImage dpx = makeImage(W, H, 16), pgm = makeImage(W, H, 16);
    for (size_t p = 0; p < grey.size(); ++p)
        for (size_t c = 0; c < 4; ++c) {
            dpx.samples[p * 4 + c] = c == 3 ? 65535 : rgb[p * 3 + c];
            pgm.samples[p * 4 + c] = c == 3 ? 65535 : grey[p];
        }
    writeImage(dir / "dpx.png", dpx);
    writeImage(dir / "pgm.png", pgm);
    expectSameFrame(dir, dir / "plate.dpx", dir / "dpx.png", 16);
    expectSameFrame(dir, dir / "grey.pgm", dir / "pgm.png", 16);
    EXPECT_EQ(probeImage(dir / "plate.dpx").depth, 16);

    // Cut short or garbage: refused as a damaged layer (exit 1), nothing
    // written, never a crash.
    std::vector<uint8_t> dpxBytes = readFileBytes(dir / "plate.dpx"), tgaBytes = readFileBytes(dir / "plate.tga");
    dpxBytes.resize(dpxBytes.size() / 2);
    tgaBytes.resize(tgaBytes.size() / 3);
    writeFileAtomically(dir / "cut.dpx", dpxBytes);
    writeFileAtomically(dir / "cut.tga", tgaBytes);
    writeFileAtomically(dir / "junk.tga", std::vector<uint8_t>(300, 0xA7));
    writeFileAtomically(dir / "junk.null", std::vector<uint8_t>(300, 0));
    for (const char *name : {"cut.dpx", "cut.tga", "junk.tga", "junk.null"}) {
        const ToolRun run = runTool({"render", drawing, "-q", "--frames", "3", "--layer", dir / name, "-o",
                                     dir / "out.png"});
        EXPECT_EQ(run.status, 1) << name << ": " << run.output;
        EXPECT_TRUE(run.says(name)) << run.output;
        EXPECT_TRUE(run.says("damaged or truncated") || run.says("is not an image the tool reads")) << run.output;
        EXPECT_FALSE(std::filesystem::exists(dir / "out.png")) << name;
        std::filesystem::remove(dir / "out.png");
    }
#endif
}
