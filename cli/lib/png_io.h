// Reading and writing PNG frames, and the mapping between PNG samples and the
// effect's own channel values.
//
// The effect works with 8-bit channels 0..255 and 16-bit channels 0..32768.
// PNG files hold 0..255 and 0..65535. At 16 bits we map both ways with
// integer arithmetic chosen so that a frame written and read back gives the
// very same values:
//
//   written:  file = min((v * 65535 + 16384) / 32768, 65535)     v in 0..32768
//   read:     v    = (file * 32768 + 32767) / 65535               file in 0..65535
//
// An 8-bit sample s that has to reach a 16-bit image becomes
// (s * 32768 + 127) / 255.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace pennaro_cli {

// An RGBA image with straight alpha, as stored in a PNG file: samples are
// the file's own (0..255 at depth 8, 0..65535 at depth 16), four per pixel in
// the order red, green, blue, alpha, rows packed.
struct PngImage {
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;  // 8 or 16
    std::vector<uint16_t> samples;

    uint16_t *pixel(int32_t x, int32_t y) { return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4]; }
    const uint16_t *pixel(int32_t x, int32_t y) const {
        return &samples[(size_t(y) * size_t(width) + size_t(x)) * 4];
    }
};

PngImage makePngImage(int32_t width, int32_t height, int depth);

// What reading one PNG may take unless the caller says otherwise.
inline constexpr uint64_t PNG_DEFAULT_MAX_BYTES = uint64_t{4} << 30;

// Any PNG: palette, grey and grey+alpha are expanded to RGBA, low bit depths
// to 8, and an image without alpha is opaque. Depth is 8 or 16 as in the file.
// A file is refused before anything is allocated for its pixels when its
// compressed data cannot hold the size it declares, or when the decoded
// image would take more than `maxBytes`.
PngImage readPng(const std::filesystem::path &path, uint64_t maxBytes = PNG_DEFAULT_MAX_BYTES);
PngImage decodePng(const std::vector<uint8_t> &bytes, const std::string &nameForErrors,
                   uint64_t maxBytes = PNG_DEFAULT_MAX_BYTES);
// The depth readPng would give (8 or 16), from the file's header alone.
int readPngDepth(const std::filesystem::path &path);

std::vector<uint8_t> encodePng(const PngImage &image);
// An RGBA image of the given depth whose rows come from `fillRow(y, row)`,
// which writes the row's samples as the file stores them (16-bit samples
// big-endian), width × 4 × depth/8 bytes. With more than one encoding thread
// fillRow is called from several threads at once, for different rows, and
// some rows twice.
// Compact is what frame files are written with; Fast, for previews sent
// over a local connection, stores the rows without filtering or
// compression: several times quicker to make, several times larger.
// `threads` 0 takes the number set below.
enum class PngEncoding { Compact, Fast };
std::vector<uint8_t> encodePngRows(int32_t width, int32_t height, int depth,
                                   const std::function<void(int32_t, uint8_t *)> &fillRow,
                                   PngEncoding encoding = PngEncoding::Compact, unsigned threads = 0);
// How many threads encodePngRows may use (default 1). The bytes written do
// not depend on it.
void setPngEncodeThreads(unsigned threads);
// Written to a temporary file and renamed into place.
void writePng(const std::filesystem::path &path, const PngImage &image);

// The 16-bit mapping above, one sample at a time. Inline, as every sample
// of a 16-bit frame goes through one of them on its way to or from a file.
inline uint16_t sixteenBitFromFile(uint16_t fileSample) {
    return uint16_t((uint32_t(fileSample) * 32768u + 32767u) / 65535u);
}
inline uint16_t sixteenBitToFile(uint16_t value) {
    const uint32_t v = (uint32_t(value) * 65535u + 16384u) / 32768u;
    return uint16_t(v < 65535u ? v : 65535u);
}
// An 8-bit sample brought to the effect's 16-bit range.
inline uint16_t eightBitToSixteen(uint16_t sample) { return uint16_t((uint32_t(sample) * 32768u + 127u) / 255u); }

}  // namespace pennaro_cli
