// Reading and writing PNG frames.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "cli/images/image.h"

namespace pennaro_cli {

// What reading one PNG may take unless the caller says otherwise.
inline constexpr uint64_t PNG_DEFAULT_MAX_BYTES = uint64_t{4} << 30;

// Any PNG: palette, grey and grey+alpha are expanded to RGBA, low bit depths
// to 8, and an image without alpha is opaque. Depth is 8 or 16 as in the file.
// A file is refused before anything is allocated for its pixels when its
// compressed data cannot hold the size it declares, or when the decoded
// image would take more than `maxBytes`.
RgbaImage readPng(const std::filesystem::path &path, uint64_t maxBytes = PNG_DEFAULT_MAX_BYTES);
RgbaImage decodePng(const std::vector<uint8_t> &bytes, const std::string &nameForErrors,
                   uint64_t maxBytes = PNG_DEFAULT_MAX_BYTES);
// The depth readPng would give (8 or 16), from the file's header alone.
int readPngDepth(const std::filesystem::path &path);

std::vector<uint8_t> encodePng(const RgbaImage &image);
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
void writePng(const std::filesystem::path &path, const RgbaImage &image);

}  // namespace pennaro_cli
