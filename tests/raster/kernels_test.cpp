// Dab kernels: coverage values, merge rules, the shared frame.
#include <gtest/gtest.h>

#include "pixels/dab_kernels.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Image;
using raster_test::Template;

namespace {

const uint8_t kColour8[4] = {255, 200, 100, 50};
const uint16_t kColour16[4] = {32768, 30000, 20000, 10000};

TEST(SoftDab, CubicFalloffRadiusFour) {
    Image img(24, 24, false);
    Template t(img);
    stampSoftDab8(1.0f, 4.0f, 10.0f, 10.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(10, 10).alpha, 127);  // u = 1, alpha halved
    EXPECT_EQ(img.p8(12, 10).alpha, 53);   // d² = 4
    EXPECT_EQ(img.p8(10, 13).alpha, 10);   // d² = 9
    EXPECT_EQ(img.p8(10, 10).red, 200);
    // d² = 16 is outside: never written.
    EXPECT_EQ(img.p8(14, 10).alpha, 0);
    EXPECT_EQ(img.p8(14, 10).red, 0);

    // Near the edge coverage truncates to 0 but the pixel still takes the colour.
    Image edge(24, 24, false);
    Template te(edge);
    stampSoftDab8(1.0f, 4.0f, 10.0f, 10.5f, kColour8, edge.view(), &te.brush.rows);
    EXPECT_EQ(edge.p8(13, 8).alpha, 0);  // d² = 9 + 6.25
    EXPECT_EQ(edge.p8(13, 8).red, 200);
    EXPECT_EQ(edge.p8(13, 8).blue, 50);

    // A small radius lowers the peak: u = 0.5, 0.125 x 127.
    stampSoftDab8(1.0f, 1.0f, 20.0f, 20.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(20, 20).alpha, 15);
}

TEST(SoftDab, EarlyExits) {
    Image img(16, 16, false);
    Template t(img);
    stampSoftDab8(1.0f, 0.0099f, 8.0f, 8.0f, kColour8, img.view(), &t.brush.rows);
    const uint8_t faint[4] = {1, 1, 1, 1};  // halved to 0
    stampSoftDab8(1.0f, 4.0f, 8.0f, 8.0f, faint, img.view(), &t.brush.rows);
    EXPECT_TRUE(img.allZero());
    EXPECT_GT(t.brush.rows.topRow, t.brush.rows.bottomRow);
}

TEST(SoftDab, UnionMergeBothDepths) {
    Image img(16, 16, false);
    Template t(img);
    img.p8(8, 8) = Pixel8{100, 1, 2, 3};
    const uint8_t c[4] = {201, 9, 9, 9};  // alpha 100 after halving
    stampSoftDab8(1.0f, 4.0f, 8.0f, 8.0f, c, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(8, 8).alpha, 161);
    EXPECT_EQ(img.p8(8, 8).red, 1);  // only alpha changes

    Image deep(16, 16, true);
    Template td(deep);
    deep.p16(8, 8).alpha = 16384;
    stampSoftDab16(1.0f, 4.0f, 8.0f, 8.0f, kColour16, deep.view(), &td.brush.rows);
    EXPECT_EQ(deep.p16(8, 8).alpha, 16384 - ((16384u * 16384u) >> 15) + 16384);
}

TEST(RoundDab, CoreAndRimRadiusFiveHalfSoft) {
    Image img(24, 24, false);
    Template t(img);
    stampRoundDab8(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(12, 12).alpha, 255);
    EXPECT_EQ(img.p8(14, 13).alpha, 255);  // d² = 5
    EXPECT_EQ(img.p8(14, 12).alpha, 255);  // d² = 4
    EXPECT_EQ(img.p8(16, 12).alpha, 133);  // d² = 16
    EXPECT_EQ(img.p8(12, 18).alpha, 16);   // d² = 36
    EXPECT_EQ(img.p8(20, 12).alpha, 0);    // d² = 64 > 56.25
}

TEST(RoundDab, HardEdgeStillFeathersOnePixel) {
    Image img(24, 24, false);
    Template t(img);
    stampRoundDab8(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(16, 12).alpha, 255);  // d² = 16 = inner radius²: core
    EXPECT_EQ(img.p8(17, 12).alpha, 42);   // d² = 25: u = 0.55
    EXPECT_EQ(img.p8(18, 12).alpha, 0);    // d² = 36 = outer radius²
}

TEST(RoundDab, SixteenBitOrderAndMerge) {
    Image img(24, 24, true);
    Template t(img);
    img.p16(16, 12).alpha = 1000;
    stampRoundDab16(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, kColour16, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p16(12, 12).alpha, 32768);
    const float u = (56.25f - 16.0f) * 0.02f;
    const uint32_t a = static_cast<uint32_t>(u * u * u * 32768.0f);
    EXPECT_EQ(img.p16(12, 16).alpha, a);
    EXPECT_EQ(img.p16(16, 12).alpha, a - ((a * 1000) >> 15) + 1000);
}

TEST(RoundDab, CoreMergeWithPartialAlpha) {
    Image img(24, 24, false);
    Template t(img);
    img.p8(12, 12) = Pixel8{100, 0, 0, 0};
    const uint8_t c[4] = {128, 10, 20, 30};
    stampRoundDab8(1.0f, 5.0f, 0.5f, 12.0f, 12.0f, c, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(12, 12).alpha, 100 - ((101 * 128) >> 8) + 128);
    EXPECT_EQ(img.p8(12, 12).red, 0);
}

TEST(SquareDab, SoftenedEdgesRadiusFive) {
    Image img(24, 24, false);
    Template t(img);
    stampSquareDab8(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(12, 12).alpha, 255);
    EXPECT_EQ(img.p8(17, 12).alpha, 191);
    EXPECT_EQ(img.p8(17, 17).alpha, 127);
    EXPECT_EQ(img.p8(16, 12).alpha, 255);
    EXPECT_EQ(img.p8(18, 12).alpha, 0);  // beyond the outer half-width
}

TEST(SquareDab, TinyDabsFadeAndMergeByMaximum) {
    Image img(24, 24, false);
    Template t(img);
    // Rx 0.05: alpha 255 fades to 127; the centre pixel's coverage is 0.569.
    stampSquareDab8(1.0f, 0.05f, 0.0f, 10.0f, 10.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(10, 10).alpha, 72);

    img.p8(4, 4) = Pixel8{100, 1, 2, 3};
    const uint8_t c[4] = {100, 9, 9, 9};
    stampSquareDab8(1.0f, 5.0f, 0.0f, 4.0f, 4.0f, c, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(4, 4).alpha, 100);
    EXPECT_EQ(img.p8(4, 4).red, 1);  // not rewritten
    EXPECT_EQ(img.p8(5, 4).red, 9);

    Image deep(24, 24, true);
    Template td(deep);
    stampSquareDab16(1.0f, 5.0f, 0.0f, 12.0f, 12.0f, kColour16, deep.view(), &td.brush.rows);
    EXPECT_EQ(deep.p16(12, 12).alpha, 32768);
    EXPECT_EQ(deep.p16(17, 12).alpha, 24576);
}

TEST(DabFrame, SaturatedPixelsAreSkipped) {
    Image img(16, 16, false);
    Template t(img);
    img.p8(8, 8) = Pixel8{255, 1, 2, 3};
    stampSoftDab8(1.0f, 4.0f, 8.0f, 8.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(img.p8(8, 8).red, 1);

    Image deep(16, 16, true);
    Template td(deep);
    deep.p16(8, 8) = Pixel16{40000, 1, 2, 3};
    stampSquareDab16(1.0f, 4.0f, 0.0f, 8.0f, 8.0f, kColour16, deep.view(), &td.brush.rows);
    EXPECT_EQ(deep.p16(8, 8).alpha, 40000);
    EXPECT_EQ(deep.p16(8, 8).red, 1);
}

TEST(DabFrame, BandAndSpansCoverTheWholeBox) {
    Image img(40, 40, false);
    Template t(img);
    // Square with aspect 0.5: rows reach twice as far as columns.
    stampSquareDab8(0.5f, 6.0f, 0.0f, 20.0f, 20.0f, kColour8, img.view(), &t.brush.rows);
    // Rx = 3, ro = 3.7: columns 16..23, rows trunc(20 -/+ 7.4) = 12..27.
    EXPECT_EQ(t.brush.rows.topRow, 12);
    EXPECT_EQ(t.brush.rows.bottomRow, 27);
    for (int y = 12; y <= 27; ++y) {
        EXPECT_EQ(t.spans[y].left, 16) << y;
        EXPECT_EQ(t.spans[y].right, 23) << y;
    }
    EXPECT_EQ(t.spans[11].right, -1);
    EXPECT_EQ(t.spans[28].left, 9999);
}

TEST(DabFrame, OneColumnBoxOrOffImageChangesNothing) {
    Image img(16, 16, false);
    Template t(img);
    stampSoftDab8(1.0f, 0.1f, 8.5f, 8.0f, kColour8, img.view(), &t.brush.rows);  // Rx 0.2
    stampRoundDab8(1.0f, 3.0f, 0.0f, 100.0f, 8.0f, kColour8, img.view(), &t.brush.rows);
    stampSquareDab8(1.0f, 3.0f, 0.0f, 8.0f, -50.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_TRUE(img.allZero());
    EXPECT_EQ(t.brush.rows.topRow, 15);
    EXPECT_EQ(t.brush.rows.bottomRow, 0);
    for (const RowSpan &s : t.spans) EXPECT_EQ(s.right, -1);
}

TEST(DabFrame, ClippedAtImageEdges) {
    Image img(16, 16, false, 0);
    Template t(img);
    stampSoftDab8(1.0f, 6.0f, 0.0f, 15.0f, kColour8, img.view(), &t.brush.rows);
    EXPECT_EQ(t.brush.rows.bottomRow, 15);
    EXPECT_EQ(t.spans[15].left, 0);
    EXPECT_TRUE(img.paddingIntact(0));
    EXPECT_EQ(img.p8(0, 15).alpha, 127);
}

}  // namespace
