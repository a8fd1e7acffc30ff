#include "cli/images/image_format.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/core/plugin_location.h"

namespace pennaro_cli {

namespace {

std::string lowerExtension(const std::string &name) {
    std::string ext = std::filesystem::path(name).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

std::vector<uint8_t> readHead(const std::filesystem::path &path, size_t size) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) throw ToolError("no such file: " + path.string());
        throw ToolError("cannot read " + path.string());
    }
    std::vector<uint8_t> head(size);
    in.read(reinterpret_cast<char *>(head.data()), std::streamsize(size));
    head.resize(size_t(in.gcount()));
    return head;
}

uint32_t bigEndian32(const uint8_t *p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

void putBigEndian32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}

// ---- PNG: today's reader and writer, wrapped.

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

bool pngRecognises(const uint8_t *head, size_t size) {
    return size >= 8 && std::memcmp(head, PNG_SIGNATURE, 8) == 0;
}

// The size and depth from the IHDR chunk, which every PNG starts with.
ImageHeader pngProbe(const std::filesystem::path &path) {
    const std::vector<uint8_t> head = readHead(path, 29);
    if (head.size() < 29 || !pngRecognises(head.data(), head.size()) || std::memcmp(&head[12], "IHDR", 4) != 0)
        throw ToolError(path.string() + ": not a PNG file with a readable header");
    ImageHeader header;
    header.format = "PNG";
    header.width = int32_t(std::min<uint32_t>(bigEndian32(&head[16]), INT32_MAX));
    header.height = int32_t(std::min<uint32_t>(bigEndian32(&head[20]), INT32_MAX));
    header.depth = head[24] == 16 ? 16 : 8;
    if (header.width == 0 || header.height == 0)
        throw ToolError(path.string() + ": PNG header declares an empty image");
    return header;
}

RgbaImage pngRead(const std::filesystem::path &path, uint64_t maxBytes, int) { return readPng(path, maxBytes); }

std::vector<uint8_t> pngEncode(const FrameRows &frame, const ImageWriteSettings &settings) {
    std::vector<uint16_t> values(size_t(frame.width) * 4);
    std::vector<uint8_t> png = encodePngRows(frame.width, frame.height, frame.depth, [&](int32_t y, uint8_t *row) {
        frame.row(y, values.data());
        if (frame.depth == 16) {
            for (size_t i = 0; i < values.size(); ++i) {
                const uint16_t s = sixteenBitToFile(values[i]);
                row[2 * i] = uint8_t(s >> 8);
                row[2 * i + 1] = uint8_t(s & 0xFF);
            }
        } else {
            for (size_t i = 0; i < values.size(); ++i) row[i] = uint8_t(values[i]);
        }
    });
    addPngPixelAspect(png, settings.aspectNum, settings.aspectDen);
    addPngText(png, "Software", softwareName());
    return png;
}

// A frame as pngEncode writes it, whole: RGBA at the depth asked for, not
// interlaced, every chunk's checksum right up to IEND, which ends the file,
// and every row inflated.
bool pngHolds(const std::vector<uint8_t> &bytes, const ExpectedImage &expected) {
    if (bytes.size() < 33 || !pngRecognises(bytes.data(), bytes.size()) || bigEndian32(&bytes[8]) != 13 ||
        std::memcmp(&bytes[12], "IHDR", 4) != 0 || bigEndian32(&bytes[16]) != uint32_t(expected.width) ||
        bigEndian32(&bytes[20]) != uint32_t(expected.height) || bytes[24] != expected.depth || bytes[25] != 6 ||
        bytes[28] != 0)
        return false;
    for (uint64_t at = 8;;) {
        if (bytes.size() - at < 12) return false;
        const uint64_t length = bigEndian32(&bytes[at]);
        if (length > bytes.size() - at - 12) return false;
        const uint32_t crc = uint32_t(crc32_z(crc32(0, nullptr, 0), &bytes[at + 4], size_t(length) + 4));
        if (crc != bigEndian32(&bytes[at + 8 + length])) return false;
        const bool end = std::memcmp(&bytes[at + 4], "IEND", 4) == 0;
        at += 12 + length;
        if (end) {
            if (at != bytes.size()) return false;
            break;
        }
    }
    decodePng(bytes, "existing frame", UINT64_MAX);
    return true;
}

}  // namespace

bool fileHoldsImage(const std::filesystem::path &path, const ImageFormat &format, const ExpectedImage &expected) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) return false;
    try {
        return format.holds(readFileBytes(path), expected);
    } catch (const ToolError &) {
        return false;
    }
}

std::string softwareName() { return std::string("Pennaro ") + toolVersion(); }

void addPngText(std::vector<uint8_t> &png, const std::string &keyword, const std::string &text) {
    if (png.size() < 45) return;
    std::vector<uint8_t> chunk(8);
    putBigEndian32(chunk.data(), uint32_t(keyword.size() + 1 + text.size()));
    std::memcpy(chunk.data() + 4, "tEXt", 4);
    chunk.insert(chunk.end(), keyword.begin(), keyword.end());
    chunk.push_back(0);
    chunk.insert(chunk.end(), text.begin(), text.end());
    chunk.resize(chunk.size() + 4);
    putBigEndian32(&chunk[chunk.size() - 4], uint32_t(crc32(crc32(0, nullptr, 0), &chunk[4], uInt(chunk.size() - 8))));
    // Before IEND, the last 12 bytes.
    png.insert(png.end() - 12, chunk.begin(), chunk.end());
}

std::string megabytes(uint64_t bytes) {
    if (bytes < (1u << 20)) return std::to_string(bytes) + " bytes";
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MB";
}

void refuseUnlessHeld(const std::string &name, uint64_t width, uint64_t height, uint64_t declaredBytes,
                      uint64_t presentBytes, uint64_t bestRatio, uint64_t neededBytes, uint64_t maxBytes) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    // The slack covers the smallest streams, whose fixed overhead is most of
    // them. Products saturate, as counts read from a file may be anything.
    const uint64_t holdable =
        presentBytes > (UINT64_MAX - 1024) / bestRatio ? UINT64_MAX : presentBytes * bestRatio + 1024;
    if (declaredBytes > holdable)
        throw ToolError(name + ": declares " + size + " pixels (" + megabytes(declaredBytes) +
                        ") but holds too little compressed data for them; damaged or truncated");
    if (neededBytes > maxBytes)
        throw ToolError(name + ": a " + size + " image needs " + megabytes(neededBytes) + " to read, more than the " +
                        megabytes(maxBytes) + " allowed");
}

void addPngPixelAspect(std::vector<uint8_t> &png, uint32_t aspectNum, uint32_t aspectDen) {
    if (aspectNum == aspectDen || png.size() < 33) return;
    // Pixels per unit along X and Y, unit unknown: their ratio alone is the
    // aspect, a wide pixel meaning fewer pixels per unit across.
    uint8_t chunk[21];
    putBigEndian32(chunk, 9);
    std::memcpy(chunk + 4, "pHYs", 4);
    putBigEndian32(chunk + 8, aspectDen);
    putBigEndian32(chunk + 12, aspectNum);
    chunk[16] = 0;
    putBigEndian32(chunk + 17, uint32_t(crc32(crc32(0, nullptr, 0), chunk + 4, 13)));
    // After the signature and IHDR (8 + 25 bytes), where pHYs belongs.
    png.insert(png.begin() + 33, chunk, chunk + sizeof chunk);
}

const ImageFormat &pngFormat() {
    static const ImageFormat format{"PNG", {".png"}, pngRecognises, pngProbe, pngRead, pngEncode, pngHolds};
    return format;
}

const std::vector<const ImageFormat *> &imageFormats() {
    static const std::vector<const ImageFormat *> formats{&pngFormat(), &tiffFormat(), &exrFormat(),
                                                                  &dpxFormat()};
    return formats;
}

const ImageFormat &outputFormatFor(const std::string &name, const std::string &option) {
    const std::string ext = lowerExtension(name);
    if (ext.empty() || name == "-") return pngFormat();
    std::string known;
    for (const ImageFormat *format : imageFormats())
        for (const std::string &e : format->extensions) {
            if (e == ext) return *format;
            known += (known.empty() ? "" : ", ") + e;
        }
    throw UsageError(option + " " + name + ": cannot write " + ext + " images; the file name's extension chooses " +
                     "the format: " + known);
}

const ImageFormat &formatOfFile(const std::filesystem::path &path) {
    const std::vector<uint8_t> head = readHead(path, 8);
    for (const ImageFormat *format : imageFormats())
        if (format->recognises(head.data(), head.size())) return *format;
    // Any other format is OpenImageIO's to read or refuse.
    if (oiioBuiltIn()) return oiioFormat();
    throw ToolError(path.string() + " is not an image the tool reads (PNG, TIFF, OpenEXR or DPX); reading other formats " +
                    oiioMissingMessage());
}

ImageHeader probeImage(const std::filesystem::path &path) {
    ImageHeader header = formatOfFile(path).probe(path);
    if (header.windows.dataWidth == 0)
        header.windows = {0, 0, header.width, header.height, 0, 0, header.width, header.height};
    return header;
}

RgbaImage readImage(const std::filesystem::path &path, uint64_t maxBytes, int floatDepth) {
    return formatOfFile(path).read(path, maxBytes, floatDepth);
}

void writeImage(const std::filesystem::path &path, const RgbaImage &image, const ImageWriteSettings &settings) {
    const ImageFormat &format = outputFormatFor(path.string(), "writing");
    std::vector<uint8_t> bytes;
    if (&format == &pngFormat() && settings.aspectNum == settings.aspectDen) {
        bytes = encodePng(image);
    } else {
        FrameRows rows{image.width, image.height, image.depth, [&image](int32_t y, uint16_t *out) {
                           const uint16_t *in = image.pixel(0, y);
                           for (size_t i = 0; i < size_t(image.width) * 4; ++i)
                               out[i] = effectValueOfSample(in[i], image.depth);
                       }, {}};
        bytes = format.encode(rows, settings);
    }
    writeFileAtomically(path, bytes);
}

}  // namespace pennaro_cli
