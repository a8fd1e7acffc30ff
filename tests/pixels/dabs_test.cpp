// The dab kernels: coverage values, merge rules and the frame on hand-worked
// dabs, at every instruction set; and every vector table against the scalar
// one on random dabs.
#include "pixels_support.h"

using namespace pennaro;
using namespace pixels_test;

namespace {

const uint8_t kColour8[4] = {255, 200, 100, 50};
const uint16_t kColour16[4] = {32768, 30000, 20000, 10000};

class DabKernels : public testing::TestWithParam<Isa> {
protected:
    const PixelKernels &k = *pixelKernels(GetParam());
};

TEST_P(DabKernels, SoftCubicFalloffAndEarlyExits) {
    Canvas c(24, 24, false);
    k.softDab8(1.0f, 4.0f, 10.0f, 10.0f, kColour8, &c.view, &c.rows);
    EXPECT_EQ(c.p8(10, 10).alpha, 127);  // u = 1, alpha halved
    EXPECT_EQ(c.p8(12, 10).alpha, 53);   // d² = 4
    EXPECT_EQ(c.p8(10, 13).alpha, 10);   // d² = 9
    EXPECT_EQ(c.p8(10, 10).red, 200);
    EXPECT_EQ(c.p8(14, 10).alpha, 0);  // d² = 16 is outside: never written
    EXPECT_EQ(c.p8(14, 10).red, 0);
    // A small radius lowers the peak: u = 0.5, 0.125 x 127.
    k.softDab8(1.0f, 1.0f, 20.0f, 20.0f, kColour8, &c.view, &c.rows);
    EXPECT_EQ(c.p8(20, 20).alpha, 15);

    // Near the edge coverage truncates to 0 but the pixel still takes the colour.
    Canvas edge(24, 24, false);
    k.softDab8(1.0f, 4.0f, 10.0f, 10.5f, kColour8, &edge.view, &edge.rows);
    EXPECT_EQ(edge.p8(13, 8).alpha, 0);  // d² = 9 + 6.25
    EXPECT_EQ(edge.p8(13, 8).red, 200);
    EXPECT_EQ(edge.p8(13, 8).blue, 50);

    Canvas none(16, 16, false);
    const uint8_t faint[4] = {1, 1, 1, 1};  // halved to 0
    k.softDab8(1.0f, 0.0099f, 8.0f, 8.0f, kColour8, &none.view, &none.rows);
    k.softDab8(1.0f, 4.0f, 8.0f, 8.0f, faint, &none.view, &none.rows);
    EXPECT_EQ(none.bytes, std::vector<uint8_t>(none.bytes.size(), 0));
    EXPECT_GT(none.rows.topRow, none.rows.bottomRow);
}

TEST_P(DabKernels, UnionMergeAtBothDepths) {
    Canvas c(16, 16, false);
    c.p8(8, 8) = Pixel8{100, 1, 2, 3};
    const uint8_t half[4] = {201, 9, 9, 9};  // alpha 100 after halving
    k.softDab8(1.0f, 4.0f, 8.0f, 8.0f, half, &c.view, &c.rows);
    EXPECT_EQ(c.p8(8, 8).alpha, 161);
    EXPECT_EQ(c.p8(8, 8).red, 1);  // only alpha changes

    Canvas deep(16, 16, true);
    deep.p16(8, 8).alpha = 16384;
    k.softDab16(1.0f, 4.0f, 8.0f, 8.0f, kColour16, &deep.view, &deep.rows);
    EXPECT_EQ(deep.p16(8, 8).alpha, 16384 - ((16384u * 16384u) >> 15) + 16384);

    // The round core merges as the union with the full paint alpha.
    Canvas core(24, 24, false);
    core.p8(12, 12) = Pixel8{100, 0, 0, 0};
    const uint8_t c128[4] = {128, 10, 20, 30};
    k.roundDab8(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, c128, &core.view, &core.rows);
    EXPECT_EQ(core.p8(12, 12).alpha, 100 - ((101 * 128) >> 8) + 128);
    EXPECT_EQ(core.p8(12, 12).red, 0);
}

TEST_P(DabKernels, RoundCoreAndRim) {
    Canvas c(24, 24, false);
    k.roundDab8(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, kColour8, &c.view, &c.rows);
    EXPECT_EQ(c.p8(12, 12).alpha, 255);
    EXPECT_EQ(c.p8(14, 13).alpha, 255);  // d² = 5
    EXPECT_EQ(c.p8(16, 12).alpha, 133);  // d² = 16
    EXPECT_EQ(c.p8(12, 18).alpha, 16);   // d² = 36
    EXPECT_EQ(c.p8(20, 12).alpha, 0);    // d² = 64 > 56.25

    // A hard edge still feathers one pixel.
    Canvas hard(24, 24, false);
    k.roundDab8(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour8, &hard.view, &hard.rows);
    EXPECT_EQ(hard.p8(16, 12).alpha, 255);  // d² = 16 = inner radius²: core
    EXPECT_EQ(hard.p8(17, 12).alpha, 42);   // d² = 25: u = 0.55
    EXPECT_EQ(hard.p8(18, 12).alpha, 0);    // d² = 36 = outer radius²

    // 16 bits multiply the alpha in last, and merge the rim by the union.
    Canvas deep(24, 24, true);
    deep.p16(16, 12).alpha = 1000;
    k.roundDab16(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, kColour16, &deep.view, &deep.rows);
    EXPECT_EQ(deep.p16(12, 12).alpha, 32768);
    const float u = (56.25f - 16.0f) * 0.02f;
    const uint32_t a = static_cast<uint32_t>(u * u * u * 32768.0f);
    EXPECT_EQ(deep.p16(12, 16).alpha, a);
    EXPECT_EQ(deep.p16(16, 12).alpha, a - ((a * 1000) >> 15) + 1000);
}

TEST_P(DabKernels, SquareEdgesTinyDabsAndMaximum) {
    Canvas c(24, 24, false);
    k.squareDab8(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour8, &c.view, &c.rows);
    EXPECT_EQ(c.p8(12, 12).alpha, 255);
    EXPECT_EQ(c.p8(17, 12).alpha, 191);
    EXPECT_EQ(c.p8(17, 17).alpha, 127);
    EXPECT_EQ(c.p8(16, 12).alpha, 255);
    EXPECT_EQ(c.p8(18, 12).alpha, 0);  // beyond the outer half-width

    // Rx 0.05: alpha 255 fades to 127; the centre pixel's coverage is 0.569.
    Canvas tiny(24, 24, false);
    k.squareDab8(1.0f, 0.05f, 0.0f, 10.0f, 10.0f, kColour8, &tiny.view, &tiny.rows);
    EXPECT_EQ(tiny.p8(10, 10).alpha, 72);
    tiny.p8(4, 4) = Pixel8{100, 1, 2, 3};
    const uint8_t c100[4] = {100, 9, 9, 9};
    k.squareDab8(1.0f, 5.0f, 0.0f, 4.0f, 4.0f, c100, &tiny.view, &tiny.rows);
    EXPECT_EQ(tiny.p8(4, 4).alpha, 100);
    EXPECT_EQ(tiny.p8(4, 4).red, 1);  // not rewritten: merged by maximum
    EXPECT_EQ(tiny.p8(5, 4).red, 9);

    Canvas deep(24, 24, true);
    k.squareDab16(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour16, &deep.view, &deep.rows);
    EXPECT_EQ(deep.p16(12, 12).alpha, 32768);
    EXPECT_EQ(deep.p16(17, 12).alpha, 24576);
}

TEST_P(DabKernels, SaturatedPixelsAreSkipped) {
    Canvas c(16, 16, false);
    c.p8(8, 8) = Pixel8{255, 1, 2, 3};
    k.softDab8(1.0f, 4.0f, 8.0f, 8.0f, kColour8, &c.view, &c.rows);
    k.roundDab8(1.0f, 4.0f, 0.5f, 8.0f, 8.0f, kColour8, &c.view, &c.rows);
    EXPECT_EQ(c.p8(8, 8).red, 1);

    Canvas deep(16, 16, true);
    deep.p16(8, 8) = Pixel16{40000, 1, 2, 3};
    deep.p16(9, 8) = Pixel16{40000, 1, 2, 3};
    k.squareDab16(1.0f, 4.0f, 0.0f, 8.0f, 8.0f, kColour16, &deep.view, &deep.rows);
    k.softDab16(1.0f, 4.0f, 8.0f, 8.0f, kColour16, &deep.view, &deep.rows);
    for (int32_t x : {8, 9}) {
        EXPECT_EQ(deep.p16(x, 8).alpha, 40000);
        EXPECT_EQ(deep.p16(x, 8).red, 1);
    }
}

TEST_P(DabKernels, BandAndSpansCoverTheWholeBox) {
    Canvas c(40, 40, false);
    // Square with aspect 0.5: rows reach twice as far as columns.
    k.squareDab8(0.5f, 6.0f, 0.0f, 20.0f, 20.0f, kColour8, &c.view, &c.rows);
    // Rx = 3, ro = 3.7: columns 16..23, rows trunc(20 -/+ 7.4) = 12..27.
    EXPECT_EQ(c.rows.topRow, 12);
    EXPECT_EQ(c.rows.bottomRow, 27);
    for (int y = 12; y <= 27; ++y) {
        EXPECT_EQ(c.spans[y].left, 16) << y;
        EXPECT_EQ(c.spans[y].right, 23) << y;
    }
    EXPECT_EQ(c.spans[11].right, -1);
    EXPECT_EQ(c.spans[28].left, 9999);
}

// One-column boxes, boxes off the image and centres that are not finite or
// far beyond the 32-bit range touch no pixel, band or span.
TEST_P(DabKernels, DegenerateBoxesChangeNothing) {
    Canvas c(16, 16, false);
    const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
    k.softDab8(1.0f, 0.1f, 8.5f, 8.0f, kColour8, &c.view, &c.rows);  // Rx 0.2
    k.roundDab8(1.0f, 3.0f, 0.0f, 100.0f, 8.0f, kColour8, &c.view, &c.rows);
    k.squareDab8(1.0f, 3.0f, 0.0f, 8.0f, -50.0f, kColour8, &c.view, &c.rows);
    for (float cx : {nan, inf, -inf, 1e30f}) {
        k.softDab8(1.0f, 3.0f, cx, 8.0f, kColour8, &c.view, &c.rows);
        k.roundDab8(1.0f, 3.0f, 0.5f, 8.0f, cx, kColour8, &c.view, &c.rows);
        k.squareDab8(1.0f, 3.0f, 0.5f, cx, cx, kColour8, &c.view, &c.rows);
    }
    EXPECT_EQ(c.bytes, std::vector<uint8_t>(c.bytes.size(), 0));
    EXPECT_EQ(c.rows.topRow, 15);
    EXPECT_EQ(c.rows.bottomRow, 0);
    for (const RowSpan &s : c.spans) EXPECT_EQ(s.right, -1);
}

TEST_P(DabKernels, ClippedAtImageEdgesPaddingUntouched) {
    for (bool deep : {false, true}) {
        Canvas c(16, 16, deep);
        const int32_t pixel = deep ? 8 : 4;
        if (deep) {
            k.softDab16(1.0f, 6.0f, 0.0f, 15.0f, kColour16, &c.view, &c.rows);
            k.squareDab16(1.0f, 6.0f, 0.3f, 15.0f, 0.0f, kColour16, &c.view, &c.rows);
            EXPECT_EQ(c.p16(0, 15).alpha, 16384);
        } else {
            k.softDab8(1.0f, 6.0f, 0.0f, 15.0f, kColour8, &c.view, &c.rows);
            k.squareDab8(1.0f, 6.0f, 0.3f, 15.0f, 0.0f, kColour8, &c.view, &c.rows);
            EXPECT_EQ(c.p8(0, 15).alpha, 127);
        }
        EXPECT_EQ(c.rows.bottomRow, 15);
        EXPECT_EQ(c.spans[15].left, 0);
        EXPECT_EQ(c.spans[0].right, 15);
        for (int32_t y = 0; y < 16; ++y)
            for (int32_t b = 16 * pixel; b < c.view.rowBytes; ++b) ASSERT_EQ(c.bytes[size_t(y * c.view.rowBytes + b)], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Isas, DabKernels, testing::ValuesIn(isas(true)), isaLabel);

class VectorDabs : public testing::TestWithParam<Isa> {};

TEST_P(VectorDabs, MatchTheScalarKernels) {
    const PixelKernels &k = *pixelKernels(GetParam());
    for (uint32_t seed = 1; seed <= 40 && !HasFatalFailure(); ++seed) {
        compareDabs(k, false, seed);
        compareDabs(k, true, seed);
    }
    // Rows wider than the column and square tables.
    for (uint32_t seed = 1; seed <= 3 && !HasFatalFailure(); ++seed) {
        compareDabs(k, false, seed, 1400, 9, 900.0f);
        compareDabs(k, true, seed, 1400, 9, 900.0f);
    }
}

TEST_P(VectorDabs, AnyStackAlignment) {
    const PixelKernels &k = *pixelKernels(GetParam());
    for (size_t shift : {0, 16})
        withStackShift(shift, [&] {
            for (bool deep : {false, true}) compareDabs(k, deep, 7);
        });
}

INSTANTIATE_TEST_SUITE_P(Isas, VectorDabs, testing::ValuesIn(isas(false)), isaLabel);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(VectorDabs);

}  // namespace
