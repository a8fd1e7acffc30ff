// DPX, as film and finishing pipelines take frames: written by this small
// writer, big-endian, one image element, linear code values (no log curve,
// no colour transform), the frame rate and the frame's time code in the
// film and television headers. Frames of depth 8 become 10-bit RGB (three
// samples filled into each 32-bit word, method A; the alpha channel is
// dropped), frames of depth 16 16-bit RGBA. The reader takes back these two
// layouts, for contact sheets, `compare` and --skip-existing; other DPX
// files are read through OpenImageIO where the build has it (oiio.cpp).
//
// Samples: 10-bit c = (v × 1023 + 127) ÷ 255 from 8-bit values, (v × 1023 +
// 16384) ÷ 32768 from 16-bit ones; 16-bit samples are those of a 16-bit
// PNG. Read back, a 10-bit sample becomes the 16-bit file sample
// (c × 65535 + 511) ÷ 1023.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/images/image_format.h"

namespace pennaro_cli {
namespace {

constexpr uint32_t HEADER_SIZE = 2048;
constexpr uint32_t ELEMENT = 780;  // the first image element's record
constexpr uint8_t RGB = 50, RGBA = 51, LINEAR = 2;

uint32_t get32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}
uint16_t get16(const uint8_t *p) { return uint16_t(p[0] << 8 | p[1]); }
void put32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
void put16(uint8_t *p, uint16_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }
void putFloat(uint8_t *p, float v) {
    uint32_t bits;
    std::memcpy(&bits, &v, 4);
    put32(p, bits);
}
void putText(uint8_t *p, size_t size, const std::string &text) {
    std::memset(p, 0, size);
    std::memcpy(p, text.data(), std::min(size - 1, text.size()));
}

bool dpxRecognises(const uint8_t *head, size_t size) {
    return size >= 4 && (std::memcmp(head, "SDPX", 4) == 0 || std::memcmp(head, "XPDS", 4) == 0);
}

// The layout of a file this tool reads: its size, and 10-bit RGB or 16-bit
// RGBA. Anything else is refused, naming the file.
struct Layout {
    int32_t width, height;
    bool tenBit;
    uint32_t offset;
};
// Whether a whole header is one of the two layouts written here; other
// files go to OpenImageIO where it is built in.
bool ownLayout(const uint8_t *h, size_t size) {
    if (size < HEADER_SIZE || std::memcmp(h, "SDPX", 4) != 0) return false;
    const uint8_t descriptor = h[ELEMENT + 20], bits = h[ELEMENT + 23];
    const uint16_t packing = get16(h + ELEMENT + 24), encoding = get16(h + ELEMENT + 26);
    const bool tenBit = descriptor == RGB && bits == 10 && packing == 1;
    return get16(h + 770) >= 1 && encoding == 0 && (tenBit || (descriptor == RGBA && bits == 16 && packing == 0));
}

Layout layoutOf(const uint8_t *h, size_t size, const std::string &name) {
    if (size < HEADER_SIZE || !dpxRecognises(h, size)) throw ToolError(name + ": not a DPX file with a whole header");
    if (!ownLayout(h, size))
        throw ToolError(name + ": reading DPX files other than big-endian 10-bit RGB (filled, method A) and " +
                        "16-bit RGBA, uncompressed, " + oiioMissingMessage());
    const uint32_t width = get32(h + 772), height = get32(h + 776);
    const bool tenBit = h[ELEMENT + 20] == RGB;
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX)
        throw ToolError(name + ": DPX header declares no usable image size");
    return {int32_t(width), int32_t(height), tenBit, get32(h + ELEMENT + 28)};
}

uint64_t dataBytes(const Layout &l) { return uint64_t(l.width) * uint64_t(l.height) * (l.tenBit ? 4 : 8); }

std::vector<uint8_t> headerOf(const std::filesystem::path &path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> head(HEADER_SIZE);
    in.read(reinterpret_cast<char *>(head.data()), HEADER_SIZE);
    head.resize(size_t(in.gcount()));
    return head;
}

bool forOpenImageIO(const std::vector<uint8_t> &head) {
    return oiioBuiltIn() && head.size() == HEADER_SIZE && !ownLayout(head.data(), head.size());
}

// OpenImageIO reads the pixels a DPX file lacks as black, without a word,
// so a file cut short is refused here first: an uncompressed first element
// must hold at least its rows of samples, filled 10- and 12-bit samples
// taking their whole words.
void refuseCutShort(const std::vector<uint8_t> &h, const std::filesystem::path &path) {
    const bool big = std::memcmp(h.data(), "SDPX", 4) == 0;
    auto word = [&](size_t at) {
        const uint32_t v = get32(&h[at]);
        return big ? v : __builtin_bswap32(v);
    };
    auto half = [&](size_t at) {
        const uint16_t v = get16(&h[at]);
        return big ? v : uint16_t(v << 8 | v >> 8);
    };
    const uint64_t width = word(772), height = word(776), offset = word(ELEMENT + 28);
    const uint8_t descriptor = h[ELEMENT + 20], bits = h[ELEMENT + 23];
    const uint16_t packing = half(ELEMENT + 24), encoding = half(ELEMENT + 26);
    uint64_t channels = 1;
    if (descriptor == RGB || descriptor == 101 || descriptor == 102) channels = 3;
    else if (descriptor == RGBA || descriptor == 52 || descriptor == 103) channels = 4;
    else if (descriptor == 100) channels = 2;
    if (encoding != 0 || width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) return;
    const uint64_t samples = width * channels;
    uint64_t row = (samples * bits + 31) / 32 * 4;
    if (packing != 0 && bits == 10) row = (samples + 2) / 3 * 4;
    if (packing != 0 && bits == 12) row = samples * 2;
    // Packed samples may run on from row to row.
    const uint64_t need = packing == 0 && bits % 8 != 0 ? (samples * height * bits + 7) / 8 : row * height;
    std::error_code ec;
    const uint64_t size = std::filesystem::file_size(path, ec);
    if (!ec && (offset > size || need > size - offset))
        throw ToolError(path.string() + ": the file ends inside its pixels; damaged or truncated");
}

ImageHeader dpxProbe(const std::filesystem::path &path) {
    const std::vector<uint8_t> head = headerOf(path);
    if (forOpenImageIO(head)) return oiioFormat().probe(path);
    const Layout l = layoutOf(head.data(), head.size(), path.string());
    return ImageHeader{"DPX", l.width, l.height, 16, false, {}};
}

RgbaImage decodeDpx(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes) {
    const Layout l = layoutOf(bytes.data(), bytes.size(), name);
    const uint64_t need = dataBytes(l);
    if (l.offset > bytes.size() || need > bytes.size() - l.offset)
        throw ToolError(name + ": the file ends inside its pixels; damaged or truncated");
    refuseUnlessHeld(name, uint64_t(l.width), uint64_t(l.height), need, need, 1,
                     uint64_t(l.width) * uint64_t(l.height) * 8, maxBytes);
    RgbaImage image = makeImage(l.width, l.height, 16);
    const uint8_t *p = bytes.data() + l.offset;
    for (size_t i = 0; i < image.samples.size(); i += 4) {
        uint16_t *out = &image.samples[i];
        if (l.tenBit) {
            const uint32_t word = get32(p);
            p += 4;
            for (int c = 0; c < 3; ++c) out[c] = uint16_t((((word >> (22 - 10 * c)) & 1023u) * 65535u + 511u) / 1023u);
            out[3] = 65535;
        } else {
            for (int c = 0; c < 4; ++c, p += 2) out[c] = get16(p);
        }
    }
    return image;
}

RgbaImage dpxRead(const std::filesystem::path &path, uint64_t maxBytes, int floatDepth) {
    if (const std::vector<uint8_t> head = headerOf(path); forOpenImageIO(head)) {
        refuseCutShort(head, path);
        return oiioFormat().read(path, maxBytes, floatDepth);
    }
    return decodeDpx(readFileBytes(path), path.string(), maxBytes);
}

std::vector<uint8_t> dpxEncode(const FrameRows &frame, const ImageWriteSettings &settings) {
    const bool tenBit = frame.depth == 8;
    const Layout l{frame.width, frame.height, tenBit, HEADER_SIZE};
    std::vector<uint8_t> bytes(HEADER_SIZE + dataBytes(l));
    uint8_t *h = bytes.data();
    // Numbers left undefined are all ones, as the format says; texts empty.
    std::memset(h, 0xFF, HEADER_SIZE);
    std::memcpy(h, "SDPX", 4);
    put32(h + 4, HEADER_SIZE);
    putText(h + 8, 8, "V2.0");
    put32(h + 16, uint32_t(bytes.size()));
    put32(h + 20, 1);     // a new frame, not a ditto
    put32(h + 24, 1664);  // generic header
    put32(h + 28, 384);   // industry headers
    put32(h + 32, 0);     // no user data
    putText(h + 36, 100, "");
    putText(h + 136, 24, "");  // no creation time: a frame rendered twice is the same file
    putText(h + 160, 100, softwareName());
    putText(h + 260, 200, "");
    putText(h + 460, 200, "");
    std::memset(h + 664, 0, 104);
    put16(h + 768, 0);  // left to right, top to bottom
    put16(h + 770, 1);
    put32(h + 772, uint32_t(frame.width));
    put32(h + 776, uint32_t(frame.height));
    uint8_t *e = h + ELEMENT;
    put32(e, 0);  // unsigned
    put32(e + 4, 0);
    putFloat(e + 8, 0.0f);
    put32(e + 12, tenBit ? 1023 : 65535);
    putFloat(e + 16, 1.0f);
    e[20] = tenBit ? RGB : RGBA;
    e[21] = LINEAR;
    e[22] = 0;  // colorimetry: user-defined (display values, no transform)
    e[23] = tenBit ? 10 : 16;
    put16(e + 24, tenBit ? 1 : 0);
    put16(e + 26, 0);  // uncompressed
    put32(e + 28, HEADER_SIZE);
    put32(e + 32, 0);
    put32(e + 36, 0);
    putText(e + 40, 32, tenBit ? "RGB" : "RGBA");
    std::memset(h + 1356, 0, 52);
    put32(h + 1408, 0), put32(h + 1412, 0);
    put32(h + 1424, uint32_t(frame.width)), put32(h + 1428, uint32_t(frame.height));
    std::memset(h + 1432, 0, 188);  // file name, time, device, serial
    put32(h + 1628, settings.aspectNum), put32(h + 1632, settings.aspectDen);
    std::memset(h + 1636, 0, 28);
    std::memset(h + 1664, 0, 48);    // film make, type, offset, prefix, count, format
    std::memset(h + 1732, 0, 132);   // frame id, slate
    std::memset(h + 1864, 0, 56);
    std::memset(h + 1972, 0, 76);
    if (settings.rateNum > 0) {
        const float rate = float(double(settings.rateNum) / settings.rateDen);
        putFloat(h + 1724, rate);  // film
        putFloat(h + 1940, rate);  // television
        const int64_t whole = std::max<int64_t>(1, std::llround(double(settings.rateNum) / settings.rateDen));
        if (settings.frameNumber >= 0 && whole <= 60) {
            const int64_t seconds = settings.frameNumber / whole;
            const int64_t fields[4] = {seconds / 3600 % 24, seconds / 60 % 60, seconds % 60,
                                       settings.frameNumber % whole};
            uint32_t code = 0;  // binary-coded decimal, hours first
            for (int64_t f : fields) code = code << 8 | uint32_t(f / 10 << 4 | f % 10);
            put32(h + 1920, code);
            put32(h + 1924, 0);
        }
    }

    std::vector<uint16_t> values(size_t(frame.width) * 4);
    uint8_t *p = bytes.data() + HEADER_SIZE;
    for (int32_t y = 0; y < frame.height; ++y) {
        frame.row(y, values.data());
        for (int32_t x = 0; x < frame.width; ++x) {
            const uint16_t *v = &values[size_t(x) * 4];
            if (tenBit) {
                uint32_t word = 0;
                for (int c = 0; c < 3; ++c) word |= (uint32_t(v[c]) * 1023u + 127u) / 255u << (22 - 10 * c);
                put32(p, word);
                p += 4;
            } else {
                for (int c = 0; c < 4; ++c, p += 2) put16(p, sixteenBitToFile(v[c]));
            }
        }
    }
    return bytes;
}

// A frame as dpxEncode writes it, whole: the layout of the depth asked for,
// its size, and the file exactly as long as header and pixels.
bool dpxHolds(const std::vector<uint8_t> &bytes, const ExpectedImage &expected) {
    if (bytes.size() < HEADER_SIZE || !dpxRecognises(bytes.data(), bytes.size())) return false;
    const Layout l = layoutOf(bytes.data(), bytes.size(), "existing frame");
    return l.width == expected.width && l.height == expected.height && l.tenBit == (expected.depth == 8) &&
           l.offset == HEADER_SIZE && bytes.size() == HEADER_SIZE + dataBytes(l);
}

}  // namespace

const ImageFormat &dpxFormat() {
    static const ImageFormat format{"DPX", {".dpx"}, dpxRecognises, dpxProbe, dpxRead, dpxEncode, dpxHolds};
    return format;
}

}  // namespace pennaro_cli
