// Image files of every format the tool reads and writes, behind one small
// interface: each format (PNG, TIFF, OpenEXR) is one ImageFormat, found by
// the file's first bytes when reading and by the name's extension when
// writing. A new format is one more file and one more line in the list.
// Files of no format in the list are layers for OpenImageIO, where the build
// has it (oiio.cpp).
//
// In memory an image is a RgbaImage: RGBA, straight alpha, samples on the
// integer scale of a file of that depth (0..255 at 8 bits, 0..65535 at 16;
// see image.h for the mapping to the effect's 0..32768). Integer formats
// (PNG, TIFF) hold those samples as they are; floating-point ones convert
// on the way in and out (exr.cpp says how exactly).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/images/png.h"

namespace pennaro_cli {

// Where an image's pixels lie in the picture it belongs to, as OpenEXR
// files say: the data window holds the pixels, the display window is the
// frame of the shot (an overscan plate holds more than its display window,
// a CG element less). Other files hold exactly their frame at 0,0.
struct ImageWindows {
    int32_t dataX = 0, dataY = 0, dataWidth = 0, dataHeight = 0;
    int32_t displayX = 0, displayY = 0, displayWidth = 0, displayHeight = 0;
    // Anything but both windows at 0,0 with one size.
    bool placed() const {
        return dataX != 0 || dataY != 0 || displayX != 0 || displayY != 0 || dataWidth != displayWidth ||
               dataHeight != displayHeight;
    }
    bool operator==(const ImageWindows &) const = default;
};

// What a file's header says, without its pixels.
struct ImageHeader {
    std::string format;  // "PNG", "TIFF", "OpenEXR"
    int32_t width = 0, height = 0;  // the pixels held: the data window
    int depth = 8;          // integer formats: 8 or 16 as read
    bool floating = false;  // floating-point samples: read at any depth
    ImageWindows windows;
};

// OpenEXR compressions by the numbers the format gives them, and by name
// for --exr-compression.
constexpr int EXR_ZIP = 3;
struct ExrCompressionName {
    const char *name;
    int code;
};
inline constexpr ExrCompressionName EXR_COMPRESSIONS[] = {{"none", 0}, {"zip", 3}, {"zips", 2},
                                                          {"piz", 4},  {"dwaa", 8}, {"dwab", 9}};
// The name and version written into every image file's header.
std::string softwareName();

// A frame on its way out: `row(y, rgba)` fills one row of width × 4 samples
// in the effect's values (0..255 at depth 8, 0..32768 at depth 16), straight
// alpha.
struct FrameRows {
    int32_t width = 0, height = 0;
    int depth = 8;
    std::function<void(int32_t, uint16_t *)> row;
    // Floating-point formats only, when set: the row as the file stores it
    // (RGBA floats, colour premultiplied), in place of `row`, for values the
    // effect's scale cannot hold (a float layer's, kept where unpainted).
    std::function<void(int32_t, float *)> storedRow = {};
};

struct ImageWriteSettings {
    uint32_t aspectNum = 1, aspectDen = 1;  // pixel aspect: pixel width / height
    bool exrFloat = false;                  // OpenEXR channels as 32-bit float, else half
    // OpenEXR only: the windows to write, when placed(); the data window's
    // size is the frame's.
    ImageWindows windows = {};
    int exrCompression = EXR_ZIP;
    // The frame rate (0: none) and the frame's number, for the frame rate
    // and time code a pipeline reads from OpenEXR and DPX headers.
    uint32_t rateNum = 0, rateDen = 1;
    int64_t frameNumber = -1;  // -1: no time code
};

// What writing a frame gives, for a re-run to tell a finished file from one
// to render again.
struct ExpectedImage {
    int32_t width = 0, height = 0;
    int depth = 8;
    bool exrFloat = false;
    ImageWindows windows = {};  // OpenEXR, when placed()
    int exrCompression = EXR_ZIP;
};

struct ImageFormat {
    const char *name;
    std::vector<std::string> extensions;  // lower case, with the dot
    bool (*recognises)(const uint8_t *head, size_t size);  // from the first 8 bytes
    ImageHeader (*probe)(const std::filesystem::path &path);
    // `floatDepth` (8 or 16) is the depth a floating-point file is read at.
    RgbaImage (*read)(const std::filesystem::path &path, uint64_t maxBytes, int floatDepth);
    std::vector<uint8_t> (*encode)(const FrameRows &frame, const ImageWriteSettings &settings);
    // True when `bytes` are a whole file (its structure checked to its end,
    // every pixel decoded) of what `encode` writes for `expected`: size,
    // depth, channels, compression, pixel type and windows. May throw a
    // ToolError for a damaged file.
    bool (*holds)(const std::vector<uint8_t> &bytes, const ExpectedImage &expected);
};

const ImageFormat &pngFormat();
const ImageFormat &tiffFormat();
const ImageFormat &exrFormat();
const ImageFormat &dpxFormat();
const std::vector<const ImageFormat *> &imageFormats();

// Layers in every other format OpenImageIO reads, in a build that found it
// (oiio.cpp): read only, never written, and reached only by files none of
// the formats above takes.
bool oiioBuiltIn();
const ImageFormat &oiioFormat();  // a ToolError in a build without it
// The line --version gives it: "layers through OpenImageIO 2.4.7.1: bmp,
// cineon, dpx, ..." (the formats it adds), or the package that brings it.
std::string oiioVersionLine();
// The end of the message refusing a format only OpenImageIO reads: "needs
// OpenImageIO: install ... and rebuild", or why its module did not load.
std::string oiioMissingMessage();

// The format a file is written in, by its name's extension (any case). A
// name without an extension ("-", /dev/null, "out") is PNG. Any other
// extension is a UsageError naming `option` and the extensions known.
const ImageFormat &outputFormatFor(const std::string &name, const std::string &option);

// The format of an existing file by its content; a ToolError naming the file
// when it is none the tool reads.
const ImageFormat &formatOfFile(const std::filesystem::path &path);
ImageHeader probeImage(const std::filesystem::path &path);
// Depth 8 or 16 as the file holds it; floating-point files at `floatDepth`.
RgbaImage readImage(const std::filesystem::path &path, uint64_t maxBytes = PNG_DEFAULT_MAX_BYTES,
                   int floatDepth = 16);

// A whole image (file samples, as read) written in the format its name asks
// for, through writeFileAtomically.
void writeImage(const std::filesystem::path &path, const RgbaImage &image, const ImageWriteSettings &settings = {});
// True when the file at `path` is whole and is what writing `expected` in
// `format` gives (see ImageFormat::holds); false for anything else, a file
// cut short, damaged or of another kind, a device or a missing file.
bool fileHoldsImage(const std::filesystem::path &path, const ImageFormat &format, const ExpectedImage &expected);

// The effect's value of one file sample of an image of the given depth.
inline uint16_t effectValueOfSample(uint16_t sample, int depth) {
    return depth == 16 ? sixteenBitFromFile(sample) : sample;
}

// The check every layer reader makes before it allocates pixels: a file
// declaring `declaredBytes` of decoded data while holding `presentBytes` of
// compressed data that its compression expands at most `bestRatio` times
// cannot be whole, so a few bytes declaring a huge image cost nothing; and an
// image whose reading needs more than `maxBytes` is refused. Both say why,
// naming the file.
void refuseUnlessHeld(const std::string &name, uint64_t width, uint64_t height, uint64_t declaredBytes,
                      uint64_t presentBytes, uint64_t bestRatio, uint64_t neededBytes, uint64_t maxBytes);
// a × b, or the largest value when that does not fit: for counts read from
// a file, which may be anything.
inline uint64_t saturatingProduct(uint64_t a, uint64_t b) {
    return a != 0 && b > UINT64_MAX / a ? UINT64_MAX : a * b;
}
// "12 MB", or "900 bytes" under a megabyte.
std::string megabytes(uint64_t bytes);

// The readers of the formats behind the interface, on a file's bytes.
RgbaImage decodeTiff(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes);
RgbaImage decodeExr(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes, int depth);
// One OpenEXR pixel as stored (RGBA floats, colour premultiplied) in the
// effect's values at `depth`, as every EXR layer is read: alpha held to 0..1,
// colour divided by it, held to 0..1 and rounded; NaN and colour under zero
// alpha as 0.
void exrPixelToEffectValues(const float *stored, int depth, uint16_t *values);
// An OpenEXR file's values as stored, RGBA (a lone Y as R, G and B; 1 where
// there is no alpha).
// Its windows in `windows` when given.
FloatImage readExrFloats(const std::filesystem::path &path, uint64_t maxBytes, ImageWindows *windows = nullptr);

// PNG's pHYs chunk carries the pixel aspect; added only when it is not 1:1,
// so that square-pixel files are byte for byte those of the PNG writer.
void addPngPixelAspect(std::vector<uint8_t> &png, uint32_t aspectNum, uint32_t aspectDen);
// A tEXt chunk (Latin-1 keyword and text), before IEND.
void addPngText(std::vector<uint8_t> &png, const std::string &keyword, const std::string &text);

}  // namespace pennaro_cli
