// Compositing with the layer: the pixel rules on their documented values, and
// both compositors against a plain per-pixel reference over random images
// with padded rows.
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
Pixel16 px16(int a, int r, int g, int b) {
    return {uint16_t(a), uint16_t(r), uint16_t(g), uint16_t(b)};
}
template <class P>
bool same(P x, P y) {
    return x.alpha == y.alpha && x.red == y.red && x.green == y.green && x.blue == y.blue;
}

TEST(Over8, HalfTopOnOpaqueBottom) {
    // wt = 32640, wb = 32385, red = 8323200 / 65025 = 128, alpha 255.
    const Pixel8 r = over8(px8(128, 255, 0, 0), px8(255, 0, 0, 0));
    EXPECT_TRUE(same(r, px8(255, 128, 0, 0)));
}

TEST(Over8, Shortcuts) {
    const Pixel8 opaque = px8(255, 10, 20, 30), bottom = px8(90, 200, 100, 50);
    EXPECT_TRUE(same(over8(opaque, bottom), opaque));
    EXPECT_TRUE(same(over8(px8(0, 1, 2, 3), bottom), bottom));
    EXPECT_TRUE(same(over8(px8(40, 1, 2, 3), px8(0, 9, 9, 9)), px8(40, 1, 2, 3)));
    // Both transparent: the 8-bit form gives the bottom.
    EXPECT_TRUE(same(over8(px8(0, 1, 2, 3), px8(0, 7, 8, 9)), px8(0, 7, 8, 9)));
}

TEST(Over16, ShortcutsAndOpaqueTop) {
    // Both transparent: the 16-bit form gives the top.
    EXPECT_TRUE(same(over16(px16(0, 1, 2, 3), px16(0, 7, 8, 9)), px16(0, 1, 2, 3)));
    EXPECT_TRUE(same(over16(px16(0, 1, 2, 3), px16(5, 7, 8, 9)), px16(5, 7, 8, 9)));
    // No opaque shortcut, but the arithmetic lands on the top pixel.
    EXPECT_TRUE(same(over16(px16(32768, 100, 200, 300), px16(20000, 9, 9, 9)), px16(32768, 100, 200, 300)));
    // Half over opaque: wb = 16384, d = 32768.
    const Pixel16 r = over16(px16(16384, 32768, 0, 0), px16(32768, 0, 32768, 0));
    EXPECT_TRUE(same(r, px16(32768, 16384, 16384, 0)));
}

// ---- a plain reference, one pixel at a time, in signed arithmetic

Pixel8 refOver8(Pixel8 t, Pixel8 b) {
    if (t.alpha == 0 || (t.alpha != 255 && b.alpha != 0)) {
        if (t.alpha == 0) return b;
        int wt = t.alpha * 255, wb = b.alpha * (255 - t.alpha), d = wt + wb;
        return px8(b.alpha - b.alpha * t.alpha / 255 + t.alpha, (b.red * wb + t.red * wt) / d,
                   (b.green * wb + t.green * wt) / d, (b.blue * wb + t.blue * wt) / d);
    }
    return t;
}

Pixel16 refOver16(Pixel16 t, Pixel16 b) {
    if (b.alpha == 0) return t;
    if (t.alpha == 0) return b;
    long long wb = (32768LL - t.alpha) * b.alpha / 32768, d = wb + t.alpha;
    return px16(int(t.alpha - (long long)b.alpha * t.alpha / 32768 + b.alpha),
                int((b.red * wb + (long long)t.red * t.alpha) / d), int((b.green * wb + (long long)t.green * t.alpha) / d),
                int((b.blue * wb + (long long)t.blue * t.alpha) / d));
}

Pixel8 ref8(int mode, Pixel8 p, Pixel8 l) {
    Pixel8 r = p;
    switch (mode) {
        case 4: return refOver8(p, l);
        case 5: return refOver8(l, p);
        case 7: r.alpha = uint8_t(l.alpha < p.alpha ? l.alpha : p.alpha); return r;
        case 8: r = refOver8(p, l); r.alpha = l.alpha; return r;
        case 10: r = l; r.alpha = uint8_t((l.alpha + 1) * p.alpha / 256); return r;
        case 11: r = l; r.alpha = uint8_t((256 - p.alpha) * l.alpha / 256); return r;
        case 13: r = l; r.alpha = p.alpha; return r;
        case 14: r = l; r.alpha = uint8_t(l.alpha > p.alpha ? l.alpha : p.alpha); return r;
        default: return p;
    }
}

Pixel16 ref16(int mode, Pixel16 p, Pixel16 l) {
    Pixel16 r = p;
    switch (mode) {
        case 4: return refOver16(p, l);
        case 5: return refOver16(l, p);
        case 7: r.alpha = uint16_t(l.alpha < p.alpha ? l.alpha : p.alpha); return r;
        case 8: r = refOver16(p, l); r.alpha = l.alpha; return r;
        case 10: r = l; r.alpha = uint16_t((long long)p.alpha * l.alpha / 32768); return r;
        case 11: r = l; r.alpha = uint16_t((32768LL - p.alpha) * l.alpha / 32768); return r;
        case 13: r = l; r.alpha = p.alpha; return r;
        case 14: r = l; r.alpha = uint16_t(l.alpha > p.alpha ? l.alpha : p.alpha); return r;
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
                P expected;
                if constexpr (sizeof(P) == 4)
                    expected = ref8(mode, pixelAt<P>(before, x, y), pixelAt<P>(layer, x, y));
                else
                    expected = ref16(mode, pixelAt<P>(before, x, y), pixelAt<P>(layer, x, y));
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

TEST(Compositor, MatteModesOnDocumentedValues) {
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
