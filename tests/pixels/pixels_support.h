// What the pixel tests share: the instruction sets to run, random pixels
// and scratch images, and random dabs stamped through two tables at once.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "pixels/dispatch.h"

namespace pixels_test {
using namespace pennaro;

inline std::vector<Isa> isas(bool withScalar) {
    std::vector<Isa> out;
    for (Isa isa : {Isa::Scalar, Isa::Sse2, Isa::Avx2})
        if (isaAvailable(isa) && (withScalar || isa != Isa::Scalar)) out.push_back(isa);
    return out;
}
inline std::string isaLabel(const testing::TestParamInfo<Isa> &info) { return isaName(info.param); }

// Runs f with the stack moved down by `shift` bytes (0 or 16), so that over
// both shifts every kernel below is entered once on a 32-byte aligned stack
// and once on one only 16-byte aligned, as Windows leaves it half the time:
// a 256-bit spill that assumed more alignment would fault in one of them.
template <class F>
__attribute__((noinline)) void withStackShift(size_t shift, F &&f) {
    volatile char *pad = static_cast<volatile char *>(__builtin_alloca(shift + 1));
    pad[0] = 0;
    f();
}

// Cheap and reproducible; mt19937 would dominate the long runs.
struct Xorshift {
    uint64_t s;
    explicit Xorshift(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t operator()() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
};

// Channels mostly in range, often exactly 0 or full, and at 16 bits
// sometimes above full when `wild` (damaged input the arithmetic carries).
template <class Pixel>
Pixel randomPixel(Xorshift &rng, bool wild) {
    const uint32_t full = sizeof(Pixel) == 4 ? 255 : 32768;
    auto channel = [&]() -> decltype(Pixel{}.alpha) {
        switch (rng() % 8) {
            case 0: return 0;
            case 1: return full;
            case 2: return wild ? full + 1 + rng() % (65535 - full) : rng() % (full + 1);
            default: return rng() % (full + 1);
        }
    };
    const auto a = channel(), r = channel(), g = channel(), b = channel();
    return Pixel{a, r, g, b};
}

// A scratch image: rows padded by 12 bytes, some paint already there when
// seeded (saturated pixels included), and the band and spans of a stroke
// that has painted nothing yet.
struct Canvas {
    std::vector<uint8_t> bytes;
    ImageView view{};
    std::vector<RowSpan> spans;
    PaintedRows rows{};
    Canvas(int32_t w, int32_t h, bool deep, uint32_t seed = 0) {
        view = ImageView{nullptr, w * (deep ? 8 : 4) + 12, w, h, deep};
        bytes.assign(size_t(view.rowBytes) * size_t(h), 0);
        view.data = bytes.data();
        std::mt19937 rng(seed);
        for (size_t i = 0; seed && i < bytes.size(); i += 2)
            if (rng() % 4 == 0) bytes[i] = uint8_t(rng() % 3 == 0 ? 255 : rng());
        spans.assign(size_t(h), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
        rows = PaintedRows{h, h - 1, 0, spans.data(), 0, 0};
    }
    Pixel8 &p8(int32_t x, int32_t y) { return view.row<Pixel8>(y)[x]; }
    Pixel16 &p16(int32_t x, int32_t y) { return view.row<Pixel16>(y)[x]; }
    void expectSame(const Canvas &o) const {
        ASSERT_EQ(bytes, o.bytes);
        ASSERT_EQ(rows.topRow, o.rows.topRow);
        ASSERT_EQ(rows.bottomRow, o.rows.bottomRow);
        ASSERT_EQ(0, std::memcmp(spans.data(), o.spans.data(), spans.size() * sizeof(RowSpan))) << "spans differ";
    }
};

// Random dabs of every shape (tiny to huge radii; whole, half and
// off-image centres; odd aspects and softness; now and then NaN, infinite,
// negative or zero values) stamped in sequence onto an image that already
// holds paint, through `k` and through the scalar kernels: pixels, band and
// spans must match after every dab.
inline void compareDabs(const PixelKernels &k, bool deep, uint32_t seed, int32_t width = 97, int32_t height = 61,
                        float bigRadius = 3000.0f) {
    std::mt19937 rng(seed);
    auto uni = [&rng](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    auto snapped = [&](float v) { return rng() % 6 == 0 ? std::floor(v) : rng() % 5 == 0 ? std::floor(v) + 0.5f : v; };
    auto odd = [&](float usual) {
        switch (rng() % 40) {
            case 0: return std::numeric_limits<float>::quiet_NaN();
            case 1: return std::numeric_limits<float>::infinity();
            case 2: return -usual;
            case 3: return 0.0f;
            default: return usual;
        }
    };
    const PixelKernels &plain = *pixelKernels(Isa::Scalar);
    Canvas fast(width, height, deep, seed), scalar(width, height, deep, seed);
    for (int i = 0; i < 300; ++i) {
        const int kind = int(rng() % 3);
        const float radius = odd(snapped(rng() % 5 == 0   ? uni(0.0f, 2.0f)
                                         : rng() % 7 == 0 ? uni(40.0f, bigRadius)
                                                          : uni(1.0f, 30.0f)));
        const float aspect = odd(rng() % 3 == 0 ? 1.0f : uni(0.2f, 3.0f));
        const float soft = odd(rng() % 5 == 0 ? float(rng() % 2) : uni(0.0f, 1.2f));
        const float cx = odd(snapped(uni(-20.0f, float(width) + 20.0f)));
        const float cy = odd(snapped(uni(-20.0f, float(height) + 20.0f)));
        // Mostly full or partial paint; now and then any value the channel holds.
        const uint32_t full = deep ? 32768u : 255u;
        const uint32_t alpha = rng() % 2 ? full : rng() % 9 == 0 ? rng() : rng() % (full + 1);
        const uint32_t r = rng(), g = rng(), b = rng();
        for (Canvas *c : {&fast, &scalar}) {
            const PixelKernels &use = c == &fast ? k : plain;
            if (deep) {
                const uint16_t colour[4] = {uint16_t(alpha), uint16_t(r), uint16_t(g), uint16_t(b)};
                if (kind == 0) use.roundDab16(aspect, radius, soft, cx, cy, colour, &c->view, &c->rows);
                if (kind == 1) use.softDab16(aspect, radius, cx, cy, colour, &c->view, &c->rows);
                if (kind == 2) use.squareDab16(aspect, radius, soft, cx, cy, colour, &c->view, &c->rows);
            } else {
                const uint8_t colour[4] = {uint8_t(alpha), uint8_t(r), uint8_t(g), uint8_t(b)};
                if (kind == 0) use.roundDab8(aspect, radius, soft, cx, cy, colour, &c->view, &c->rows);
                if (kind == 1) use.softDab8(aspect, radius, cx, cy, colour, &c->view, &c->rows);
                if (kind == 2) use.squareDab8(aspect, radius, soft, cx, cy, colour, &c->view, &c->rows);
            }
        }
        SCOPED_TRACE("seed " + std::to_string(seed) + " dab " + std::to_string(i) + " kind " + std::to_string(kind));
        fast.expectSame(scalar);
        if (testing::Test::HasFatalFailure()) return;
    }
}

}  // namespace pixels_test
