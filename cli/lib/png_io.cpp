#include "lib/png_io.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "lib/common.h"

namespace pennaro_cli {

PngImage makePngImage(int32_t width, int32_t height, int depth) {
    PngImage image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.samples.assign(size_t(width) * size_t(height) * 4, 0);
    return image;
}

uint16_t sixteenBitFromFile(uint16_t fileSample) {
    return uint16_t((uint32_t(fileSample) * 32768u + 32767u) / 65535u);
}

uint16_t sixteenBitToFile(uint16_t value) {
    uint32_t v = (uint32_t(value) * 65535u + 16384u) / 32768u;
    return uint16_t(std::min<uint32_t>(v, 65535u));
}

uint16_t eightBitToSixteen(uint16_t sample) { return uint16_t((uint32_t(sample) * 32768u + 127u) / 255u); }

namespace {

// libpng reports errors through longjmp; we keep the text and turn it into
// a ToolError once we are back on our side of the setjmp.
struct PngErrorState {
    char message[256] = {};
};

void onPngError(png_structp png, png_const_charp text) {
    auto *state = static_cast<PngErrorState *>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", text);
    png_longjmp(png, 1);
}

void onPngWarning(png_structp, png_const_charp) {}

struct ReadCursor {
    const std::vector<uint8_t> *bytes;
    size_t at;
};

void readFromMemory(png_structp png, png_bytep out, png_size_t count) {
    auto *cursor = static_cast<ReadCursor *>(png_get_io_ptr(png));
    if (cursor->at + count > cursor->bytes->size()) png_error(png, "the file ends too early");
    std::memcpy(out, cursor->bytes->data() + cursor->at, count);
    cursor->at += count;
}

void writeToMemory(png_structp png, png_bytep data, png_size_t count) {
    auto *out = static_cast<std::vector<uint8_t> *>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + count);
}

void flushMemory(png_structp) {}

}  // namespace

PngImage decodePng(const std::vector<uint8_t> &bytes, const std::string &name) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
        throw ToolError(name + " is not a PNG file");
    PngErrorState errors;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
    if (!png) throw ToolError("out of memory reading " + name);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw ToolError("out of memory reading " + name);
    }
    ReadCursor cursor{&bytes, 0};
    PngImage image;
    std::vector<png_bytep> rows;
    std::vector<uint8_t> raw;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw ToolError(name + ": " + errors.message);
    }
    png_set_read_fn(png, &cursor, readFromMemory);
    png_set_user_limits(png, 1u << 16, 1u << 16);
    png_read_info(png, info);
    int bitDepth = png_get_bit_depth(png, info);
    int colourType = png_get_color_type(png, info);
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    // Fill an absent alpha channel with opaque, at whatever depth the file is.
    png_set_add_alpha(png, bitDepth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (bitDepth == 16) png_set_swap(png);  // native little-endian words
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.width = int32_t(png_get_image_width(png, info));
    image.height = int32_t(png_get_image_height(png, info));
    image.depth = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    size_t rowBytes = png_get_rowbytes(png, info);
    raw.resize(rowBytes * size_t(image.height));
    rows.resize(size_t(image.height));
    for (int32_t y = 0; y < image.height; ++y) rows[size_t(y)] = raw.data() + rowBytes * size_t(y);
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);

    image.samples.resize(size_t(image.width) * size_t(image.height) * 4);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = rows[size_t(y)];
        uint16_t *out = image.pixel(0, y);
        size_t count = size_t(image.width) * 4;
        if (image.depth == 16) {
            for (size_t i = 0; i < count; ++i) out[i] = uint16_t(row[2 * i] | (row[2 * i + 1] << 8));
        } else {
            for (size_t i = 0; i < count; ++i) out[i] = row[i];
        }
    }
    return image;
}

PngImage readPng(const std::filesystem::path &path) { return decodePng(readFileBytes(path), path.string()); }

std::vector<uint8_t> encodePngRows(int32_t width, int32_t height, int depth,
                                   const std::function<void(int32_t, uint8_t *)> &fillRow) {
    if (depth != 8 && depth != 16) throw ToolError("PNG depth must be 8 or 16");
    if (width <= 0 || height <= 0) throw ToolError("cannot write an empty image");
    PngErrorState errors;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
    if (!png) throw ToolError("out of memory writing PNG");
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        throw ToolError("out of memory writing PNG");
    }
    std::vector<uint8_t> out;
    std::vector<uint8_t> row(size_t(width) * 4 * size_t(depth / 8));
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw ToolError(std::string("cannot encode PNG: ") + errors.message);
    }
    png_set_write_fn(png, &out, writeToMemory, flushMemory);
    png_set_IHDR(png, info, png_uint_32(width), png_uint_32(height), depth, PNG_COLOR_TYPE_RGB_ALPHA,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // Chosen by measurement on rendered HD frames: run-length matching after
    // the Paeth filter writes about eight times faster than zlib's default
    // level 6 with adaptive filters, and the files come out slightly smaller
    // (painted frames are mostly flat runs once predicted).
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_PAETH);
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    png_write_info(png, info);
    for (int32_t y = 0; y < height; ++y) {
        fillRow(y, row.data());
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::vector<uint8_t> encodePng(const PngImage &image) {
    return encodePngRows(image.width, image.height, image.depth, [&image](int32_t y, uint8_t *row) {
        const uint16_t *in = image.pixel(0, y);
        const size_t count = size_t(image.width) * 4;
        if (image.depth == 16) {
            for (size_t i = 0; i < count; ++i) {  // PNG words are big-endian
                row[2 * i] = uint8_t(in[i] >> 8);
                row[2 * i + 1] = uint8_t(in[i] & 0xFF);
            }
        } else {
            for (size_t i = 0; i < count; ++i) row[i] = uint8_t(in[i]);
        }
    });
}

void writePng(const std::filesystem::path &path, const PngImage &image) {
    writeFileAtomically(path, encodePng(image));
}

}  // namespace pennaro_cli
