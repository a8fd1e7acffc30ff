// Compositing with the layer: both compositors against the per-pixel rules
// over random images with padded rows, the matte modes on hand-worked values.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "params/param_ids.h"
#include "pixels/rules.h"
#include "render/composite.h"

namespace pennaro {
namespace {

Pixel8 px8(int a, int r, int g, int b) {
    return {uint8_t(a), uint8_t(r), uint8_t(g), uint8_t(b)};
}
template <class P>
bool same(P x, P y) {
    return x.alpha == y.alpha && x.red == y.red && x.green == y.green && x.blue == y.blue;
}

// ---- which per-pixel rule each mode runs; the rules are rules.h's

Pixel8 over(Pixel8 t, Pixel8 b) { return over8(t, b); }
Pixel16 over(Pixel16 t, Pixel16 b) { return over16(t, b); }

template <class P>
P ref(int mode, P p, P l) {
    switch (mode) {
        case 4: return over(p, l);
        case 5: return over(l, p);
        case 7: return minAlpha(p, l);
        case 8: return overKeepBottomAlpha(p, l);
        case 10: return matte(p, l);
        case 11: return inverseMatte(p, l);
        case 13: return paintAlpha(p, l);
        case 14: return maxAlpha(p, l);
        default: return p;
    }
}

// ---- images with padded rows and a host that only hands out pixel addresses

struct Image {
    std::vector<uint8_t> bytes;
    HostWorld world{};
    Image() = default;
    Image(const Image &other) : bytes(other.bytes), world(other.world) { world.data = bytes.data(); }
};

template <class P>
Image makeImage(int width, int height, int padding, bool deep) {
    Image image;
    image.world.flags = deep ? HOST_WORLD_FLAG_DEEP : 0;
    image.world.width = width;
    image.world.height = height;
    image.world.rowBytes = int32_t(width * sizeof(P) + padding);
    image.bytes.assign(size_t(image.world.rowBytes) * height, 0xEE);
    image.world.data = image.bytes.data();
    return image;
}

template <class P>
P pixelAt(const Image &image, int x, int y) {
    P p;
    std::memcpy(&p, image.bytes.data() + size_t(y) * image.world.rowBytes + x * sizeof(P), sizeof p);
    return p;
}
template <class P>
void setPixel(Image &image, int x, int y, P p) {
    std::memcpy(image.bytes.data() + size_t(y) * image.world.rowBytes + x * sizeof(P), &p, sizeof p);
}

bool g_refuseAddress = false;
int32_t address8(HostWorld *w, void *, HostPixel8 **out) {
    *out = g_refuseAddress ? nullptr : static_cast<HostPixel8 *>(w->data);
    return 0;
}
int32_t address16(HostWorld *w, void *, HostPixel16 **out) {
    *out = g_refuseAddress ? nullptr : static_cast<HostPixel16 *>(w->data);
    return 0;
}

struct PixelHost {
    HostUtilities utils{};
    HostInData in{};
    HostOutData out{};
    PixelHost() {
        utils.getPixelAddress8 = address8;
        utils.getPixelAddress16 = address16;
        in.utils = &utils;
    }
};

const int ALL_MODES[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// Random pixels with a good share of the boundary alphas, where the rules
// take their shortcuts.
template <class P>
P randomPixel(std::mt19937 &rng, int full) {
    std::uniform_int_distribution<int> any(0, full), pick(0, 5);
    const int choice = pick(rng);
    const int alpha = choice == 0 ? 0 : choice == 1 ? full : any(rng);
    return P{decltype(P::alpha)(alpha), decltype(P::alpha)(any(rng)), decltype(P::alpha)(any(rng)),
             decltype(P::alpha)(any(rng))};
}

template <class P>
void compareWithReference(bool deep, int full) {
    PixelHost host;
    std::mt19937 rng(deep ? 1616 : 88);
    const int width = 37, height = 23;
    for (int mode : ALL_MODES) {
        Image layer = makeImage<P>(width, height, 12, deep);
        Image paint = makeImage<P>(width, height, 4, deep);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                setPixel(layer, x, y, randomPixel<P>(rng, full));
                setPixel(paint, x, y, randomPixel<P>(rng, full));
            }
        const Image before = paint;
        if (deep)
            composite16(&host.in, &host.out, &layer.world, &paint.world, mode);
        else
            composite8(&host.in, &host.out, &layer.world, &paint.world, mode);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const P expected = ref(mode, pixelAt<P>(before, x, y), pixelAt<P>(layer, x, y));
                ASSERT_TRUE(same(pixelAt<P>(paint, x, y), expected)) << "mode " << mode << " at " << x << "," << y;
            }
        // Row padding is never written.
        for (int y = 0; y < height; ++y)
            for (size_t b = width * sizeof(P); b < size_t(paint.world.rowBytes); ++b)
                ASSERT_EQ(paint.bytes[y * paint.world.rowBytes + b], 0xEE);
    }
}

TEST(Compositor, EightBitMatchesPlainReferenceInEveryMode) { compareWithReference<Pixel8>(false, 255); }
TEST(Compositor, SixteenBitMatchesPlainReferenceInEveryMode) { compareWithReference<Pixel16>(true, 32768); }

TEST(Compositor, MatteModesOnHandWorkedValues) {
    PixelHost host;
    Image layer = makeImage<Pixel8>(3, 1, 0, false);
    Image paint = makeImage<Pixel8>(3, 1, 0, false);
    setPixel(layer, 0, 0, px8(255, 1, 2, 3));
    setPixel(paint, 0, 0, px8(255, 0, 0, 0));
    setPixel(layer, 1, 0, px8(0, 1, 2, 3));
    setPixel(paint, 1, 0, px8(200, 0, 0, 0));
    setPixel(layer, 2, 0, px8(255, 4, 5, 6));
    setPixel(paint, 2, 0, px8(255, 0, 0, 0));
    Image inverse = paint;
    composite8(&host.in, &host.out, &layer.world, &paint.world, COMPOSITE_AS_MATTE);
    EXPECT_TRUE(same(pixelAt<Pixel8>(paint, 0, 0), px8(255, 1, 2, 3)));
    EXPECT_TRUE(same(pixelAt<Pixel8>(paint, 1, 0), px8(0, 1, 2, 3)));
    composite8(&host.in, &host.out, &layer.world, &inverse.world, COMPOSITE_AS_INVERSE_MATTE);
    EXPECT_TRUE(same(pixelAt<Pixel8>(inverse, 2, 0), px8(0, 4, 5, 6)));
}

TEST(Compositor, NoPixelAddressLeavesOutputAlone) {
    PixelHost host;
    Image layer = makeImage<Pixel8>(2, 2, 0, false);
    Image paint = makeImage<Pixel8>(2, 2, 0, false);
    std::fill(layer.bytes.begin(), layer.bytes.end(), 0x80);
    const Image before = paint;
    g_refuseAddress = true;
    composite8(&host.in, &host.out, &layer.world, &paint.world, COMPOSITE_UNDER_ORIGINAL);
    g_refuseAddress = false;
    EXPECT_EQ(paint.bytes, before.bytes);
}

}  // namespace
}  // namespace pennaro
