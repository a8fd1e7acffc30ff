// OpenEXR through the format's own library: written as scanline RGBA, ZIP
// compressed (lossless), half or float channels, premultiplied alpha, the
// pixel aspect in the header. The arithmetic is fixed so that a frame comes
// back as it was written: colour = (v / scale) × (a / scale) in double, then
// stored as the channel type; read as round(colour / alpha × scale).
//
// A frame is written as value / 255 (depth 8) or value / 32768 (depth 16),
// colour multiplied by alpha, with no colour transform; it is read back at
// the depth the caller asks for, colour divided by alpha and rounded to the
// nearest value. Half floats keep 11 significant bits, so every 8-bit frame
// and every frame written as float comes back exactly; a 16-bit frame
// written as half comes back within 1/1024 of full scale (32 of 32768),
// colour being divided by a rounded alpha. Colour under zero alpha is not
// kept.
#include <ImfChannelList.h>
#include <ImfFrameBuffer.h>
#include <ImfHeader.h>
#include <ImfIO.h>
#include <ImfInputFile.h>
#include <ImfOutputFile.h>
#include <ImfStandardAttributes.h>
#include <ImfStringAttribute.h>
#include <half.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <functional>
#include <fstream>
#include <utility>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/images/image_format.h"

namespace pennaro_cli {
namespace {

constexpr int BAND = 16;  // rows per block of ZIP compression

bool exrRecognises(const uint8_t *head, size_t size) {
    return size >= 4 && head[0] == 0x76 && head[1] == 0x2f && head[2] == 0x31 && head[3] == 0x01;
}

[[noreturn]] void fail(const std::string &name, const std::exception &e) {
    throw ToolError(name + ": not a readable OpenEXR file (" + e.what() + ")");
}

// ---- The header, walked before the library sees it. The library allocates
// what an attribute declares before reading it (a string of 2 GiB, a preview
// of 65535 x 65535, a table entry for every chunk), so every size in the
// header is checked here against the bytes the file holds first.

class HeaderWalk {
public:
    HeaderWalk(const uint8_t *data, uint64_t available, uint64_t fileSize, std::string name)
        : data_(data), available_(available), fileSize_(fileSize), name_(std::move(name)) {}

    // False when the header runs past the bytes given (a probe reading only
    // the file's start must then read it all).
    bool walk();

    struct Channel {
        std::string name;
        int32_t type = 1, xSampling = 1, ySampling = 1;
    };
    struct Box {
        int32_t minX = 0, minY = 0, maxX = -1, maxY = -1;
    };
    Box dataWindow, displayWindow;
    bool haveDataWindow = false, haveChannels = false, tiled = false, multipart = false, deep = false;
    int compression = 0;
    std::vector<Channel> channels;
    uint32_t tileWidth = 0, tileHeight = 0;
    int64_t chunkCount = -1;
    uint64_t headerEnd = 0;  // where the first part's table of chunks starts

private:
    struct OutOfBytes {};
    [[noreturn]] void refuse(const std::string &what) const { throw ToolError(name_ + ": " + what); }
    void need(uint64_t at, uint64_t n) const {
        if (n > fileSize_ || at > fileSize_ - n) refuse("the file ends inside its header; damaged or truncated");
        if (n > available_ || at > available_ - n) throw OutOfBytes{};
    }
    int32_t int32At(uint64_t at) const {
        need(at, 4);
        return int32_t(uint32_t(data_[at]) | uint32_t(data_[at + 1]) << 8 | uint32_t(data_[at + 2]) << 16 |
                       uint32_t(data_[at + 3]) << 24);
    }
    // A NUL-terminated name of at most `longest` characters, inside [at, end).
    std::string nameAt(uint64_t &at, uint64_t end, size_t longest) const {
        std::string text;
        for (;; ++at) {
            if (at >= end) refuse("a name in its header is not terminated; damaged");
            need(at, 1);
            if (data_[at] == 0) break;
            if (text.size() == longest) refuse("a name in its header is longer than " + std::to_string(longest));
            text += char(data_[at]);
        }
        ++at;
        return text;
    }
    void attribute(const std::string &attr, const std::string &type, uint64_t at, uint64_t size, bool first);

    const uint8_t *data_;
    uint64_t available_, fileSize_;
    std::string name_;
    size_t longestName_ = 31;
};

bool HeaderWalk::walk() {
    try {
        need(0, 8);
        const int32_t version = int32At(4);
        tiled = version & 0x200;
        longestName_ = version & 0x400 ? 255 : 31;
        deep = version & 0x800;
        multipart = version & 0x1000;
        uint64_t at = 8;
        for (int part = 0;; ++part) {
            for (;;) {
                const std::string attr = nameAt(at, fileSize_, longestName_);
                if (attr.empty()) break;
                const std::string type = nameAt(at, fileSize_, longestName_);
                const int32_t size = int32At(at);
                at += 4;
                if (size < 0 || uint64_t(size) > fileSize_ - std::min(at, fileSize_))
                    refuse("its header attribute \"" + attr + "\" declares " + std::to_string(size) +
                           " bytes, more than the file holds; damaged");
                attribute(attr, type, at, uint64_t(size), part == 0);
                at += uint64_t(size);
            }
            if (!multipart) break;
            need(at, 1);
            if (data_[at] == 0) {  // an empty header ends the list of parts
                ++at;
                break;
            }
        }
        headerEnd = at;
        return true;
    } catch (const OutOfBytes &) {
        return false;
    }
}

void HeaderWalk::attribute(const std::string &attr, const std::string &type, uint64_t at, uint64_t size,
                           bool first) {
    const uint64_t end = at + size;
    need(at, size);
    // The library reads most values by their type, not by the size given,
    // and goes on from where its reading stopped: every value must fill its
    // attribute exactly, or the library would read the rest of the header
    // from other bytes than this walk did.
    static const std::map<std::string, uint64_t> fixedSizes = {
        {"box2i", 16},    {"box2f", 16}, {"chromaticities", 32}, {"compression", 1}, {"deepImageState", 1},
        {"envmap", 1},    {"float", 4},  {"double", 8},          {"int", 4},         {"keycode", 28},
        {"lineOrder", 1}, {"m33f", 36},  {"m33d", 72},           {"m44f", 64},       {"m44d", 128},
        {"rational", 8},  {"tiledesc", 9}, {"timecode", 8},      {"v2i", 8},         {"v2f", 8},
        {"v2d", 16},      {"v3i", 12},   {"v3f", 12},            {"v3d", 24}};
    const auto misfit = [&] {
        refuse("its header attribute \"" + attr + "\" (" + type + ") does not fill its " + std::to_string(size) +
               " bytes; damaged");
    };
    if (const auto fixed = fixedSizes.find(type); fixed != fixedSizes.end() && fixed->second != size) misfit();
    if (type == "stringvector") {
        for (uint64_t p = at; p < end;) {
            if (end - p < 4) misfit();
            const int32_t length = int32At(p);
            p += 4;
            if (length < 0 || uint64_t(length) > end - p)
                refuse("a string in its header attribute \"" + attr + "\" runs past the attribute; damaged");
            p += uint64_t(length);
        }
    } else if (type == "floatvector") {
        if (size % 4 != 0) misfit();
    } else if (type == "preview") {
        if (size < 8 || saturatingProduct(saturatingProduct(uint32_t(int32At(at)), uint32_t(int32At(at + 4))), 4) !=
                            size - 8)
            refuse("its preview image does not fill its header attribute; damaged");
    } else if (type == "idmanifest") {
        if (size < 8 || uint64_t(uint32_t(int32At(at + 4))) != size - 8) misfit();
    } else if (type == "chlist") {
        uint64_t p = at;
        while (!nameAt(p, end, longestName_).empty()) {
            if (end - p < 16) refuse("its list of channels is damaged");
            p += 16;
        }
        if (p != end) misfit();
    }
    if (!first) return;
    if (attr == "dataWindow" && type == "box2i" && size == 16) {
        dataWindow = {int32At(at), int32At(at + 4), int32At(at + 8), int32At(at + 12)};
        haveDataWindow = true;
    } else if (attr == "displayWindow" && type == "box2i" && size == 16) {
        displayWindow = {int32At(at), int32At(at + 4), int32At(at + 8), int32At(at + 12)};
    } else if (attr == "compression" && type == "compression" && size == 1) {
        compression = data_[at];
    } else if (attr == "tiles" && type == "tiledesc" && size == 9) {
        tileWidth = uint32_t(int32At(at));
        tileHeight = uint32_t(int32At(at + 4));
    } else if (attr == "chunkCount" && type == "int" && size == 4) {
        chunkCount = int32At(at);
    } else if (attr == "type" && type == "string") {
        deep = deep || std::string(reinterpret_cast<const char *>(data_ + at), size_t(size)).find("deep") == 0;
    } else if (attr == "channels" && type == "chlist") {
        haveChannels = true;
        for (uint64_t p = at;;) {
            std::string channel = nameAt(p, end, longestName_);
            if (channel.empty()) break;
            if (p + 16 > end) refuse("its list of channels is damaged");
            channels.push_back({std::move(channel), int32At(p), int32At(p + 8), int32At(p + 12)});
            p += 16;
        }
    }
}

// The rows a scanline chunk holds and the most a chunk's data can expand,
// by compression: runs of 128 in 2 bytes (RLE), deflate's 1032 (ZIP, and
// PXR24 dropping a float's fourth byte first), Huffman runs of 255 values in
// 10 bits (PIZ), B44A's flat 4x4 blocks in 3 bytes, and for the DCT of DWA a
// flat 8x8 block in a few bits. Anything newer gets the loosest bound.
struct ExrCompression {
    int rows;
    uint64_t bestRatio;
};
ExrCompression compressionOf(int compression) {
    switch (compression) {
    case 0: return {1, 1};        // none
    case 1: return {1, 64};       // RLE
    case 2: return {1, 1032};     // ZIPS
    case 3: return {16, 1032};    // ZIP
    case 4: return {32, 512};     // PIZ
    case 5: return {16, 1376};    // PXR24
    case 6: return {32, 3};       // B44
    case 7: return {32, 11};      // B44A
    case 8: return {32, 32768};   // DWAA
    case 9: return {256, 32768};  // DWAB
    default: return {1, 65536};
    }
}

// The data window's size, refused when it is empty or beyond what an image
// here can hold.
std::pair<int32_t, int32_t> windowSize(const HeaderWalk &header, const std::string &name) {
    if (!header.haveDataWindow || !header.haveChannels)
        throw ToolError(name + ": not a readable OpenEXR file (its header lacks the data window or the channels)");
    const auto &w = header.dataWindow;
    const int64_t width = int64_t(w.maxX) - w.minX + 1, height = int64_t(w.maxY) - w.minY + 1;
    if (width <= 0 || height <= 0 || width > INT32_MAX || height > INT32_MAX)
        throw ToolError(name + ": OpenEXR header declares no usable image size");
    if (header.deep) throw ToolError(name + ": deep OpenEXR images are not read; flatten it first");
    return {int32_t(width), int32_t(height)};
}

ImageWindows windowsOf(const HeaderWalk &header) {
    const auto &d = header.dataWindow, &w = header.displayWindow;
    ImageWindows windows{d.minX, d.minY, d.maxX - d.minX + 1, d.maxY - d.minY + 1,
                         w.minX, w.minY, int32_t(int64_t(w.maxX) - w.minX + 1), int32_t(int64_t(w.maxY) - w.minY + 1)};
    // A display window that cannot be one is taken as the data window.
    if (int64_t(w.maxX) - w.minX + 1 <= 0 || int64_t(w.maxY) - w.minY + 1 <= 0 ||
        int64_t(w.maxX) - w.minX + 1 > INT32_MAX || int64_t(w.maxY) - w.minY + 1 > INT32_MAX)
        windows.displayX = d.minX, windows.displayY = d.minY, windows.displayWidth = windows.dataWidth,
        windows.displayHeight = windows.dataHeight;
    return windows;
}

struct ExrChunkSurvey {
    uint64_t present = 0;      // bytes of the chunks inside the file
    bool allInside = true;     // every chunk whole inside the file
    bool shortStored = false;  // an uncompressed chunk holds fewer bytes than its pixels
};

int32_t int32At(const uint8_t *p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
}

// How many v in [low, high] a channel sampled every `step` holds a sample at.
uint64_t samplesBetween(int64_t low, int64_t high, int64_t step) {
    if (high < low) return 0;
    auto floorDiv = [](int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); };
    return uint64_t(floorDiv(high, step) - floorDiv(low - 1, step));
}

// The bytes an uncompressed chunk must hold: its rows [y0, y1] and columns
// [x0, x1] of every channel. The library decodes such a chunk without
// checking its length against them.
uint64_t storedBytes(const HeaderWalk &header, int64_t x0, int64_t x1, int64_t y0, int64_t y1) {
    uint64_t bytes = 0;
    for (const auto &c : header.channels) {
        const int64_t xs = std::max(c.xSampling, 1), ys = std::max(c.ySampling, 1);
        bytes += samplesBetween(x0, x1, xs) * samplesBetween(y0, y1, ys) * (c.type == 1 ? 2 : 4);
    }
    return bytes;
}

// The first `chunks` entries of the table: each chunk counted as far as it
// lies inside the file.
ExrChunkSurvey surveyChunks(const HeaderWalk &header, const uint8_t *data, uint64_t size, uint64_t chunks) {
    const uint64_t chunkHeader = (header.multipart ? 4 : 0) + (header.tiled ? 16 : 4) + 4;
    const auto &w = header.dataWindow;
    ExrChunkSurvey survey;
    for (uint64_t i = 0; i < chunks; ++i) {
        uint64_t offset = 0;
        for (int b = 7; b >= 0; --b) offset = offset << 8 | data[header.headerEnd + 8 * i + uint64_t(b)];
        if (offset > size || chunkHeader > size - offset) {
            survey.allInside = false;
            continue;
        }
        const uint8_t *p = data + offset + chunkHeader - 4;
        const int32_t length = int32At(p);
        if (length <= 0 || uint64_t(length) > size - offset - chunkHeader) survey.allInside = false;
        if (length > 0) survey.present += std::min(uint64_t(length), size - offset - chunkHeader);
        if (header.compression != 0 || length <= 0) continue;
        uint64_t needed;
        if (header.tiled) {
            const int64_t tx = int32At(p - 16), ty = int32At(p - 12);
            if (int32At(p - 8) != 0 || int32At(p - 4) != 0 || tx < 0 || ty < 0) continue;  // another level
            const int64_t x0 = w.minX + tx * int64_t(header.tileWidth), y0 = w.minY + ty * int64_t(header.tileHeight);
            needed = storedBytes(header, x0, std::min<int64_t>(w.maxX, x0 + header.tileWidth - 1), y0,
                                 std::min<int64_t>(w.maxY, y0 + header.tileHeight - 1));
        } else {
            const int64_t y = int32At(p - 4);
            needed = storedBytes(header, w.minX, w.maxX, y, y);
        }
        if (uint64_t(length) < needed) survey.shortStored = true;
    }
    return survey;
}

// Refuses a file whose chunks cannot hold the pixels its header declares,
// before the library allocates anything for them: the table of chunks must
// lie inside the file, and the chunks of the full-resolution image it points
// to, each counted as far as it lies inside the file, must be able to expand
// to the image at the compression's best ratio.
ExrChunkSurvey checkChunks(const HeaderWalk &header, const uint8_t *data, uint64_t size, const std::string &name,
                        uint64_t maxBytes) {
    const auto [width, height] = windowSize(header, name);
    const ExrCompression compression = compressionOf(header.compression);
    uint64_t chunks;  // of the full-resolution level, which come first
    if (header.tiled) {
        if (header.tileWidth == 0 || header.tileHeight == 0 || header.tileWidth > INT32_MAX ||
            header.tileHeight > INT32_MAX)
            throw ToolError(name + ": OpenEXR header declares tiles of no usable size");
        // The library buffers a whole row of tiles: a tile far taller or
        // wider than the image would cost memory no pixel needs.
        if (header.tileWidth > uint32_t(std::max(width, 64)) || header.tileHeight > uint32_t(std::max(height, 64)))
            throw ToolError(name + ": OpenEXR header declares " + std::to_string(header.tileWidth) + "x" +
                            std::to_string(header.tileHeight) + " tiles for a " + std::to_string(width) + "x" +
                            std::to_string(height) + " image; damaged");
        chunks = saturatingProduct((uint64_t(width) + header.tileWidth - 1) / header.tileWidth,
                                   (uint64_t(height) + header.tileHeight - 1) / header.tileHeight);
    } else {
        chunks = (uint64_t(height) + uint64_t(compression.rows) - 1) / uint64_t(compression.rows);
    }
    if (header.chunkCount >= 0) chunks = std::min(chunks, uint64_t(header.chunkCount));
    if (saturatingProduct(chunks, 8) > size - header.headerEnd)
        throw ToolError(name + ": the file ends inside its table of " + std::to_string(chunks) +
                        " chunks; damaged or truncated");
    const ExrChunkSurvey survey = surveyChunks(header, data, size, chunks);
    if (survey.shortStored)
        throw ToolError(name + ": an uncompressed OpenEXR chunk holds fewer bytes than its pixels; damaged");
    const uint64_t present = survey.present;
    uint64_t declared = 0;
    for (const auto &c : header.channels) {
        const uint64_t xs = uint64_t(std::max(c.xSampling, 1)), ys = uint64_t(std::max(c.ySampling, 1));
        const uint64_t samples = saturatingProduct((uint64_t(width) + xs - 1) / xs, (uint64_t(height) + ys - 1) / ys);
        declared = std::min(UINT64_MAX - 1, declared + saturatingProduct(samples, c.type == 1 ? 2 : 4));
    }
    refuseUnlessHeld(name, uint64_t(width), uint64_t(height), declared, present, compression.bestRatio,
                     uint64_t(width) * uint64_t(height) * 8, maxBytes);
    return survey;
}

// The file's bytes as the library's input: reads past the end fail instead
// of reaching outside. Not offered as mapped memory: given a pointer into
// the file, the library decodes an uncompressed chunk that is shorter than
// its rows need straight from there, past the chunk and past the file;
// copied, the chunk lands in a buffer of the size its rows need.
class BoundedStream : public Imf::IStream {
public:
    BoundedStream(const std::vector<uint8_t> &bytes, const std::string &name)
        : Imf::IStream(name.c_str()), bytes_(bytes) {}
    bool read(char c[], int n) override {
        std::memcpy(c, bytes_.data() + take(n), size_t(n));
        return position_ < bytes_.size();
    }
    uint64_t tellg() override { return position_; }
    void seekg(uint64_t position) override { position_ = position; }

private:
    uint64_t take(int n) {
        if (n < 0 || position_ > bytes_.size() || uint64_t(n) > bytes_.size() - position_)
            throw std::runtime_error("the file ends early; damaged or truncated");
        const uint64_t at = position_;
        position_ += uint64_t(n);
        return at;
    }
    const std::vector<uint8_t> &bytes_;
    uint64_t position_ = 0;
};

std::vector<uint8_t> readFileStart(const std::filesystem::path &path, size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read " + path.string());
    std::vector<uint8_t> head(size);
    in.read(reinterpret_cast<char *>(head.data()), std::streamsize(size));
    head.resize(size_t(in.gcount()));
    return head;
}

ImageHeader exrProbe(const std::filesystem::path &path) {
    const std::string name = path.string();
    // The header is near the start: the first megabyte is read, and the
    // whole file only when the header goes on past it.
    std::error_code error;
    const uint64_t fileSize = std::filesystem::file_size(path, error);
    if (error) throw ToolError("cannot read " + name + ": " + error.message());
    std::vector<uint8_t> head = readFileStart(path, 1u << 20);
    HeaderWalk header(head.data(), head.size(), fileSize, name);
    if (!header.walk()) {
        head = readFileBytes(path);
        header = HeaderWalk(head.data(), head.size(), head.size(), name);
        header.walk();
    }
    const auto [width, height] = windowSize(header, name);
    return ImageHeader{"OpenEXR", width, height, 16, true, windowsOf(header)};
}

// A slice of `band` whose row y (in the file's data window) is band row
// y - firstRow. The base address is computed as an integer: the library
// only ever adds y × stride back for rows inside the band.
Imf::Slice bandSlice(float *band, int channel, int32_t minX, int32_t firstRow, int32_t width, float fill) {
    const size_t xStride = 4 * sizeof(float), yStride = xStride * size_t(width);
    const uintptr_t base = reinterpret_cast<uintptr_t>(band + channel) - uintptr_t(intptr_t(minX)) * xStride -
                           uintptr_t(intptr_t(firstRow)) * yStride;
    return Imf::Slice(Imf::FLOAT, reinterpret_cast<char *>(base), xStride, yStride, 1, 1, double(fill));
}

}  // namespace

namespace {

// Every row of the data window as RGBA floats as stored (colour
// premultiplied; a lone Y as R, G and B; 1 where there is no alpha): `start`
// with the size first, then `row(y, rgba)` top to bottom. The file is checked
// as decodeExr says before the library sees it.
void readExrRows(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes,
                 const std::function<void(int32_t, int32_t)> &start,
                 const std::function<void(int32_t, const float *)> &row, ImageWindows *windows = nullptr) {
    if (bytes.size() < 8 || !exrRecognises(bytes.data(), bytes.size()))
        throw ToolError(name + " is not an OpenEXR file");
    HeaderWalk header(bytes.data(), bytes.size(), bytes.size(), name);
    header.walk();
    checkChunks(header, bytes.data(), bytes.size(), name, maxBytes);
    const auto [width, height] = windowSize(header, name);
    if (windows) *windows = windowsOf(header);
    try {
        BoundedStream stream(bytes, name);
        Imf::InputFile file(stream, 1);
        const Imath::Box2i window = file.header().dataWindow();
        if (window.min.x != header.dataWindow.minX || window.min.y != header.dataWindow.minY ||
            window.max.x != header.dataWindow.maxX || window.max.y != header.dataWindow.maxY)
            throw ToolError(name + ": not a readable OpenEXR file (its data window is given twice)");
        const Imf::ChannelList &channels = file.header().channels();
        // Grey images (a lone Y) give the same value to red, green and blue.
        const bool grey = !channels.findChannel("R") && channels.findChannel("Y");
        start(width, height);
        std::vector<float> band(size_t(width) * 4 * BAND);
        for (int32_t y0 = 0; y0 < height; y0 += BAND) {
            const int32_t rows = std::min(BAND, height - y0);
            const int32_t fileRow = window.min.y + y0;
            Imf::FrameBuffer buffer;
            if (grey) {
                buffer.insert("Y", bandSlice(band.data(), 0, window.min.x, fileRow, width, 0.0f));
            } else {
                const char *names[3] = {"R", "G", "B"};
                for (int c = 0; c < 3; ++c)
                    buffer.insert(names[c], bandSlice(band.data(), c, window.min.x, fileRow, width, 0.0f));
            }
            buffer.insert("A", bandSlice(band.data(), 3, window.min.x, fileRow, width, 1.0f));
            file.setFrameBuffer(buffer);
            file.readPixels(fileRow, fileRow + rows - 1);
            for (int32_t r = 0; r < rows; ++r) {
                float *p = &band[size_t(r) * size_t(width) * 4];
                if (grey)
                    for (int32_t x = 0; x < width; ++x) p[4 * x + 1] = p[4 * x + 2] = p[4 * x];
                row(y0 + r, p);
            }
        }
    } catch (const ToolError &) {
        throw;
    } catch (const std::exception &e) {
        fail(name, e);
    }
}

}  // namespace

void exrPixelToEffectValues(const float *p, int depth, uint16_t *out) {
    const double scale = depth == 16 ? 32768.0 : 255.0;
    // Alpha held to 0..1, NaN taken as 0 (a clamp would keep it).
    const double alpha = p[3] > 0 ? std::min(double(p[3]), 1.0) : 0.0;
    double v[4];
    for (int c = 0; c < 3; ++c) {
        const double colour = double(p[c]);
        // Back to straight colour; NaN and colour without alpha come out as 0.
        v[c] = alpha > 0 && colour > 0 ? std::min(colour / alpha, 1.0) : 0.0;
    }
    v[3] = alpha;
    for (int c = 0; c < 4; ++c) out[c] = uint16_t(std::floor(v[c] * scale + 0.5));
}

RgbaImage decodeExr(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes, int depth) {
    RgbaImage image;
    readExrRows(
        bytes, name, maxBytes, [&](int32_t width, int32_t height) { image = makeImage(width, height, depth); },
        [&](int32_t y, const float *p) {
            uint16_t *out = image.pixel(0, y);
            for (int32_t x = 0; x < image.width; ++x, p += 4, out += 4) {
                exrPixelToEffectValues(p, depth, out);
                if (depth == 16)
                    for (int c = 0; c < 4; ++c) out[c] = sixteenBitToFile(out[c]);
            }
        });
    return image;
}

FloatImage readExrFloats(const std::filesystem::path &path, uint64_t maxBytes, ImageWindows *windows) {
    FloatImage image;
    readExrRows(
        readFileBytes(path), path.string(), maxBytes,
        [&](int32_t width, int32_t height) {
            if (uint64_t(width) * uint64_t(height) * 16 > maxBytes)
                throw ToolError(path.string() + ": a " + std::to_string(width) + "x" + std::to_string(height) +
                                " image needs " + megabytes(uint64_t(width) * uint64_t(height) * 16) +
                                " to read as floats, more than the " + megabytes(maxBytes) + " allowed");
            image.width = width;
            image.height = height;
            image.samples.resize(size_t(width) * size_t(height) * 4);
        },
        [&](int32_t y, const float *p) {
            std::copy(p, p + size_t(image.width) * 4, &image.samples[size_t(y) * size_t(image.width) * 4]);
        },
        windows);
    return image;
}

namespace {

// A frame as exrEncode writes it, whole: RGBA of the pixel type asked for,
// ZIP, both windows the image's, every chunk the table lists inside the file
// and every one of them decompressed.
bool exrHolds(const std::vector<uint8_t> &bytes, const ExpectedImage &expected) {
    if (bytes.size() < 8 || !exrRecognises(bytes.data(), bytes.size())) return false;
    const std::string name = "existing frame";
    HeaderWalk header(bytes.data(), bytes.size(), bytes.size(), name);
    header.walk();
    ImageWindows windows = expected.windows;
    if (!windows.placed()) windows = {0, 0, expected.width, expected.height, 0, 0, expected.width, expected.height};
    const auto sameBox = [&](const HeaderWalk::Box &b, int32_t x, int32_t y, int32_t width, int32_t height) {
        return b.minX == x && b.minY == y && int64_t(b.maxX) == int64_t(x) + width - 1 &&
               int64_t(b.maxY) == int64_t(y) + height - 1;
    };
    if (header.tiled || header.multipart || header.deep ||
        !sameBox(header.dataWindow, windows.dataX, windows.dataY, expected.width, expected.height) ||
        !sameBox(header.displayWindow, windows.displayX, windows.displayY, windows.displayWidth,
                 windows.displayHeight) ||
        header.compression != expected.exrCompression || header.channels.size() != 4)
        return false;
    const int32_t type = expected.exrFloat ? Imf::FLOAT : Imf::HALF;
    const char *names[4] = {"A", "B", "G", "R"};  // as the file lists them
    for (size_t c = 0; c < 4; ++c) {
        const auto &channel = header.channels[c];
        if (channel.name != names[c] || channel.type != type || channel.xSampling != 1 || channel.ySampling != 1)
            return false;
    }
    if (!checkChunks(header, bytes.data(), bytes.size(), name, UINT64_MAX).allInside) return false;
    decodeExr(bytes, name, UINT64_MAX, 8);
    return true;
}

RgbaImage exrRead(const std::filesystem::path &path, uint64_t maxBytes, int depth) {
    return decodeExr(readFileBytes(path), path.string(), maxBytes, depth);
}

// The file as it is written, kept in memory for the atomic write.
class MemoryStream : public Imf::OStream {
public:
    MemoryStream() : Imf::OStream("frame") {}
    void write(const char c[], int n) override {
        if (position_ + uint64_t(n) > bytes.size()) bytes.resize(size_t(position_ + uint64_t(n)));
        std::memcpy(bytes.data() + position_, c, size_t(n));
        position_ += uint64_t(n);
    }
    uint64_t tellp() override { return position_; }
    void seekp(uint64_t position) override { position_ = position; }
    std::vector<uint8_t> bytes;

private:
    uint64_t position_ = 0;
};

std::vector<uint8_t> exrEncode(const FrameRows &frame, const ImageWriteSettings &settings) {
    Imf::Header header(frame.width, frame.height, float(double(settings.aspectNum) / double(settings.aspectDen)));
    // The data window's corner, where the frame's first row and column lie.
    int32_t left = 0, top = 0;
    if (const ImageWindows &w = settings.windows; w.placed()) {
        left = w.dataX, top = w.dataY;
        header.dataWindow() = Imath::Box2i({w.dataX, w.dataY}, {w.dataX + frame.width - 1, w.dataY + frame.height - 1});
        header.displayWindow() = Imath::Box2i({w.displayX, w.displayY},
                                              {w.displayX + w.displayWidth - 1, w.displayY + w.displayHeight - 1});
    }
    header.compression() = Imf::Compression(settings.exrCompression);
    header.insert("software", Imf::StringAttribute(softwareName()));
    if (settings.rateNum > 0) {
        Imf::addFramesPerSecond(header, Imf::Rational(int(settings.rateNum), settings.rateDen));
        // Hours, minutes, seconds and frames of the frame's number at the
        // whole rate nearest the frame rate, as movies start theirs.
        const int64_t rate = std::max<int64_t>(1, std::llround(double(settings.rateNum) / settings.rateDen));
        if (settings.frameNumber >= 0 && rate <= 60) {
            const int64_t seconds = settings.frameNumber / rate;
            Imf::addTimeCode(header, Imf::TimeCode(int(seconds / 3600 % 24), int(seconds / 60 % 60),
                                                   int(seconds % 60), int(settings.frameNumber % rate)));
        }
    }
    const Imf::PixelType type = settings.exrFloat ? Imf::FLOAT : Imf::HALF;
    for (const char *c : {"R", "G", "B", "A"}) header.channels().insert(c, Imf::Channel(type));
    MemoryStream stream;
    const double scale = frame.depth == 16 ? 32768.0 : 255.0;
    std::vector<uint16_t> values(size_t(frame.width) * 4);
    std::vector<float> floats(size_t(frame.width) * 4 * BAND);
    std::vector<half> halves(settings.exrFloat ? 0 : floats.size());
    try {
        Imf::OutputFile file(stream, header, 0);
        for (int32_t y0 = 0; y0 < frame.height; y0 += BAND) {
            const int32_t rows = std::min(BAND, frame.height - y0);
            for (int32_t r = 0; r < rows; ++r) {
                float *out = &floats[size_t(r) * size_t(frame.width) * 4];
                if (frame.storedRow) {
                    frame.storedRow(y0 + r, out);
                    continue;
                }
                frame.row(y0 + r, values.data());
                for (int32_t x = 0; x < frame.width; ++x) {
                    const uint16_t *v = &values[size_t(x) * 4];
                    const double alpha = double(v[3]) / scale;
                    for (int c = 0; c < 3; ++c) out[4 * x + c] = float(double(v[c]) / scale * alpha);
                    out[4 * x + 3] = float(alpha);
                }
            }
            const size_t count = size_t(rows) * size_t(frame.width) * 4;
            char *data = reinterpret_cast<char *>(floats.data());
            size_t sampleSize = sizeof(float);
            if (!settings.exrFloat) {
                for (size_t i = 0; i < count; ++i) halves[i] = half(floats[i]);
                data = reinterpret_cast<char *>(halves.data());
                sampleSize = sizeof(half);
            }
            const size_t xStride = 4 * sampleSize, yStride = xStride * size_t(frame.width);
            Imf::FrameBuffer buffer;
            int c = 0;
            for (const char *name : {"R", "G", "B", "A"}) {
                const uintptr_t base = reinterpret_cast<uintptr_t>(data + size_t(c++) * sampleSize) -
                                       uintptr_t(intptr_t(top + y0)) * yStride - uintptr_t(intptr_t(left)) * xStride;
                buffer.insert(name, Imf::Slice(type, reinterpret_cast<char *>(base), xStride, yStride));
            }
            file.setFrameBuffer(buffer);
            file.writePixels(rows);
        }
    } catch (const std::exception &e) {
        throw ToolError(std::string("cannot encode the OpenEXR image: ") + e.what());
    }
    return std::move(stream.bytes);
}

}  // namespace

const ImageFormat &exrFormat() {
    static const ImageFormat format{"OpenEXR", {".exr"}, exrRecognises, exrProbe, exrRead, exrEncode, exrHolds};
    return format;
}

}  // namespace pennaro_cli
