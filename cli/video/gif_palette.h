// The 256 colours of a GIF, made from every frame of the movie at once
// (median cut over a histogram of all pixels), so that colours stay put
// from frame to frame.
#pragma once

#include <cstdint>
#include <vector>

namespace pennaro_cli {

struct GifPalette {
    std::vector<uint32_t> colours;  // 0xAARRGGBB, opaque, at most 256
    // The nearest colour, by 6-bit bins of red, green and blue found once each.
    uint8_t indexOf(const uint8_t *rgb) const;

    mutable std::vector<int16_t> nearest;  // per bin; -1 until looked up
};

// `frames` hold RGB bytes, all of one size.
GifPalette makeGifPalette(const std::vector<std::vector<uint8_t>> &frames);

}  // namespace pennaro_cli
