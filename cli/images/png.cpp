#include "cli/images/png.h"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include "cli/core/errors.h"
#include "cli/core/files.h"
#include "cli/images/image_format.h"
#include "cli/images/png_deflate.h"

namespace pennaro_cli {

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


}  // namespace

namespace {

// One walk over the chunks, before libpng sees them. libpng allocates a
// chunk's declared length before reading its data, so a few bytes declaring a
// gigabyte-long chunk would cost a gigabyte; a chunk that reaches past the end
// of the file is refused here instead.
struct PngChunkSurvey {
    uint64_t compressed = 0;  // bytes of image data present
    std::string overrun;      // type of a chunk running past the end, if any
};

PngChunkSurvey surveyChunks(const std::vector<uint8_t> &bytes) {
    PngChunkSurvey survey;
    for (uint64_t at = 8; at + 8 <= bytes.size();) {
        const uint8_t *chunk = bytes.data() + at;
        const uint64_t length = uint64_t(chunk[0]) << 24 | uint64_t(chunk[1]) << 16 | uint64_t(chunk[2]) << 8 | chunk[3];
        if (length + 12 > bytes.size() - at) {
            for (int i = 4; i < 8; ++i)
                survey.overrun += std::isalpha(chunk[i]) ? char(chunk[i]) : '?';
            break;
        }
        if (std::memcmp(chunk + 4, "IDAT", 4) == 0) survey.compressed += length;
        if (std::memcmp(chunk + 4, "IEND", 4) == 0) break;
        at += 12 + length;
    }
    return survey;
}

// Deflate expands no stream more than about 1032 to 1 (a 258-byte match
// every two bits).
constexpr uint64_t DEFLATE_BEST_RATIO = 1032;

}  // namespace

RgbaImage decodePng(const std::vector<uint8_t> &bytes, const std::string &name, uint64_t maxBytes) {
    if (bytes.size() < 8 || png_sig_cmp(bytes.data(), 0, 8) != 0)
        throw ToolError(name + " is not a PNG file");
    const PngChunkSurvey survey = surveyChunks(bytes);
    if (!survey.overrun.empty())
        throw ToolError(name + ": the file ends inside its " + survey.overrun + " chunk; damaged or truncated");
    PngErrorState errors;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors, onPngError, onPngWarning);
    if (!png) throw ToolError("out of memory reading " + name);
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        throw ToolError("out of memory reading " + name);
    }
    ReadCursor cursor{&bytes, 0};
    RgbaImage image;
    // Declared outside the setjmp scope so a longjmp out of libpng leaves
    // nothing they own behind.
    std::unique_ptr<png_byte[]> raw;
    std::vector<png_bytep> rows;
    std::string refusal;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw ToolError(name + ": " + errors.message);
    }
    png_set_read_fn(png, &cursor, readFromMemory);
    png_set_user_limits(png, 1u << 16, 1u << 16);
    png_read_info(png, info);
    int bitDepth = png_get_bit_depth(png, info);
    int colourType = png_get_color_type(png, info);
    // Nothing is allocated for the pixels before the file is known to be
    // able to hold them.
    const uint64_t width = png_get_image_width(png, info), height = png_get_image_height(png, info);
    const uint64_t declared = (width * png_get_channels(png, info) * uint64_t(bitDepth) + 7) / 8 * height;
    const uint64_t needed = width * height * 4 * sizeof(uint16_t);
    try {
        refuseUnlessHeld(name, width, height, declared, survey.compressed, DEFLATE_BEST_RATIO, needed, maxBytes);
    } catch (const ToolError &e) {
        refusal = e.what();
    }
    if (!refusal.empty()) {
        png_destroy_read_struct(&png, &info, nullptr);
        throw ToolError(refusal);
    }
    if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
    if (colourType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
    if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
    // Fill an absent alpha channel with opaque, at whatever depth the file is.
    png_set_add_alpha(png, bitDepth == 16 ? 0xFFFF : 0xFF, PNG_FILLER_AFTER);
    if (bitDepth == 16) png_set_swap(png);  // native little-endian words
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    image.width = int32_t(width);
    image.height = int32_t(height);
    image.depth = png_get_bit_depth(png, info) == 16 ? 16 : 8;
    const size_t rowBytes = png_get_rowbytes(png, info);
    const size_t count = size_t(width) * 4;  // samples in a row
    // Rows are appended as they are decoded, so no sample is written twice.
    image.samples.reserve(count * size_t(height));
    auto append = [&](const png_byte *row) {
        if (image.depth == 8) {
            image.samples.insert(image.samples.end(), row, row + count);
            return;
        }
        for (size_t i = 0; i < count; ++i) image.samples.push_back(uint16_t(row[2 * i] | (row[2 * i + 1] << 8)));
    };
    if (passes == 1) {  // one row at a time
        raw = std::make_unique_for_overwrite<png_byte[]>(rowBytes);
        for (uint64_t y = 0; y < height; ++y) {
            png_read_row(png, raw.get(), nullptr);
            append(raw.get());
        }
    } else {  // interlaced: every pass touches every row
        raw = std::make_unique_for_overwrite<png_byte[]>(rowBytes * size_t(height));
        rows.resize(size_t(height));
        for (size_t y = 0; y < rows.size(); ++y) rows[y] = raw.get() + rowBytes * y;
        png_read_image(png, rows.data());
        for (png_bytep row : rows) append(row);
    }
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    return image;
}

RgbaImage readPng(const std::filesystem::path &path, uint64_t maxBytes) {
    return decodePng(readFileBytes(path), path.string(), maxBytes);
}

int readPngDepth(const std::filesystem::path &path) {
    // The signature, then the header chunk: length, "IHDR", width, height and
    // the bit depth at byte 24.
    uint8_t head[25] = {};
    std::ifstream in(path, std::ios::binary);
    if (!in) throw ToolError("cannot read " + path.string() + ": " + std::strerror(errno));
    in.read(reinterpret_cast<char *>(head), sizeof head);
    if (in.gcount() != sizeof head || png_sig_cmp(head, 0, 8) != 0 || std::memcmp(head + 12, "IHDR", 4) != 0)
        throw ToolError(path.string() + " is not a PNG file");
    return head[24] == 16 ? 16 : 8;
}

namespace {

void appendBigEndian(std::vector<uint8_t> &out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void appendChunk(std::vector<uint8_t> &out, const char *type, const uint8_t *data, size_t size) {
    appendBigEndian(out, uint32_t(size));
    const size_t typeAt = out.size();
    out.insert(out.end(), type, type + 4);
    if (size) out.insert(out.end(), data, data + size);
    uint32_t crc = uint32_t(crc32(0, out.data() + typeAt, 4));
    if (size) crc = uint32_t(crc32_z(crc, data, size));
    appendBigEndian(out, crc);
}

// The rows of one piece, filtered and deflated on their own, with the
// Adler-32 of the filtered bytes so the pieces' sums can be combined.
struct EncodedPiece {
    std::vector<uint8_t> deflated;
    uLong adler = 1;
    size_t filteredSize = 0;
};

// Rows are deflated in pieces of about this many filtered bytes. The cut
// depends on the image's width and depth alone, so a frame's bytes are the
// same whatever number of threads encodes it.
constexpr size_t PIECE_BYTES = size_t{1} << 20;

std::atomic<unsigned> encodeThreads{1};

}  // namespace

void setPngEncodeThreads(unsigned threads) { encodeThreads.store(threads); }

// Our own writer rather than libpng's: the frame goes out as a signature,
// IHDR, one IDAT per piece and IEND, every row Paeth-filtered. Measured on
// rendered HD frames, Paeth then run-only matching gave the smallest files of
// the fast settings (smaller than zlib's default level 6 with adaptive
// filters), and doing both ourselves (see png_deflate.h) is several times
// faster than libpng with zlib's run-only strategy, for files within a
// fraction of a percent of theirs.
std::vector<uint8_t> encodePngRows(int32_t width, int32_t height, int depth,
                                   const std::function<void(int32_t, uint8_t *)> &fillRow, PngEncoding encoding,
                                   unsigned threadsWanted) {
    if (depth != 8 && depth != 16) throw ToolError("PNG depth must be 8 or 16");
    if (width <= 0 || height <= 0) throw ToolError("cannot write an empty image");
    if (uint32_t(width) > PNG_UINT_31_MAX / 8 || uint32_t(height) > PNG_UINT_31_MAX)
        throw ToolError("cannot encode PNG: the image is too large");
    const int bytesPerPixel = 4 * depth / 8;
    const size_t rowBytes = size_t(width) * size_t(bytesPerPixel);
    const int32_t rowsPerPiece = int32_t(std::clamp<size_t>(PIECE_BYTES / (rowBytes + 1), 1, size_t(height)));
    const int32_t pieceCount = (height + rowsPerPiece - 1) / rowsPerPiece;
    std::vector<EncodedPiece> pieces(static_cast<size_t>(pieceCount));

    auto encodePiece = [&](int32_t k) {
        const int32_t first = k * rowsPerPiece, end = std::min(height, first + rowsPerPiece);
        std::vector<uint8_t> rows(2 * rowBytes), filtered(size_t(end - first) * (rowBytes + 1));
        uint8_t *current = rows.data(), *previous = rows.data() + rowBytes;
        if (first > 0 && encoding != PngEncoding::Fast) fillRow(first - 1, previous);
        for (int32_t y = first; y < end; ++y) {
            uint8_t *out = filtered.data() + size_t(y - first) * (rowBytes + 1);
            if (encoding == PngEncoding::Fast) {
                out[0] = 0;  // no filter
                fillRow(y, out + 1);
                continue;
            }
            fillRow(y, current);
            paethFilterRow(current, y > 0 ? previous : nullptr, rowBytes, bytesPerPixel, out);
            std::swap(current, previous);
        }
        EncodedPiece &piece = pieces[size_t(k)];
        piece.filteredSize = filtered.size();
        piece.adler = adler32_z(1, filtered.data(), filtered.size());
        // The zlib stream's header (deflate, 32K window, fastest) opens the
        // first piece.
        if (k == 0) piece.deflated = {0x78, 0x01};
        if (encoding == PngEncoding::Fast)
            deflateStored(filtered.data(), filtered.size(), k + 1 == pieceCount, piece.deflated);
        else
            deflateRuns(filtered.data(), filtered.size(), k + 1 == pieceCount, piece.deflated);
    };
    // Pieces are taken in turn from a shared counter; the first failure stops
    // the others and is rethrown here.
    const unsigned threads =
        std::clamp<unsigned>(threadsWanted ? threadsWanted : encodeThreads.load(), 1, unsigned(pieceCount));
    std::atomic<int32_t> next{0};
    std::exception_ptr failure;
    std::mutex failureLock;
    auto work = [&] {
        for (int32_t k; (k = next.fetch_add(1)) < pieceCount;) {
            try {
                encodePiece(k);
            } catch (...) {
                std::lock_guard<std::mutex> hold(failureLock);
                if (!failure) failure = std::current_exception();
                next.store(pieceCount);
            }
        }
    };
    {
        std::vector<std::jthread> helpers;
        for (unsigned t = 1; t < threads; ++t) helpers.emplace_back(work);
        work();
    }
    if (failure) std::rethrow_exception(failure);

    size_t total = 8 + 25 + 12 + 6;
    for (const auto &piece : pieces) total += piece.deflated.size() + 12;
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    std::vector<uint8_t> out(signature, signature + 8);
    out.reserve(total);
    uint8_t header[13] = {};
    for (int i = 0; i < 4; ++i) {
        header[i] = uint8_t(uint32_t(width) >> (24 - 8 * i));
        header[4 + i] = uint8_t(uint32_t(height) >> (24 - 8 * i));
    }
    header[8] = uint8_t(depth);
    header[9] = 6;  // RGBA; compression, filter method and interlace stay 0
    appendChunk(out, "IHDR", header, sizeof header);
    uLong adler = 1;
    for (int32_t k = 0; k < pieceCount; ++k) {
        EncodedPiece &piece = pieces[size_t(k)];
        adler = adler32_combine(adler, piece.adler, z_off_t(piece.filteredSize));
        std::vector<uint8_t> &data = piece.deflated;
        // The stream's checksum closes the last piece.
        if (k + 1 == pieceCount)
            for (int shift = 24; shift >= 0; shift -= 8) data.push_back(uint8_t(adler >> shift));
        appendChunk(out, "IDAT", data.data(), data.size());
        std::vector<uint8_t>().swap(data);
    }
    appendChunk(out, "IEND", nullptr, 0);
    return out;
}

std::vector<uint8_t> encodePng(const RgbaImage &image) {
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

void writePng(const std::filesystem::path &path, const RgbaImage &image) {
    writeFileAtomically(path, encodePng(image));
}

}  // namespace pennaro_cli
