// Layer files made to cost: a few bytes declaring a huge image, and header
// values that would make a library allocate gigabytes, each refused before
// anything is allocated for them. The cost of each refusal is measured in a
// child process, so that nothing the test itself holds counts.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfOutputFile.h>
#include <ImfTiledOutputFile.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

#include "cli/core/files.h"
#include "cli/core/errors.h"
#include "cli/images/image_format.h"
#include "cli/run_tool.h"

using namespace pennaro_cli;

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes &b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)}); }
void put32(Bytes &b, uint32_t v) { b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}); }
void putText(Bytes &b, const std::string &s) { b.insert(b.end(), s.begin(), s.end() + 1); }

// What reading one file cost a fresh process: CPU seconds, the growth of its
// resident memory, and the refusal it gave.
struct Cost {
    double seconds = 0;
    long growthMb = 0;
    std::string refusal;
};

long residentKb() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return 0;
}

Cost costOfReading(const Bytes &file, const std::string &extension) {
    pennaro_test::ScratchDir dir("hostile-layer");
    const std::string path = dir / ("layer" + extension);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char *>(file.data()), std::streamsize(file.size()));
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        close(pipeEnds[0]);
        const long before = residentKb();
        std::string refusal = "(read without refusal)";
        try {
            readImage(path, PNG_DEFAULT_MAX_BYTES, 16);
        } catch (const ToolError &e) {
            refusal = e.what();
        }
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        const double seconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        const std::string report =
            std::to_string(seconds) + " " + std::to_string((usage.ru_maxrss - before) / 1024) + " " + refusal;
        (void)!write(pipeEnds[1], report.data(), report.size());
        _exit(0);
    }
    close(pipeEnds[1]);
    std::string report;
    char buffer[512];
    for (ssize_t n; (n = read(pipeEnds[0], buffer, sizeof buffer)) > 0;) report.append(buffer, size_t(n));
    close(pipeEnds[0]);
    waitpid(child, nullptr, 0);
    Cost cost;
    std::istringstream in(report);
    in >> cost.seconds >> cost.growthMb;
    std::getline(in >> std::ws, cost.refusal);
    return cost;
}

// A grey 8-bit TIFF declaring width x height, deflated, in one strip of
// `stripBytes` at offset 8 (the directory itself): 122 bytes in all.
Bytes tiffDeclaring(uint32_t width, uint32_t height, uint32_t stripBytes) {
    Bytes b = {'I', 'I', 42, 0};
    put32(b, 8);
    put16(b, 9);
    const uint32_t entries[9][3] = {{256, 4, width}, {257, 4, height}, {258, 3, 8}, {259, 3, 8}, {262, 3, 1},
                                    {273, 4, 8},     {277, 3, 1},      {278, 4, height}, {279, 4, stripBytes}};
    for (const auto &e : entries) {
        put16(b, e[0]);
        put16(b, e[1]);
        put32(b, 1);
        put32(b, e[2]);
    }
    put32(b, 0);
    return b;
}

void exrAttribute(Bytes &b, const std::string &name, const std::string &type, const Bytes &value,
                  int32_t declared = -1) {
    putText(b, name);
    putText(b, type);
    put32(b, uint32_t(declared >= 0 ? declared : int32_t(value.size())));
    b.insert(b.end(), value.begin(), value.end());
}

// A ZIP-compressed RGBA half EXR header declaring size x size, without the
// table of chunks that must follow it.
Bytes exrHeaderDeclaring(int32_t size) {
    Bytes b = {0x76, 0x2f, 0x31, 0x01, 2, 0, 0, 0};
    Bytes channels, window, one = {0, 0, 0x80, 0x3f}, centre(8, 0);
    for (const char *c : {"A", "B", "G", "R"}) {
        putText(channels, c);
        for (uint32_t v : {1u, 0u, 1u, 1u}) put32(channels, v);  // half, linear 0 + reserved, sampling 1 x 1
    }
    channels.push_back(0);
    for (int32_t v : {0, 0, size - 1, size - 1}) put32(window, uint32_t(v));
    exrAttribute(b, "channels", "chlist", channels);
    exrAttribute(b, "compression", "compression", {3});
    exrAttribute(b, "dataWindow", "box2i", window);
    exrAttribute(b, "displayWindow", "box2i", window);
    exrAttribute(b, "lineOrder", "lineOrder", {0});
    exrAttribute(b, "pixelAspectRatio", "float", one);
    exrAttribute(b, "screenWindowCenter", "v2f", centre);
    exrAttribute(b, "screenWindowWidth", "float", one);
    return b;
}

}  // namespace

// The figures of a 122-byte TIFF and an 835-byte EXR declaring 16000x16000,
// which once took 2 GB and 7 s each before they were refused; and an EXR
// whose table of chunks is whole but points every chunk at the same few
// bytes.
TEST(HostileLayers, FilesTooSmallForTheImageTheyDeclareAreRefusedAtOnce) {
    Bytes tiff = tiffDeclaring(16000, 16000, 114);
    ASSERT_EQ(tiff.size(), 122u);
    Bytes cut = exrHeaderDeclaring(16000);
    cut.push_back(0);
    cut.resize(835, 0);  // the table of 1000 chunks, cut short
    Bytes lying = exrHeaderDeclaring(16000);
    lying.push_back(0);
    const uint64_t chunkAt = lying.size() + 8000;
    for (int i = 0; i < 1000; ++i)
        for (int k = 0; k < 8; ++k) lying.push_back(uint8_t(chunkAt >> (8 * k)));
    put32(lying, 0);
    put32(lying, 100);
    lying.resize(lying.size() + 100, 0);
    const struct {
        const Bytes &file;
        const char *extension, *says;
    } cases[] = {{tiff, ".tif", "declares 16000x16000 pixels"},
                 {cut, ".exr", "ends inside its table of 1000 chunks"},
                 {lying, ".exr", "declares 16000x16000 pixels"}};
    for (const auto &c : cases) {
        const Cost cost = costOfReading(c.file, c.extension);
        EXPECT_NE(cost.refusal.find(c.says), std::string::npos) << cost.refusal;
        EXPECT_NE(cost.refusal.find("damaged or truncated"), std::string::npos) << cost.refusal;
        EXPECT_LT(cost.seconds, 0.1) << c.extension;
        EXPECT_LT(cost.growthMb, 64) << c.extension;
    }
}

// Sizes inside the header are held to the file before the library sees
// them: a string attribute of 2 GiB, a string inside a string vector, a
// preview image larger than its attribute.
TEST(HostileLayers, ExrHeaderValuesLargerThanTheFileAreRefused) {
    Bytes huge = exrHeaderDeclaring(4);
    exrAttribute(huge, "comments", "string", {'x'}, INT32_MAX);
    Bytes vector = exrHeaderDeclaring(4), inner;
    put32(inner, 0x7fffff00);
    exrAttribute(vector, "multiView", "stringvector", inner);
    Bytes preview = exrHeaderDeclaring(4), previewValue;
    put32(previewValue, 65535);
    put32(previewValue, 65535);
    exrAttribute(preview, "preview", "preview", previewValue);
    for (Bytes *file : {&huge, &vector, &preview}) {
        file->push_back(0);
        file->resize(file->size() + 64, 0);
        const Cost cost = costOfReading(*file, ".exr");
        EXPECT_NE(cost.refusal.find("layer.exr: "), std::string::npos) << cost.refusal;
        EXPECT_NE(cost.refusal.find("damaged"), std::string::npos) << cost.refusal;
        EXPECT_LT(cost.growthMb, 64) << cost.refusal;
    }
    const Cost cost = costOfReading(huge, ".exr");
    EXPECT_NE(cost.refusal.find("\"comments\" declares 2147483647 bytes"), std::string::npos) << cost.refusal;
}

// The bounds are tight where a compression stores data as it is: tiled and
// uncompressed files, whose chunks hold exactly what they declare, with
// partial tiles at the edges, still read.
TEST(HostileLayers, UncompressedAndTiledFilesStillRead) {
    pennaro_test::ScratchDir dir("tight-layers");
    const int width = 40, height = 37;
    {
        Imf::Header header(width, height);
        header.compression() = Imf::NO_COMPRESSION;
        header.channels().insert("Y", Imf::Channel(Imf::HALF));
        header.setTileDescription(Imf::TileDescription(16, 16, Imf::MIPMAP_LEVELS));
        std::vector<half> grey(size_t(width) * height, half(0.5f));
        Imf::FrameBuffer buffer;
        buffer.insert("Y", Imf::Slice(Imf::HALF, reinterpret_cast<char *>(grey.data()), sizeof(half),
                                      sizeof(half) * width));
        Imf::TiledOutputFile file((dir / "tiled.exr").c_str(), header);
        file.setFrameBuffer(buffer);
        for (int level = 0; level < file.numLevels(); ++level)
            file.writeTiles(0, file.numXTiles(level) - 1, 0, file.numYTiles(level) - 1, level);
    }
    {
        Imf::Header header(width, height);
        header.compression() = Imf::NO_COMPRESSION;
        header.channels().insert("Y", Imf::Channel(Imf::FLOAT));
        std::vector<float> grey(size_t(width) * height, 0.5f);
        Imf::FrameBuffer buffer;
        buffer.insert("Y", Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(grey.data()), sizeof(float),
                                      sizeof(float) * width));
        Imf::OutputFile file((dir / "lines.exr").c_str(), header);
        file.setFrameBuffer(buffer);
        file.writePixels(height);
    }
    {
        TIFF *tif = TIFFOpen((dir / "tiled.tif").c_str(), "w");
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, uint32_t(width));
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, uint32_t(height));
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, uint16_t(8));
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, uint16_t(3));
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
        TIFFSetField(tif, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, uint32_t(16));
        TIFFSetField(tif, TIFFTAG_TILELENGTH, uint32_t(16));
        std::vector<uint8_t> tile(16 * 16 * 3, 128);
        for (uint32_t y = 0; y < uint32_t(height); y += 16)
            for (uint32_t x = 0; x < uint32_t(width); x += 16) TIFFWriteTile(tif, tile.data(), x, y, 0, 0);
        TIFFClose(tif);
    }
    for (const char *name : {"tiled.exr", "lines.exr", "tiled.tif"}) {
        const RgbaImage image = readImage(dir / name, PNG_DEFAULT_MAX_BYTES, 8);
        ASSERT_EQ(image.width, width) << name;
        ASSERT_EQ(image.height, height) << name;
        EXPECT_EQ(image.samples[0], 128u) << name;
        EXPECT_EQ(image.samples.back(), 255u) << name;
    }
    // The same files with their first chunk claiming 4 bytes fewer than its
    // pixels: the library would decode past the chunk.
    const struct {
        const char *name;
        Bytes firstChunk;  // its coordinates and its length
    } shortened[] = {{"lines.exr", {0, 0, 0, 0, 160, 0, 0, 0}},
                     {"tiled.exr", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0}}};
    for (const auto &c : shortened) {
        Bytes bytes = pennaro_cli::readFileBytes(dir / c.name);
        const auto at = std::search(bytes.begin(), bytes.end(), c.firstChunk.begin(), c.firstChunk.end());
        ASSERT_NE(at, bytes.end()) << c.name;
        uint8_t *length = &*at + c.firstChunk.size() - 4;
        const uint32_t fewer = (uint32_t(length[0]) | uint32_t(length[1]) << 8) - 4;
        length[0] = uint8_t(fewer);
        length[1] = uint8_t(fewer >> 8);
        const Cost cost = costOfReading(bytes, ".exr");
        EXPECT_NE(cost.refusal.find("uncompressed OpenEXR chunk holds fewer bytes than its pixels"), std::string::npos)
            << c.name << ": " << cost.refusal;
    }
}

// --skip-existing keeps a frame only when the whole file is what the run
// would write: cut at any byte, or of another depth, pixel type or size, it
// is rendered again.
TEST(ImageFiles, OnlyAWholeFileOfWhatTheRunWritesCountsAsFinished) {
    pennaro_test::ScratchDir dir("whole-frames");
    const struct {
        const char *name;
        int depth;
        bool exrFloat;
    } cases[] = {{"f.png", 8, false}, {"f.png", 16, false}, {"f.tif", 16, false}, {"f.exr", 16, false},
                 {"f.exr", 8, true}};
    for (const auto &c : cases) {
        RgbaImage image = makeImage(6, 4, c.depth);
        for (size_t i = 0; i < image.samples.size(); ++i) image.samples[i] = uint16_t(i * 37 % 256);
        const std::string path = dir / c.name;
        writeImage(path, image, {1, 1, c.exrFloat});
        const ImageFormat &format = formatOfFile(path);
        const ExpectedImage expected{6, 4, c.depth, c.exrFloat};
        EXPECT_TRUE(fileHoldsImage(path, format, expected)) << c.name;
        ExpectedImage other = expected;
        if (&format == &exrFormat()) other.exrFloat = !other.exrFloat;
        else other.depth = 24 - other.depth;
        EXPECT_FALSE(fileHoldsImage(path, format, other)) << c.name;
        EXPECT_FALSE(fileHoldsImage(path, format, {4, 6, c.depth, c.exrFloat})) << c.name;
        std::ifstream in(path, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        const std::string cut = dir / (std::string("cut-") + c.name);
        size_t kept = 0;
        for (size_t length = 0; length < bytes.size(); ++length) {
            std::ofstream(cut, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(length));
            if (fileHoldsImage(cut, format, expected)) {
                ADD_FAILURE() << c.name << " cut to " << length << " of " << bytes.size() << " bytes was kept";
                if (++kept == 3) break;
            }
        }
    }
}
