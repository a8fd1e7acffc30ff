// TIFF through libtiff: written as RGBA with unassociated (straight) alpha,
// 8 or 16 bits per sample holding the same samples a PNG of that depth
// would, deflate-compressed with horizontal differencing. Read: RGB and grey
// images, with or without alpha, 8 or 16 bits; other 8-bit layouts (palette,
// YCbCr, tiles) through libtiff's own RGBA conversion.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <mutex>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/images/image_format.h"

namespace pennaro_cli {
namespace {

// libtiff reports through global handlers; the last error is kept for the
// message that names the file, and warnings (unknown tags and the like) are
// not the user's concern.
thread_local std::string lastTiffError;

void tiffError(const char *, const char *format, va_list args) {
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    lastTiffError = text;
}
void tiffWarning(const char *, const char *, va_list) {}

void installHandlers() {
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetErrorHandler(tiffError);
        TIFFSetWarningHandler(tiffWarning);
    });
}

[[noreturn]] void fail(const std::string &name, const std::string &what) {
    std::string text = name + ": " + what;
    if (!lastTiffError.empty()) text += " (" + lastTiffError + ")";
    lastTiffError.clear();
    throw ToolError(text);
}

struct TiffCloser {
    void operator()(TIFF *tif) const { TIFFClose(tif); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// A TIFF file's bytes for libtiff's client I/O. Reading and mapping both
// stay inside them, so libtiff knows the file's size and refuses a tag or
// strip reaching past it before allocating for it.
struct ReadView {
    const uint8_t *data;
    uint64_t size, position;
};

tmsize_t viewRead(thandle_t handle, void *out, tmsize_t size) {
    auto &v = *static_cast<ReadView *>(handle);
    if (size <= 0 || v.position >= v.size) return 0;
    const size_t n = size_t(std::min<uint64_t>(uint64_t(size), v.size - v.position));
    std::memcpy(out, v.data + v.position, n);
    v.position += n;
    return tmsize_t(n);
}
tmsize_t viewWrite(thandle_t, void *, tmsize_t) { return -1; }
toff_t viewSeek(thandle_t handle, toff_t offset, int whence) {
    auto &v = *static_cast<ReadView *>(handle);
    const uint64_t base = whence == SEEK_CUR ? v.position : whence == SEEK_END ? v.size : 0;
    v.position = base + offset;
    return v.position;
}
int viewClose(thandle_t) { return 0; }
toff_t viewSize(thandle_t handle) { return static_cast<ReadView *>(handle)->size; }
int viewMap(thandle_t handle, void **base, toff_t *size) {
    auto &v = *static_cast<ReadView *>(handle);
    *base = const_cast<uint8_t *>(v.data);
    *size = v.size;
    return 1;
}
void viewUnmap(thandle_t, void *, toff_t) {}

TiffHandle openForReading(ReadView &file, const std::string &name, uint64_t maxBytes) {
    installHandlers();
    lastTiffError.clear();
    // No single allocation inside libtiff beyond what the run allows.
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(std::min<uint64_t>(maxBytes, uint64_t(INT64_MAX))));
    TiffHandle tif(TIFFClientOpenExt(name.c_str(), "r", &file, viewRead, viewWrite, viewSeek, viewClose, viewSize,
                                     viewMap, viewUnmap, options));
    TIFFOpenOptionsFree(options);
    if (!tif) fail(name, "not a readable TIFF file");
    return tif;
}

bool tiffRecognises(const uint8_t *head, size_t size) {
    return size >= 4 && ((head[0] == 'I' && head[1] == 'I' && head[2] == 42 && head[3] == 0) ||
                         (head[0] == 'M' && head[1] == 'M' && head[2] == 0 && head[3] == 42));
}

struct Layout {
    uint32_t width = 0, height = 0;
    uint16_t bits = 0, samples = 0, photometric = 0, planar = 0;
    bool associatedAlpha = false, hasAlpha = false;
    // Read sample by sample; otherwise through the RGBA conversion.
    bool direct() const {
        return (photometric == PHOTOMETRIC_RGB || photometric == PHOTOMETRIC_MINISBLACK) &&
               (bits == 8 || bits == 16) && planar == PLANARCONFIG_CONTIG && samples >= 1 && samples <= 4;
    }
};

Layout layoutOf(TIFF *tif, const std::string &name) {
    Layout l;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
    if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric)) l.photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t extraCount = 0;
    uint16_t *extra = nullptr;
    if (TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0) {
        l.hasAlpha = extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA;
        l.associatedAlpha = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    } else if (l.samples == 2 || l.samples == 4) {
        l.hasAlpha = true;  // an unlabelled extra sample is taken as straight alpha
    }
    if (l.width == 0 || l.height == 0 || l.width > INT32_MAX || l.height > INT32_MAX)
        fail(name, "TIFF header declares no usable image size");
    if (!l.direct() && l.bits > 8)
        fail(name, "this TIFF layout (" + std::to_string(l.bits) + "-bit, photometric " +
                       std::to_string(l.photometric) + ") is not read; save it as RGB(A) or grey, 8 or 16 bits");
    if (TIFFIsTiled(tif) && l.bits > 8) fail(name, "16-bit tiled TIFF files are not read; save it in strips");
    return l;
}

ImageHeader tiffProbe(const std::filesystem::path &path) {
    installHandlers();
    lastTiffError.clear();
    TIFFOpenOptions *options = TIFFOpenOptionsAlloc();
    TIFFOpenOptionsSetMaxSingleMemAlloc(options, tmsize_t(64) << 20);  // a header's tags, never its pixels
    TiffHandle tif(TIFFOpenExt(path.c_str(), "r", options));
    TIFFOpenOptionsFree(options);
    if (!tif) fail(path.string(), "not a readable TIFF file");
    const Layout l = layoutOf(tif.get(), path.string());
    return ImageHeader{"TIFF", int32_t(l.width), int32_t(l.height), l.bits == 16 ? 16 : 8, false, {}};
}

// How many times its input a compression can expand at most, from the
// densest code each can write: a run of 128 bytes in two (PackBits), a 4096
// byte string in a 9-bit code (LZW), a 258-byte match in two bits (deflate),
// an 8x8 block in two bits per component (JPEG), a bilevel row in one bit
// (CCITT: a row of `width` pixels in 1 bit, so 8 rows a byte). Anything
// else gets the bound of the loosest one here, zstd's runs of 128 KB.
uint64_t bestRatio(uint16_t compression, uint32_t width) {
    switch (compression) {
    case COMPRESSION_NONE: return 1;
    case COMPRESSION_PACKBITS: return 64;
    case COMPRESSION_LZW: return 3641;
    case COMPRESSION_DEFLATE:
    case COMPRESSION_ADOBE_DEFLATE: return 1032;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG: return 1024;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4: return uint64_t(width) + 8;
    case COMPRESSION_LZMA: return 8192;
    default: return 65536;
    }
}

// The compressed bytes the file really holds for its strips or tiles: each
// counted only as far as it lies inside the file.
uint64_t presentBytes(TIFF *tif, uint64_t fileSize) {
    const uint32_t count = TIFFIsTiled(tif) ? TIFFNumberOfTiles(tif) : TIFFNumberOfStrips(tif);
    uint64_t present = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif, i), size = TIFFGetStrileByteCount(tif, i);
        if (offset < fileSize) present += std::min(size, fileSize - offset);
    }
    return present;
}

// What decoding every strip or tile gives, before any of it is decoded.
uint64_t declaredBytes(TIFF *tif, const Layout &l) {
    if (TIFFIsTiled(tif)) {
        const uint64_t tiles = TIFFNumberOfTiles(tif), tileSize = TIFFTileSize64(tif);
        return saturatingProduct(tiles, tileSize);
    }
    const uint64_t planes = l.planar == PLANARCONFIG_SEPARATE ? l.samples : 1;
    return saturatingProduct(saturatingProduct(TIFFScanlineSize64(tif), l.height), planes);
}

}  // namespace

RgbaImage decodeTiff(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes) {
    ReadView file{bytes.data(), bytes.size(), 0};
    TiffHandle tif = openForReading(file, name, maxBytes);
    const Layout l = layoutOf(tif.get(), name);
    const int depth = l.bits == 16 ? 16 : 8;
    uint16_t compression = COMPRESSION_NONE;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    const bool direct = l.direct() && !TIFFIsTiled(tif.get());
    // The image, and libtiff's own 32-bit raster on the converting path.
    refuseUnlessHeld(name, l.width, l.height, declaredBytes(tif.get(), l), presentBytes(tif.get(), bytes.size()),
                     bestRatio(compression, l.width), saturatingProduct(uint64_t(l.width) * l.height, direct ? 8 : 12),
                     maxBytes);
    RgbaImage image = makeImage(int32_t(l.width), int32_t(l.height), depth);
    const uint32_t full = depth == 16 ? 65535 : 255;

    if (!direct) {
        // libtiff's conversion, bottom-up unless asked; its alpha is
        // premultiplied, so only images without alpha go this way.
        if (l.hasAlpha) fail(name, "this TIFF layout with alpha is not read; save it as RGBA in strips");
        std::vector<uint32_t> raster(size_t(l.width) * l.height);
        if (!TIFFReadRGBAImageOriented(tif.get(), l.width, l.height, raster.data(), ORIENTATION_TOPLEFT, 0))
            fail(name, "cannot decode the TIFF image");
        for (size_t i = 0; i < raster.size(); ++i) {
            image.samples[4 * i] = uint16_t(TIFFGetR(raster[i]));
            image.samples[4 * i + 1] = uint16_t(TIFFGetG(raster[i]));
            image.samples[4 * i + 2] = uint16_t(TIFFGetB(raster[i]));
            image.samples[4 * i + 3] = uint16_t(TIFFGetA(raster[i]));
        }
        return image;
    }

    std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif.get())));
    const size_t minimum = size_t(l.width) * l.samples * (depth / 8);
    if (line.size() < minimum) fail(name, "TIFF scanlines are shorter than the image width");
    const bool grey = l.photometric == PHOTOMETRIC_MINISBLACK;
    const int colourSamples = grey ? 1 : 3;
    for (uint32_t y = 0; y < l.height; ++y) {
        if (TIFFReadScanline(tif.get(), line.data(), y, 0) < 0)
            fail(name, "cannot read row " + std::to_string(y) + " of the TIFF image");
        for (uint32_t x = 0; x < l.width; ++x) {
            uint32_t in[4] = {0, 0, 0, full};
            for (int c = 0; c < std::min<int>(l.samples, colourSamples + 1); ++c) {
                const size_t at = size_t(x) * l.samples + size_t(c);
                uint16_t v;
                if (depth == 16) std::memcpy(&v, &line[at * 2], 2);  // libtiff gives native order
                else v = line[at];
                in[c] = v;
            }
            uint16_t *out = image.pixel(int32_t(x), int32_t(y));
            const uint32_t alpha = l.hasAlpha && l.samples > colourSamples ? in[colourSamples] : full;
            for (int c = 0; c < 3; ++c) {
                uint32_t v = in[grey ? 0 : c];
                // Premultiplied colour back to straight, to the nearest.
                if (l.associatedAlpha) v = alpha == 0 ? 0 : std::min(full, (v * full + alpha / 2) / alpha);
                out[c] = uint16_t(v);
            }
            out[3] = uint16_t(alpha);
        }
    }
    return image;
}

namespace {

// The one directory a written frame has, with every value it points to,
// inside the file (libtiff passes over a tag whose value is missing).
bool directoryInside(const std::vector<uint8_t> &bytes) {
    const bool little = bytes[0] == 'I';
    const auto number = [&](uint64_t at, int size) {
        uint32_t v = 0;
        for (int i = 0; i < size; ++i) v |= uint32_t(bytes[at + uint64_t(i)]) << (8 * (little ? i : size - 1 - i));
        return v;
    };
    if (bytes.size() < 8) return false;
    const uint64_t directory = number(4, 4);
    if (directory > bytes.size() || bytes.size() - directory < 2) return false;
    const uint64_t entries = number(directory, 2), end = directory + 2 + entries * 12;
    if (end + 4 > bytes.size() || number(end, 4) != 0) return false;
    static const uint64_t typeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
    for (uint64_t e = directory + 2; e < end; e += 12) {
        const uint32_t type = number(e + 2, 2);
        const uint64_t size = (type < 13 ? typeSizes[type] : 8) * uint64_t(number(e + 4, 4));
        if (size > 4 && (number(e + 8, 4) > bytes.size() || size > bytes.size() - number(e + 8, 4))) return false;
    }
    return true;
}

// A frame as tiffEncode writes it, whole: RGBA with straight alpha at the
// depth asked for, deflated in strips, every strip inside the file and
// every row decoded.
bool tiffHolds(const std::vector<uint8_t> &bytes, const ExpectedImage &expected) {
    const std::string name = "existing frame";
    if (!tiffRecognises(bytes.data(), bytes.size()) || !directoryInside(bytes)) return false;
    ReadView file{bytes.data(), bytes.size(), 0};
    TiffHandle tif = openForReading(file, name, UINT64_MAX);
    const Layout l = layoutOf(tif.get(), name);
    uint16_t compression = 0;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_COMPRESSION, &compression);
    if (l.width != uint32_t(expected.width) || l.height != uint32_t(expected.height) || l.bits != expected.depth ||
        l.samples != 4 || l.photometric != PHOTOMETRIC_RGB || !l.hasAlpha || l.associatedAlpha ||
        l.planar != PLANARCONFIG_CONTIG || TIFFIsTiled(tif.get()) || compression != COMPRESSION_ADOBE_DEFLATE)
        return false;
    for (uint32_t i = 0; i < TIFFNumberOfStrips(tif.get()); ++i) {
        const uint64_t offset = TIFFGetStrileOffset(tif.get(), i), size = TIFFGetStrileByteCount(tif.get(), i);
        if (size == 0 || offset > bytes.size() || size > bytes.size() - offset) return false;
    }
    decodeTiff(bytes, name, UINT64_MAX);
    return true;
}

RgbaImage tiffRead(const std::filesystem::path &path, uint64_t maxBytes, int) {
    return decodeTiff(readFileBytes(path), path.string(), maxBytes);
}

// A growing TIFF file in memory, for libtiff's client I/O.
struct MemoryFile {
    std::vector<uint8_t> bytes;
    uint64_t position = 0;
};

tmsize_t memRead(thandle_t, void *, tmsize_t) { return 0; }
tmsize_t memWrite(thandle_t handle, void *data, tmsize_t size) {
    auto &f = *static_cast<MemoryFile *>(handle);
    if (f.position + uint64_t(size) > f.bytes.size()) f.bytes.resize(size_t(f.position + uint64_t(size)));
    std::memcpy(f.bytes.data() + f.position, data, size_t(size));
    f.position += uint64_t(size);
    return size;
}
toff_t memSeek(thandle_t handle, toff_t offset, int whence) {
    auto &f = *static_cast<MemoryFile *>(handle);
    const uint64_t base = whence == SEEK_CUR ? f.position : whence == SEEK_END ? f.bytes.size() : 0;
    f.position = base + offset;
    return f.position;
}
int memClose(thandle_t) { return 0; }
toff_t memSize(thandle_t handle) { return static_cast<MemoryFile *>(handle)->bytes.size(); }
int memNoMap(thandle_t, void **, toff_t *) { return 0; }
void memUnmap(thandle_t, void *, toff_t) {}

std::vector<uint8_t> tiffEncode(const FrameRows &frame, const ImageWriteSettings &settings) {
    installHandlers();
    lastTiffError.clear();
    MemoryFile file;
    TiffHandle tif(TIFFClientOpen("frame", "w", &file, memRead, memWrite, memSeek, memClose, memSize, memNoMap,
                                  memUnmap));
    if (!tif) fail("TIFF", "cannot start writing");
    TIFF *t = tif.get();
    const uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(frame.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(frame.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, uint16_t(frame.depth));
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, uint16_t(4));
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, uint16_t(1), extra);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, uint16_t(PHOTOMETRIC_RGB));
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, uint16_t(PLANARCONFIG_CONTIG));
    TIFFSetField(t, TIFFTAG_ORIENTATION, uint16_t(ORIENTATION_TOPLEFT));
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(COMPRESSION_ADOBE_DEFLATE));
    TIFFSetField(t, TIFFTAG_PREDICTOR, uint16_t(PREDICTOR_HORIZONTAL));
    // Strips of about 64 KB: few enough for readers to seek through, each
    // large enough for deflate to work on.
    const uint32_t rowBytes = uint32_t(frame.width) * 4 * uint32_t(frame.depth / 8);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, std::max<uint32_t>(1, (64u << 10) / std::max<uint32_t>(rowBytes, 1)));
    // Pixels per unit along each axis, no unit: a wide pixel means fewer
    // of them across.
    TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, uint16_t(RESUNIT_NONE));
    TIFFSetField(t, TIFFTAG_XRESOLUTION, float(settings.aspectDen));
    TIFFSetField(t, TIFFTAG_YRESOLUTION, float(settings.aspectNum));
    TIFFSetField(t, TIFFTAG_SOFTWARE, softwareName().c_str());

    std::vector<uint16_t> values(size_t(frame.width) * 4);
    std::vector<uint8_t> line(values.size() * size_t(frame.depth / 8));
    for (int32_t y = 0; y < frame.height; ++y) {
        frame.row(y, values.data());
        if (frame.depth == 16) {
            for (size_t i = 0; i < values.size(); ++i) {
                const uint16_t s = sixteenBitToFile(values[i]);
                std::memcpy(&line[2 * i], &s, 2);
            }
        } else {
            for (size_t i = 0; i < values.size(); ++i) line[i] = uint8_t(values[i]);
        }
        if (TIFFWriteScanline(t, line.data(), uint32_t(y), 0) < 0) fail("TIFF", "cannot encode the image");
    }
    if (!TIFFWriteDirectory(t)) fail("TIFF", "cannot finish the image");
    tif.reset();
    return std::move(file.bytes);
}

}  // namespace

const ImageFormat &tiffFormat() {
    static const ImageFormat format{"TIFF", {".tif", ".tiff"}, tiffRecognises, tiffProbe, tiffRead, tiffEncode, tiffHolds};
    return format;
}

}  // namespace pennaro_cli
