// Images for host-free tests: padded rows (the padding filled with a canary
// so a test can tell nothing wrote past a row), pixel access, and the view
// the pixel layer and the rasterizer take.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "pixels/image.h"

namespace test_support {

class TestImage {
public:
    static constexpr uint8_t CANARY = 0x5A;

    TestImage(int32_t width, int32_t height, bool deep, int32_t paddingBytes = 12)
        : width_(width), height_(height), deep_(deep), rowBytes_(width * (deep ? 8 : 4) + paddingBytes),
          bytes_(static_cast<size_t>(rowBytes_) * static_cast<size_t>(height > 0 ? height : 0), CANARY) {
        clear();
    }

    pennaro::ImageView view() { return pennaro::ImageView{bytes_.data(), rowBytes_, width_, height_, deep_}; }
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool deep() const { return deep_; }

    pennaro::Pixel8 &p8(int32_t x, int32_t y) { return row<pennaro::Pixel8>(y)[x]; }
    pennaro::Pixel16 &p16(int32_t x, int32_t y) { return row<pennaro::Pixel16>(y)[x]; }
    const pennaro::Pixel8 &p8(int32_t x, int32_t y) const { return const_cast<TestImage *>(this)->p8(x, y); }
    const pennaro::Pixel16 &p16(int32_t x, int32_t y) const { return const_cast<TestImage *>(this)->p16(x, y); }
    // Alpha of a pixel at either depth.
    uint32_t alpha(int32_t x, int32_t y) const { return deep_ ? p16(x, y).alpha : p8(x, y).alpha; }

    // Every channel of every pixel to (a, r, g, b); 8-bit images keep the low byte.
    void fill(uint16_t a, uint16_t r, uint16_t g, uint16_t b) {
        for (int32_t y = 0; y < height_; ++y)
            for (int32_t x = 0; x < width_; ++x) {
                if (deep_) p16(x, y) = pennaro::Pixel16{a, r, g, b};
                else p8(x, y) = pennaro::Pixel8{uint8_t(a), uint8_t(r), uint8_t(g), uint8_t(b)};
            }
    }
    void clear() { fill(0, 0, 0, 0); }
    bool allZero() const {
        for (int32_t y = 0; y < height_; ++y)
            for (size_t i = 0; i < pixelBytes(); ++i)
                if (bytes_[offset(y) + i]) return false;
        return true;
    }
    bool paddingIntact() const {
        for (int32_t y = 0; y < height_; ++y)
            for (size_t i = pixelBytes(); i < static_cast<size_t>(rowBytes_); ++i)
                if (bytes_[offset(y) + i] != CANARY) return false;
        return true;
    }
    // The pixels without padding, row by row.
    std::vector<uint8_t> pixels() const {
        std::vector<uint8_t> out;
        for (int32_t y = 0; y < height_; ++y)
            out.insert(out.end(), bytes_.begin() + long(offset(y)), bytes_.begin() + long(offset(y) + pixelBytes()));
        return out;
    }

private:
    template <typename Pixel>
    Pixel *row(int32_t y) {
        return reinterpret_cast<Pixel *>(bytes_.data() + offset(y));
    }
    size_t offset(int32_t y) const { return static_cast<size_t>(y) * static_cast<size_t>(rowBytes_); }
    size_t pixelBytes() const { return static_cast<size_t>(width_) * (deep_ ? 8 : 4); }

    int32_t width_, height_;
    bool deep_;
    int32_t rowBytes_;
    std::vector<uint8_t> bytes_;
};

}  // namespace test_support
