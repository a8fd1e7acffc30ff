// The rasterizer driver: brush preparation, the finishing passes, one
// stroke from its block to the output, and properties over random and
// hostile strokes.
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <random>

#include "pixels/rules.h"
#include "raster/rasterize.h"
#include "raster_fixture.h"

using namespace raster_test;

namespace {

Pixel8 overRule(Pixel8 top, Pixel8 bottom) { return over8(top, bottom); }
Pixel16 overRule(Pixel16 top, Pixel16 bottom) { return over16(top, bottom); }

// Colour by depth (8 bits rounded, 16 truncated) and onion direction
// (backward tint red, forward blue, at 0.5 x the opacity), the opacity in
// the alpha except for round brushes, radius by downsampling, spacing by kind.
TEST(PrepareBrush, ColourOpacityRadiusAndSpacing) {
    struct Case {
        const char *name; uint32_t mode; bool deep; int32_t onion; uint32_t downsample; float red, opacity;
        std::vector<double> expected;  // alpha, red, green, blue, opacity, spacing, radius
    };
    const Case cases[] = {
        {"soft", BRUSH_KIND_SOFT, false, 0, 1, 0.003f, 0.5f, {127, 1, 128, 64, 0.5f, 0.3f, 8}},
        {"soft 16 bits", BRUSH_KIND_SOFT, true, 0, 1, 0.99999f, 0.5f, {16384, 32767, 16384, 8192, 0.5f, 0.3f, 8}},
        {"round keeps full alpha", BRUSH_KIND_ROUND, false, 0, 1, 0.5f, 0.5f, {255, 128, 128, 64, 0.5f, 0.3f, 8}},
        {"round 16 bits", BRUSH_KIND_ROUND, true, 0, 1, 0.5f, 0.5f, {32768, 16384, 16384, 8192, 0.5f, 0.3f, 8}},
        {"square erase, quarter width", BRUSH_KIND_SQUARE | BRUSH_ERASE, false, 0, 4, 1, 0.5f,
         {127, 255, 128, 64, 0.5f, 0.05f, 2}},
        {"other kinds", 5, false, 0, 1, 1, 0.25f, {63, 255, 128, 64, 0.25f, 0.25f, 8}},
        {"onion past", BRUSH_KIND_SOFT, false, 1, 1, 1, 0.8f, {102, 255, 0, 0, 0.4f, 0.3f, 8}},
        {"onion future", BRUSH_KIND_SOFT, false, -1, 1, 1, 0.8f, {102, 0, 0, 255, 0.4f, 0.3f, 8}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BrushSettings settings = brush(c.mode, 8, c.opacity, 0.7f, 3);
        settings.red = c.red;
        RasterBrush b{};
        b.deep = c.deep;
        b.onionDirection = c.onion;
        b.onionOpacity = 0.5f;
        b.backwardColor[0] = b.forwardColor[2] = 1.0f;
        prepareRasterBrush({1, c.downsample}, settings, &b);
        auto channel = [&](int k) { return double(c.deep ? b.color16[k] : b.color8[k]); };
        EXPECT_EQ((std::vector<double>{channel(0), channel(1), channel(2), channel(3), b.opacity, b.spacing, b.radius}),
                  c.expected);
    }
}

// Random coverage under random spans (empty, or reaching past either edge)
// over an output narrower and shorter than the scratch image: every visited
// pixel present in both images gets the rule, every visited scratch pixel is
// cleared, and nothing else changes.
template <class P>
void finishPassesFollowTheRules(std::mt19937 &rng) {
    constexpr bool deep = sizeof(P) == 8;
    const int full = deep ? 32768 : 255;
    std::uniform_int_distribution<int> any(0, full), column(-3, 14), row(-1, 1);
    for (int trial = 0; trial < 40; ++trial) {
        const bool erase = trial % 2;
        TestImage scratch(12, 9, deep, 8), out(10, 7, deep, 4);
        Template t(scratch);
        for (int32_t y = 0; y < 9; ++y) {
            const int a = column(rng), b = column(rng);
            t.spans[size_t(y)] = y % 4 == 3 ? RowSpan{ROW_SPAN_EMPTY_LEFT, ROW_SPAN_EMPTY_RIGHT}
                                            : RowSpan{std::min(a, b), std::max(a, b)};
            for (int32_t x = 0; x < 12; ++x) {
                if (deep) scratch.p16(x, y) = Pixel16{uint16_t(any(rng)), uint16_t(any(rng)), 7, 9};
                else scratch.p8(x, y) = Pixel8{uint8_t(any(rng)), uint8_t(any(rng)), 7, 9};
            }
        }
        for (int32_t y = 0; y < 7; ++y)
            for (int32_t x = 0; x < 10; ++x) {
                if (deep) out.p16(x, y) = Pixel16{uint16_t(any(rng)), 1, uint16_t(any(rng)), 3};
                else out.p8(x, y) = Pixel8{uint8_t(any(rng)), 1, uint8_t(any(rng)), 3};
            }
        t.brush.rows = PaintedRows{9, row(rng), 8 + row(rng), t.spans.data(), 0, 0};
        TestImage scratchBefore = scratch, outBefore = out;
        if (erase) eraseStroke(scratch.view(), out.view(), t.brush.rows);
        else compositeStroke(scratch.view(), out.view(), t.brush.rows);
        auto at = [](TestImage &image, int32_t x, int32_t y) { return image.view().row<P>(y)[x]; };
        const P cleared{};
        for (int32_t y = 0; y < 9; ++y)
            for (int32_t x = 0; x < 12; ++x) {
                const RowSpan s = t.spans[size_t(y)];
                const bool visited = y >= std::max(t.brush.rows.topRow, 0) && y <= t.brush.rows.bottomRow &&
                                     s.right >= 0 && x >= s.left && x <= s.right;
                const P was = at(scratchBefore, x, y), now = at(scratch, x, y);
                ASSERT_EQ(std::memcmp(&now, visited ? &cleared : &was, sizeof now), 0) << x << "," << y;
                if (x >= 10 || y >= 7) continue;
                const P below = at(outBefore, x, y), got = at(out, x, y);
                const P expected = !visited ? below : erase ? pennaro::erase(was, below) : overRule(was, below);
                ASSERT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << (erase ? "erase " : "over ") << x << "," << y;
            }
        ASSERT_TRUE(out.paddingIntact() && scratch.paddingIntact());
    }
}

TEST(FinishPasses, FollowTheRulesWithinTheSpansOfBothImages) {
    std::mt19937 rng(5);
    finishPassesFollowTheRules<Pixel8>(rng);
    finishPassesFollowTheRules<Pixel16>(rng);
    // Images without pixels are left alone.
    TestImage scratch(8, 8, false), out(8, 8, false);
    Template t(scratch);
    scratch.fill(128, 255, 0, 0);
    t.spans.assign(8, RowSpan{0, 7});
    t.brush.rows = PaintedRows{8, 0, 7, t.spans.data(), 0, 0};
    compositeStroke(scratch.view(), ImageView{}, t.brush.rows);
    eraseStroke(scratch.view(), ImageView{}, t.brush.rows);
    compositeStroke(ImageView{}, out.view(), t.brush.rows);
    applyStrokeOpacity(ImageView{}, t.brush, t.brush.rows);
    EXPECT_EQ(scratch.p8(2, 2).alpha, 128);
    EXPECT_TRUE(out.allZero());
}

// One 60 x 40 scene: memory, scratch image, output and the render's brush.
struct Scene {
    TestMemory memory;
    TestImage scratch, out;
    Template t;
    Scene() : scratch(60, 40, false), out(60, 40, false), t(scratch) {}
    RasterBrush paint(const Stroke &s, RasterBrush brush) {
        rasterizeStroke(memory, layerOf(60, 40), s.stroke, out.view(), scratch.view(), &brush);
        return brush;
    }
    RasterBrush paint(const Stroke &s) { return paint(s, t.brush); }
};

const std::vector<PaintPoint> kDash = {{0, 0.3f, 0.5f, 1}, {1, 0.5f, 0.5f, 1}};

TEST(Rasterize, RoundStrokeOpacityDoesNotPileUp) {
    Scene scene;
    Stroke s(scene.memory, kDash, brush(BRUSH_KIND_ROUND, 5, 0.5f));
    scene.paint(s);
    EXPECT_EQ(argb(scene.out, 24, 20), (std::vector<int>{127, 255, 128, 64}));
    EXPECT_TRUE(scene.scratch.allZero());
    EXPECT_EQ(scene.memory.live(), 1u);  // only the stroke's own block
}

// The caller's brush gets the painted band; the walk's animate cut-off
// stays in the walk's own copy.
TEST(Rasterize, TheBrushGetsTheBandButKeepsItsAlpha) {
    Scene scene;
    scene.t.brush.animate = 1;
    scene.t.brush.strokeAge = 0.5f;
    const RasterBrush after = scene.paint(Stroke(scene.memory, {{0, 0.1f, 0.5f, 1}, {1, 0.9f, 0.5f, 1}}, brush(2, 3)));
    EXPECT_EQ(after.color8[0], 255);
    EXPECT_LE(after.rows.topRow, after.rows.bottomRow);
    EXPECT_TRUE(scene.out.p8(10, 20).alpha > 0 && scene.out.p8(50, 20).alpha == 0);
}

// The span table is reset for the band it is handed, within the table.
TEST(Rasterize, RowSpansAreResetWithinTheTable) {
    Scene scene;
    for (RowSpan &s : scene.t.spans) s = RowSpan{3, 4};
    scene.t.brush.rows.topRow = 45;
    scene.t.brush.rows.bottomRow = -4;
    scene.paint(Stroke(scene.memory, kDash, brush(0, 3)));
    for (const RowSpan &span : scene.t.spans)
        EXPECT_TRUE(span.left == ROW_SPAN_EMPTY_LEFT && span.right == ROW_SPAN_EMPTY_RIGHT);
}

TEST(Rasterize, PointsAreReadNoFurtherThanTheirBlock) {
    Scene whole, cut, blank;
    std::vector<PaintPoint> claimed = kDash;
    claimed.resize(50, PaintPoint{2, 0.9f, 0.9f, 1});
    whole.paint(Stroke(whole.memory, kDash, brush(2, 4)));
    cut.paint(Stroke(cut.memory, claimed, brush(2, 4), 2));
    EXPECT_EQ(cut.out.pixels(), whole.out.pixels());
    // Claimed points in an empty block, or no points at all, draw nothing.
    blank.paint(Stroke(blank.memory, claimed, brush(2, 4), 0));
    blank.paint(Stroke(blank.memory, {}, brush(2, 4)));
    EXPECT_TRUE(blank.out.allZero());
    EXPECT_EQ(cut.memory.locked() + blank.memory.locked(), 0u);
}

// ---- properties

// `usual`, or in a hostile run now and then a value only a corrupt drawing
// holds: NaN, infinities, huge, tiny or negative.
float wild(std::mt19937 &rng, bool hostile, float usual) {
    const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(), 3.0e38f, -3.0e38f, 1.0e-30f, -40.0f};
    return hostile && rng() % 6 == 0 ? values[rng() % 7] : usual;
}

std::vector<PaintPoint> randomPoints(std::mt19937 &rng, int count, bool hostile) {
    std::uniform_real_distribution<float> pos(-0.2f, 1.2f), pressure(-0.2f, 1.6f), step(0.0f, 0.1f);
    std::vector<PaintPoint> pts;
    for (float time = 0.0f; count-- > 0; time += step(rng))
        pts.push_back({wild(rng, hostile, time), wild(rng, hostile, pos(rng)), wild(rng, hostile, pos(rng)),
                       wild(rng, hostile, pressure(rng))});
    return pts;
}

BrushSettings randomBrush(std::mt19937 &rng, bool hostile) {
    static const uint32_t modes[] = {1, 2, 3, 1, 2, 3, 9, 10, 11, 4, 12, 0, 6};
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    std::uniform_int_distribution<int> mode(0, 12), flags(0, 3);
    return BrushSettings{unit(rng), unit(rng), unit(rng), wild(rng, hostile, unit(rng)),
                         wild(rng, hostile, 0.2f + 25.0f * unit(rng)), modes[mode(rng)], wild(rng, hostile, unit(rng)),
                         uint32_t(flags(rng))};
}

// One stroke through the driver: the scratch image ends clear, no padding
// is written, and only output pixels inside the painted spans change, by
// modes 1-3 and 9-11; unless the stroke is hostile, the former never lower
// an alpha and the latter never raise one.
void paintAndCheck(TestMemory &memory, const LayerGeometry &layer, const Stroke &s, TestImage &scratch,
                   TestImage &out, RasterBrush brush, bool hostile) {
    const TestImage before = out;
    rasterizeStroke(memory, layer, s.stroke, out.view(), scratch.view(), &brush);
    ASSERT_TRUE(scratch.allZero());
    ASSERT_TRUE(scratch.paddingIntact() && out.paddingIntact());
    const uint32_t mode = s.stroke.info.brush.brushMode;
    const bool paints = mode >= 1 && mode <= 3, erases = mode >= 9 && mode <= 11;
    const std::vector<uint8_t> was = before.pixels(), now = out.pixels();
    const size_t px = out.deep() ? 8 : 4;
    for (int32_t y = 0; y < out.height(); ++y)
        for (int32_t x = 0; x < out.width(); ++x) {
            const size_t at = (size_t(y) * size_t(out.width()) + size_t(x)) * px;
            if (std::memcmp(&was[at], &now[at], px) == 0) continue;
            const RowSpan span = brush.rows.spans[y];
            ASSERT_TRUE((paints || erases) && y >= brush.rows.topRow && y <= brush.rows.bottomRow &&
                        x >= span.left && x <= span.right)
                << "mode " << mode << " pixel " << x << "," << y;
            const uint32_t a = before.alpha(x, y);
            ASSERT_TRUE(hostile || (paints ? out.alpha(x, y) >= a : out.alpha(x, y) <= a)) << mode;
        }
}

// Random strokes, geometry and wiggle; in the hostile runs the strokes,
// brushes, stroke age and wiggle hold values only corrupt data has, and
// must still end quickly, keep to the images and leave nothing behind.
TEST(RasterProperties, RandomAndHostileStrokesStayInTheirSpans) {
    std::mt19937 rng(20261206);
    const auto start = std::chrono::steady_clock::now();
    for (bool hostile : {false, true}) {
        for (bool deep : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "hostile " << hostile << " deep " << deep);
            TestMemory memory;
            TestImage scratch(97, 61, deep), out(97, 61, deep);
            Template t(scratch);
            Wiggle w({20, 150, 70, 50, true}, 97, 61), wildWiggle({1.0e4, 1.0e3, -3.0e4, 1.0e3, true}, 97, 61);
            for (int i = 0; i < 300; ++i) {
                const Stroke stroke(memory, randomPoints(rng, 1 + i % 12, hostile), randomBrush(rng, hostile));
                RasterBrush copy = t.brush;
                copy.animate = i % 3 == 0;
                copy.strokeAge = wild(rng, hostile, 0.2f);
                copy.strokeIndex = i;
                copy.onionDirection = i % 5 - 2;
                if (i % 3 == 1) copy.wiggle = (hostile ? wildWiggle : w).settings;
                LayerGeometry layer = layerOf(97, 61);
                if (i % 4 == 0)  // non-square pixels, half width, the origin moved
                    layer = {97, 61, {1, 1u + (i % 8 == 0)}, {1, 1}, {i % 8 ? 10 : 2, i % 8 ? 11u : 1u}, i % 7 - 3, 0};
                paintAndCheck(memory, layer, stroke, scratch, out, copy, hostile);
                if (HasFatalFailure()) return;
            }
            EXPECT_EQ(memory.live() + memory.locked(), 0u);
        }
    }
    // A hostile layer: zero and negative rationals and sizes.
    Scene scene;
    const Stroke stroke(scene.memory, {{0, 0.1f, 0.5f, 1}, {1, 0.9f, 0.5f, 1}}, brush(2, 5.0f));
    paintAndCheck(scene.memory, LayerGeometry{-5, 48, {1, 1}, {-1, 0}, {0, 0}, 0, 0}, stroke, scene.scratch, scene.out,
                  scene.t.brush, true);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

TEST(RasterProperties, ManyTinyStepsStayLinear) {
    TestMemory memory;
    TestImage scratch(200, 200, false), out(200, 200, false);
    Template t(scratch);
    std::vector<PaintPoint> pts;
    for (int i = 0; i < 200000; ++i) pts.push_back({i * 1e-6f, 0.5f + (i % 3) * 1e-7f, 0.5f, 1.0f});
    Stroke stroke(memory, pts, brush(BRUSH_KIND_SOFT, 4.0f));
    const auto start = std::chrono::steady_clock::now();
    rasterizeStroke(memory, layerOf(200, 200), stroke.stroke, out.view(), scratch.view(), &t.brush);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_TRUE(scratch.allZero());
    EXPECT_GT(out.p8(99, 99).alpha, 0);
}

}  // namespace
