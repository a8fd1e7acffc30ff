// Pixels as the kernels see them: images, pixel records and the band of
// rows a stroke has painted. Host-free: the host's own image record is
// turned into an ImageView once per command, above this layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pennaro {

// Four channels in the order alpha, red, green, blue, straight colour. 8-bit
// channels run 0..255; 16-bit ones 0..32768 (values above come only from
// damaged input and are carried through the arithmetic as they are).
struct Pixel8 {
    uint8_t alpha, red, green, blue;
};

struct Pixel16 {
    uint16_t alpha, red, green, blue;
};

// An image the kernels read or write. Rows may be padded beyond the pixels
// (rowBytes >= width x pixel size) and need not be aligned. `data` is the
// first pixel, or null when there are no pixels to reach.
struct ImageView {
    uint8_t *data = nullptr;
    int32_t rowBytes = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool deep = false;  // 16 bits per channel

    template <typename Pixel>
    Pixel *row(int32_t y) const {
        return reinterpret_cast<Pixel *>(data + static_cast<ptrdiff_t>(y) * rowBytes);
    }
};

// Empty row span: nothing touched yet.
inline constexpr int32_t ROW_SPAN_EMPTY_LEFT = 9999;
inline constexpr int32_t ROW_SPAN_EMPTY_RIGHT = -1;

struct RowSpan {
    int32_t left;
    int32_t right;
};

// The band of rows a stroke has painted so far, with each row's span; the
// dab kernels widen it, the finishing passes visit exactly what it holds.
//
// When a frame is painted by several threads, each owns a range of rows
// of the image (bandRowCount rows from firstBandRow) and the kernels it runs
// touch only those rows and their spans. A dab's box is still worked out
// against the whole image, so a box that collapses at the image's edge is
// dropped exactly as when one thread paints every row. bandRowCount 0 is
// the whole image.
struct PaintedRows {
    int32_t rowCount;
    int32_t topRow;     // first row touched; starts at rowCount - 1
    int32_t bottomRow;  // last row touched; starts at 0
    RowSpan *spans;
    int32_t firstBandRow;
    int32_t bandRowCount;
};

}  // namespace pennaro
