// The frame meets the layer: every composite mode against the per-pixel
// rules over random images of several widths and row paddings.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "catalog/params.h"
#include "pixels/rules.h"
#include "render/composite.h"
#include "support/images.h"

namespace pennaro {
namespace {

using test_support::TestImage;

Pixel8 over(Pixel8 top, Pixel8 bottom) { return over8(top, bottom); }
Pixel16 over(Pixel16 top, Pixel16 bottom) { return over16(top, bottom); }

// The paint pixel p after compositing with the layer pixel l: which rule
// each mode takes.
template <class P>
P rule(int mode, P p, P l) {
    switch (mode) {
        case COMPOSITE_OVER_ORIGINAL: return over(p, l);
        case COMPOSITE_UNDER_ORIGINAL: return over(l, p);
        case COMPOSITE_TRACK_MATTE: return minAlpha(p, l);
        case COMPOSITE_TRACK_MATTE_VISIBLE: return overKeepBottomAlpha(p, l);
        case COMPOSITE_AS_MATTE: return matte(p, l);
        case COMPOSITE_AS_INVERSE_MATTE: return inverseMatte(p, l);
        case COMPOSITE_IN_ORIGINAL_ALPHA_ONLY: return paintAlpha(p, l);
        case COMPOSITE_UNDER_ORIGINAL_ALPHA_ONLY: return maxAlpha(p, l);
        default: return p;  // "Only", "In Original", the separators, unknown values
    }
}

// Random channels; a good share of the alphas at 0 and full, where the
// rules take their shortcuts.
void randomize(TestImage &image, std::mt19937 &rng) {
    const int full = image.deep() ? 32768 : 255;
    std::uniform_int_distribution<int> any(0, full), pick(0, 5);
    for (int32_t y = 0; y < image.height(); ++y)
        for (int32_t x = 0; x < image.width(); ++x) {
            const int choice = pick(rng), alpha = choice == 0 ? 0 : choice == 1 ? full : any(rng);
            const uint16_t r = uint16_t(any(rng)), g = uint16_t(any(rng)), b = uint16_t(any(rng));
            if (image.deep()) image.p16(x, y) = Pixel16{uint16_t(alpha), r, g, b};
            else image.p8(x, y) = Pixel8{uint8_t(alpha), uint8_t(r), uint8_t(g), uint8_t(b)};
        }
}

template <class P>
void compareWithRules(std::mt19937 &rng) {
    constexpr bool deep = sizeof(P) == 8;
    struct Geometry { int32_t layerWidth, layerHeight, layerPadding, width, height, padding; };
    // Only the rows and columns both images have are composited; the rest
    // of the output is left as it was and nothing past either image is read.
    const Geometry geometries[] = {
        {37, 23, 12, 37, 23, 4}, {1, 5, 0, 1, 5, 8}, {64, 3, 4, 64, 3, 0},
        {40, 9, 8, 33, 9, 4},   // an output narrower than the layer
        {20, 6, 0, 20, 9, 4},   // rows below the layer's are left alone
        {21, 4, 4, 30, 4, 0},   // columns right of the layer's are left alone
        {9, 12, 0, 9, 5, 8},    // a layer taller than the output
    };
    for (const Geometry &g : geometries) {
        for (int mode = 0; mode <= 15; ++mode) {
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " output width " << g.width);
            TestImage layer(g.layerWidth, g.layerHeight, deep, g.layerPadding), out(g.width, g.height, deep, g.padding);
            randomize(layer, rng);
            randomize(out, rng);
            const auto layerBefore = layer.pixels();
            TestImage before = out;
            compositeFrame(layer.view(), out.view(), mode);
            const ImageView l = layer.view();
            for (int32_t y = 0; y < g.height; ++y)
                for (int32_t x = 0; x < g.width; ++x) {
                    const P was = before.view().row<P>(y)[x];
                    const bool both = y < g.layerHeight && x < g.layerWidth;
                    const P expected = both ? rule(mode, was, l.row<P>(y)[x]) : was;
                    const P got = out.view().row<P>(y)[x];
                    ASSERT_EQ(0, std::memcmp(&got, &expected, sizeof got)) << "pixel " << x << "," << y;
                }
            EXPECT_TRUE(out.paddingIntact());
            EXPECT_EQ(layer.pixels(), layerBefore);
        }
    }
}

TEST(CompositeFrame, EveryModeFollowsTheRulesAtBothDepths) {
    std::mt19937 rng(88);
    compareWithRules<Pixel8>(rng);
    compareWithRules<Pixel16>(rng);
    // Images without pixels are left alone.
    TestImage layer(4, 4, false), out(4, 4, false);
    layer.fill(255, 9, 9, 9);
    compositeFrame(ImageView{}, out.view(), COMPOSITE_UNDER_ORIGINAL);
    compositeFrame(layer.view(), ImageView{}, COMPOSITE_UNDER_ORIGINAL);
    EXPECT_TRUE(out.allZero());
}

}  // namespace
}  // namespace pennaro
