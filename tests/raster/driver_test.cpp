// The rasterizer driver: brush preparation, opacity, composite, erase and
// the scratch image left clear.
#include <gtest/gtest.h>

#include "raster/rasterize.h"
#include "raster_support.h"

using namespace pennaro;
using raster_test::Host;
using raster_test::Image;
using raster_test::Stroke;
using raster_test::Template;

namespace {

TEST(PrepareBrush, ColourRoundingAndOpacityByKind) {
    Host host(100, 100);
    PaintStroke stroke{};
    stroke.brush = raster_test::brush(BRUSH_KIND_SOFT, 8.0f, 0.5f);
    stroke.brush.red = 0.5f;
    RasterBrush b{};
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_EQ(b.color8[1], 128);
    EXPECT_EQ(b.color8[0], 127);
    EXPECT_FLOAT_EQ(b.spacing, 0.3f);
    EXPECT_FLOAT_EQ(b.radius, 8.0f);

    b = RasterBrush{};
    b.deep = 1;
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_EQ(b.color16[1], 16384);
    EXPECT_EQ(b.color16[0], 16384);
    EXPECT_EQ(b.color8[0], 0);  // only the depth in use is filled

    stroke.brush.brushMode = BRUSH_KIND_ROUND;
    b = RasterBrush{};
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_EQ(b.color8[0], 255);  // opacity comes after the walk
    EXPECT_FLOAT_EQ(b.opacity, 0.5f);

    stroke.brush.brushMode = BRUSH_KIND_SQUARE | BRUSH_ERASE;
    host.in.downsampleX = {1, 4};
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_FLOAT_EQ(b.spacing, 0.05f);
    EXPECT_FLOAT_EQ(b.radius, 2.0f);
    stroke.brush.brushMode = 5;
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_FLOAT_EQ(b.spacing, 0.25f);
}

TEST(PrepareBrush, OnionSkinColoursAndOpacity) {
    Host host(100, 100);
    PaintStroke stroke{};
    stroke.brush = raster_test::brush(BRUSH_KIND_SOFT, 8.0f, 0.8f);
    RasterBrush b{};
    b.onionOpacity = 0.5f;
    b.backwardColor[0] = 1.0f;
    b.forwardColor[2] = 1.0f;
    b.onionDirection = 1;
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_EQ(b.color8[1], 255);
    EXPECT_EQ(b.color8[3], 0);
    EXPECT_FLOAT_EQ(b.opacity, 0.4f);
    EXPECT_EQ(b.color8[0], static_cast<uint8_t>(255.0f * 0.4f));
    b.onionDirection = -1;
    prepareRasterBrush(&host.in, &stroke, &b);
    EXPECT_EQ(b.color8[1], 0);
    EXPECT_EQ(b.color8[3], 255);
}

// A 2x2 block of scratch pixels with the given alpha over a span.
void paintScratch(Image &scratch, Template &t, uint32_t alpha, uint32_t red) {
    for (int y = 2; y <= 3; ++y) {
        for (int x = 2; x <= 3; ++x) {
            if (scratch.deep)
                scratch.p16(x, y) = Pixel16{uint16_t(alpha), uint16_t(red), 0, 0};
            else
                scratch.p8(x, y) = Pixel8{uint8_t(alpha), uint8_t(red), 0, 0};
        }
        t.spans[y] = RowSpan{2, 3};
    }
    t.brush.rows.topRow = 2;
    t.brush.rows.bottomRow = 3;
}

TEST(Finish, CompositeOverRule) {
    Host host(8, 8);
    Image scratch(8, 8, false), out(8, 8, false);
    Template t(scratch);
    paintScratch(scratch, t, 128, 255);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) out.p8(x, y) = Pixel8{255, 0, 0, 0};
    out.p8(3, 3) = Pixel8{0, 9, 9, 9};
    compositeStroke(&host.in, &scratch.world, &out.world, &t.brush, &t.brush.rows);
    EXPECT_EQ(out.p8(2, 2).red, 128);
    EXPECT_EQ(out.p8(2, 2).alpha, 255);
    EXPECT_EQ(out.p8(3, 3).alpha, 128);  // onto nothing: the scratch pixel itself
    EXPECT_EQ(out.p8(3, 3).green, 0);
    EXPECT_TRUE(scratch.allZero());

    Image s16(8, 8, true), o16(8, 8, true);
    Template t16(s16);
    paintScratch(s16, t16, 16384, 32768);
    for (int x = 0; x < 8; ++x) o16.p16(x, 2) = Pixel16{32768, 0, 0, 0};
    compositeStroke(&host.in, &s16.world, &o16.world, &t16.brush, &t16.brush.rows);
    EXPECT_EQ(o16.p16(2, 2).red, 16384);  // wd = 16384
    EXPECT_EQ(o16.p16(2, 2).alpha, 32768);
    EXPECT_EQ(o16.p16(2, 3).alpha, 16384);
    EXPECT_TRUE(s16.allZero());
}

TEST(Finish, EraseCutsAlphaOnly) {
    Host host(8, 8);
    Image scratch(8, 8, false), out(8, 8, false);
    Template t(scratch);
    paintScratch(scratch, t, 255, 0);
    scratch.p8(3, 3).alpha = 128;
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) out.p8(x, y) = Pixel8{200, 10, 20, 30};
    eraseStroke(&host.in, &scratch.world, &out.world, &t.brush, &t.brush.rows);
    EXPECT_EQ(out.p8(2, 2).alpha, 0);
    EXPECT_EQ(out.p8(3, 3).alpha, 99);
    EXPECT_EQ(out.p8(3, 3).red, 10);
    EXPECT_EQ(out.p8(4, 3).alpha, 200);
    EXPECT_TRUE(scratch.allZero());
}

TEST(Finish, NoPixelAddressTouchesNothing) {
    Host host(8, 8);
    host.failPixelAddress();
    Image scratch(8, 8, false), out(8, 8, false, 7);
    Template t(scratch);
    paintScratch(scratch, t, 128, 255);
    compositeStroke(&host.in, &scratch.world, &out.world, &t.brush, &t.brush.rows);
    EXPECT_EQ(scratch.p8(2, 2).alpha, 128);
    EXPECT_EQ(out.p8(2, 2).alpha, 7);
}

TEST(Finish, EmptyRowsInsideTheBandAreSkipped) {
    Host host(8, 8);
    Image scratch(8, 8, false), out(8, 8, false, 7);
    Template t(scratch);
    scratch.p8(2, 4).alpha = 50;  // stray coverage in a row whose span stayed empty
    t.brush.rows.topRow = 2;
    t.brush.rows.bottomRow = 6;
    compositeStroke(&host.in, &scratch.world, &out.world, &t.brush, &t.brush.rows);
    EXPECT_EQ(out.p8(2, 4).alpha, 7);
    EXPECT_EQ(scratch.p8(2, 4).alpha, 50);
}

TEST(Rasterize, RoundStrokeOpacityDoesNotPileUp) {
    Host host(60, 40);
    Image scratch(60, 40, false), out(60, 40, false);
    Template t(scratch);
    Stroke s({{0, 0.3f, 0.5f, 1}, {1, 0.5f, 0.5f, 1}}, raster_test::brush(BRUSH_KIND_ROUND, 5.0f, 0.5f));
    RasterBrush copy = t.brush;
    rasterizeStroke(&host.in, nullptr, &s.stroke, nullptr, &out.world, &scratch.world, &copy);
    EXPECT_EQ(out.p8(24, 20).alpha, 127);
    EXPECT_EQ(out.p8(24, 20).red, 255);
    EXPECT_TRUE(scratch.allZero());
    // A second stroke over the first combines by "over".
    copy = t.brush;
    rasterizeStroke(&host.in, nullptr, &s.stroke, nullptr, &out.world, &scratch.world, &copy);
    EXPECT_EQ(out.p8(24, 20).alpha, 127 - (127 * 127) / 255 + 127);
    EXPECT_TRUE(scratch.allZero());
    EXPECT_EQ(host.newLiveHandles(), 1);  // only the stroke's own block
}

TEST(Rasterize, KindsThatPaintNothing) {
    Host host(60, 40);
    for (bool deep : {false, true}) {
        for (uint32_t mode : {0u, 4u, 5u, 7u, 8u, 12u, 13u, 20u}) {
            Image scratch(60, 40, deep), out(60, 40, deep, 0x5A);
            Template t(scratch);
            Stroke s({{0, 0.3f, 0.5f, 1}, {1, 0.5f, 0.5f, 1}}, raster_test::brush(mode, 5.0f));
            RasterBrush copy = t.brush;
            rasterizeStroke(&host.in, nullptr, &s.stroke, nullptr, &out.world, &scratch.world, &copy);
            EXPECT_TRUE(scratch.allZero()) << mode;
            bool untouched = true;
            for (uint8_t byte : out.bytes) untouched = untouched && byte == 0x5A;
            EXPECT_TRUE(untouched) << mode;
        }
    }
}

TEST(Rasterize, CallerCopyIsTheOnlyOneChanged) {
    Host host(60, 40);
    Image scratch(60, 40, false), out(60, 40, false);
    Template t(scratch);
    t.brush.animate = 1;
    t.brush.strokeAge = 0.5f;
    t.brush.wiggle.wiggleEnabled = 0;
    Stroke s({{0, 0.3f, 0.5f, 1}, {1, 0.5f, 0.5f, 1}}, raster_test::brush(BRUSH_KIND_SOFT, 3.0f));
    RasterBrush copy = t.brush;
    rasterizeStroke(&host.in, nullptr, &s.stroke, nullptr, &out.world, &scratch.world, &copy);
    EXPECT_EQ(copy.color8[0], 255);  // the walk's cut-off stays in its own copy
    EXPECT_LE(copy.rows.topRow, copy.rows.bottomRow);
    EXPECT_GT(t.brush.rows.topRow, t.brush.rows.bottomRow);
    EXPECT_TRUE(scratch.allZero());
}

TEST(Rasterize, StrokeWithoutPointsIsNotDrawn) {
    Host host(60, 40);
    Image scratch(60, 40, false), out(60, 40, false);
    Template t(scratch);
    Stroke s({}, raster_test::brush(BRUSH_KIND_SOFT, 3.0f));
    RasterBrush copy = t.brush;
    rasterizeStroke(&host.in, nullptr, &s.stroke, nullptr, &out.world, &scratch.world, &copy);
    EXPECT_TRUE(out.allZero());
}

}  // namespace
