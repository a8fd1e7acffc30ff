// Every dab kernel against its plain form: random dabs (tiny to huge radii,
// fractional, whole, half and off-image centres, odd aspects and softness,
// NaN and infinite values) stamped in sequence onto images that already hold
// paint, at both depths, through the scalar and the vector pixel loops.
// Pixels and the recorded row spans must match exactly.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "plain_dab_kernels.h"

namespace dab_compare {
using namespace pennaro;

struct Canvas {
    std::vector<uint8_t> bytes;
    ImageView world{};
    std::vector<RowSpan> spans;
    PaintedRows rows{};
    Canvas(int32_t w, int32_t h, bool deep, uint32_t seed) {
        const int32_t pixel = deep ? 8 : 4;
        world.deep = deep;
        world.width = w;
        world.height = h;
        world.rowBytes = w * pixel + 12;  // padded rows
        bytes.assign(size_t(world.rowBytes) * size_t(h), 0);
        world.data = bytes.data();
        // Some paint already there, including saturated pixels.
        std::mt19937 rng(seed);
        for (size_t i = 0; i < bytes.size(); i += 2)
            if (rng() % 4 == 0) bytes[i] = uint8_t(rng() % 3 == 0 ? 255 : rng());
        spans.assign(size_t(h), RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT});
        rows = PaintedRows{h, h - 1, 0, spans.data()};
    }
    void expectSame(const Canvas &o) const {
        ASSERT_EQ(bytes, o.bytes);
        ASSERT_EQ(rows.topRow, o.rows.topRow);
        ASSERT_EQ(rows.bottomRow, o.rows.bottomRow);
        for (size_t y = 0; y < spans.size(); ++y) {
            ASSERT_EQ(spans[y].left, o.spans[y].left) << y;
            ASSERT_EQ(spans[y].right, o.spans[y].right) << y;
        }
    }
};

// Whole and half values put pixel centres exactly on the shapes' edges.
float snapped(std::mt19937 &rng, float v) {
    switch (rng() % 6) {
        case 0: return std::floor(v);
        case 1: return std::floor(v) + 0.5f;
        default: return v;
    }
}

float oddValue(std::mt19937 &rng, float usual) {
    switch (rng() % 40) {
        case 0: return std::numeric_limits<float>::quiet_NaN();
        case 1: return std::numeric_limits<float>::infinity();
        case 2: return -usual;
        case 3: return 0.0f;
        default: return usual;
    }
}

struct Area {
    int32_t width, height;
    float bigRadius;  // upper end of the occasional huge dab
};

template <bool Deep>
void compareKernels(uint32_t seed, Area area = {97, 61, 3000.0f}) {
    std::mt19937 rng(seed);
    auto uni = [&rng](float a, float b) { return std::uniform_real_distribution<float>(a, b)(rng); };
    const float w = float(area.width), h = float(area.height);
    Canvas fast(area.width, area.height, Deep, seed), plain(area.width, area.height, Deep, seed);
    for (int i = 0; i < 300; ++i) {
        const int kind = int(rng() % 3);
        const float radius = oddValue(rng, snapped(rng, rng() % 5 == 0 ? uni(0.0f, 2.0f)
                                                        : rng() % 7 == 0 ? uni(40.0f, area.bigRadius)
                                                                         : uni(1.0f, 30.0f)));
        const float aspect = oddValue(rng, rng() % 3 == 0 ? 1.0f : uni(0.2f, 3.0f));
        const float soft = oddValue(rng, rng() % 5 == 0 ? float(rng() % 2) : uni(0.0f, 1.2f));
        const float cx = oddValue(rng, snapped(rng, uni(-20.0f, w + 20.0f)));
        const float cy = oddValue(rng, snapped(rng, uni(-20.0f, h + 20.0f)));
        using C = std::conditional_t<Deep, uint16_t, uint8_t>;
        const uint32_t top = Deep ? 32768u : 255u;
        // Mostly full or partial paint; now and then any value the channel holds.
        const C alpha = C(rng() % 2 ? top : rng() % 9 == 0 ? rng() : rng() % (top + 1));
        const C colour[4] = {alpha, C(rng()), C(rng()), C(rng())};
        if constexpr (Deep) {
            if (kind == 0) {
                stampRoundDab16(aspect, radius, soft, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampRoundDab16(aspect, radius, soft, cx, cy, colour, &plain.world, &plain.rows);
            } else if (kind == 1) {
                stampSoftDab16(aspect, radius, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampSoftDab16(aspect, radius, cx, cy, colour, &plain.world, &plain.rows);
            } else {
                stampSquareDab16(aspect, radius, soft, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampSquareDab16(aspect, radius, soft, cx, cy, colour, &plain.world, &plain.rows);
            }
        } else {
            if (kind == 0) {
                stampRoundDab8(aspect, radius, soft, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampRoundDab8(aspect, radius, soft, cx, cy, colour, &plain.world, &plain.rows);
            } else if (kind == 1) {
                stampSoftDab8(aspect, radius, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampSoftDab8(aspect, radius, cx, cy, colour, &plain.world, &plain.rows);
            } else {
                stampSquareDab8(aspect, radius, soft, cx, cy, colour, &fast.world, &fast.rows);
                pennaro_plain::stampSquareDab8(aspect, radius, soft, cx, cy, colour, &plain.world, &plain.rows);
            }
        }
        SCOPED_TRACE("dab " + std::to_string(i) + " kind " + std::to_string(kind));
        fast.expectSame(plain);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

// Runs the comparison through each pixel-loop path the build has, restoring
// the default afterwards.
template <typename Body>
void onEachPath(Body body) {
    const DabKernelPath before = dabKernelPath();
    for (DabKernelPath path : {DabKernelPath::Scalar, DabKernelPath::Sse2, DabKernelPath::Avx2}) {
        if (!dabKernelPathAvailable(path)) continue;
        selectDabKernelPath(path);
        SCOPED_TRACE(path == DabKernelPath::Avx2 ? "AVX2 loops" : path == DabKernelPath::Sse2 ? "SSE2 loops" : "scalar loops");
        body();
        if (::testing::Test::HasFatalFailure()) break;
    }
    selectDabKernelPath(before);
}

}  // namespace dab_compare
