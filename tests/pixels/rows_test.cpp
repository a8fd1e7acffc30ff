// The row kernels of every instruction set against the per-pixel rules of
// rules.h, and the rules themselves on hand-worked values.
#include <algorithm>
#include <functional>

#include "pixels/row_kernels.h"
#include "pixels/rules.h"
#include "pixels_support.h"

using namespace pennaro;
using namespace pixels_test;

namespace {

template <class Pixel>
bool same(Pixel a, Pixel b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// One row kernel in the uniform form (first, second, dst), with its rule.
template <class Pixel>
struct RowCase {
    const char *name;
    std::function<void(const uint8_t *, const uint8_t *, uint8_t *, int32_t)> run;
    std::function<Pixel(Pixel, Pixel)> rule;
    bool inPlaceOnly;  // the alpha rows rewrite their first row
};

// Random rows with odd lengths and every byte offset 0..3, written to a
// third row and in place over either input; a quarter of the second row
// repeats the first's colour (exact quotients, where an estimate can fall
// just short). Nothing outside the row is written.
template <class Pixel>
void checkRow(const RowCase<Pixel> &c, bool wild, uint64_t seed) {
    Xorshift rng(seed);
    for (int32_t round = 0; round < 300; ++round) {
        const int32_t count = int32_t(rng() % 70);
        const size_t offset = rng() % 4, bytes = size_t(count) * sizeof(Pixel) + 16;
        std::vector<uint8_t> first(bytes + 4), second(bytes + 4);
        for (auto *row : {&first, &second})
            for (uint8_t &byte : *row) byte = uint8_t(rng());
        for (int32_t i = 0; i < count; ++i) {
            Pixel f = randomPixel<Pixel>(rng, wild), s = randomPixel<Pixel>(rng, wild);
            if (rng() % 4 == 0) s = Pixel{s.alpha, f.red, f.green, f.blue};
            std::memcpy(&first[offset + size_t(i) * sizeof(Pixel)], &f, sizeof f);
            std::memcpy(&second[offset + size_t(i) * sizeof(Pixel)], &s, sizeof s);
        }
        for (int target = c.inPlaceOnly ? 1 : 0; target < (c.inPlaceOnly ? 2 : 3); ++target) {
            std::vector<uint8_t> f = first, s = second, d(first.size(), 0xA5);
            std::vector<uint8_t> &out = target == 0 ? d : target == 1 ? f : s;
            std::vector<uint8_t> want = out;
            ruleRow<Pixel>(first.data() + offset, second.data() + offset, want.data() + offset, count, c.rule);
            c.run(f.data() + offset, s.data() + offset, out.data() + offset, count);
            if (out == want) continue;
            const size_t k = size_t(std::mismatch(out.begin(), out.end(), want.begin()).first - out.begin());
            const size_t at = k < offset ? k : offset + (k - offset) / sizeof(Pixel) * sizeof(Pixel);
            FAIL() << c.name << ": byte " << k << " of a " << count << "-pixel row at offset " << offset
                   << ", first row alpha " << +first[at] << ", second row alpha " << +second[at];
        }
    }
}

class RowKernels : public testing::TestWithParam<Isa> {};

TEST_P(RowKernels, MatchTheRulesAtBothDepths) {
    const PixelKernels &k = *pixelKernels(GetParam());
    auto over = [](OverRowFn f) { return [f](const uint8_t *t, const uint8_t *b, uint8_t *d, int32_t n) { f(t, b, d, n); }; };
    auto alpha = [](AlphaRowFn f) { return [f](const uint8_t *p, const uint8_t *l, uint8_t *, int32_t n) { f(const_cast<uint8_t *>(p), l, n); }; };
    auto erase = [](EraseRowFn f) { return [f](const uint8_t *d, const uint8_t *c, uint8_t *, int32_t n) { f(c, const_cast<uint8_t *>(d), n); }; };
    const RowCase<Pixel8> rows8[] = {
        {"over", over(k.over8), over8, false},
        {"over keeping alpha", over(k.overKeepBottomAlpha8), overKeepBottomAlpha<Pixel8>, false},
        {"min alpha", alpha(k.minAlpha8), minAlpha<Pixel8>, true},
        {"matte", alpha(k.matte8), static_cast<Pixel8 (*)(Pixel8, Pixel8)>(matte), true},
        {"inverse matte", alpha(k.inverseMatte8), static_cast<Pixel8 (*)(Pixel8, Pixel8)>(inverseMatte), true},
        {"paint alpha", alpha(k.paintAlpha8), paintAlpha<Pixel8>, true},
        {"max alpha", alpha(k.maxAlpha8), maxAlpha<Pixel8>, true},
        {"erase", erase(k.erase8), [](Pixel8 d, Pixel8 c) { return pennaro::erase(c, d); }, true},
    };
    const RowCase<Pixel16> rows16[] = {
        {"over", over(k.over16), over16, false},
        {"over keeping alpha", over(k.overKeepBottomAlpha16), overKeepBottomAlpha<Pixel16>, false},
        {"min alpha", alpha(k.minAlpha16), minAlpha<Pixel16>, true},
        {"matte", alpha(k.matte16), static_cast<Pixel16 (*)(Pixel16, Pixel16)>(matte), true},
        {"inverse matte", alpha(k.inverseMatte16), static_cast<Pixel16 (*)(Pixel16, Pixel16)>(inverseMatte), true},
        {"paint alpha", alpha(k.paintAlpha16), paintAlpha<Pixel16>, true},
        {"max alpha", alpha(k.maxAlpha16), maxAlpha<Pixel16>, true},
        {"erase", erase(k.erase16), [](Pixel16 d, Pixel16 c) { return pennaro::erase(c, d); }, true},
    };
    uint64_t seed = 1;
    for (size_t shift : {0, 16})
        withStackShift(shift, [&] {
            for (const auto &c : rows8) checkRow(c, false, seed++);
            for (const auto &c : rows16)
                for (bool wild : {false, true}) checkRow(c, wild, seed++);
        });
    // A stroke's opacity, in range and beyond it (negative, huge, NaN).
    for (float opacity : {0.37f, 0.999f, 1.5f, -0.25f, 3e9f, std::numeric_limits<float>::quiet_NaN()}) {
        auto scale = [opacity](ScaleAlphaRowFn f) {
            return [f, opacity](const uint8_t *p, const uint8_t *, uint8_t *, int32_t n) { f(const_cast<uint8_t *>(p), n, opacity); };
        };
        auto rule = [opacity](auto p, auto) { return scaleAlpha(p, opacity); };
        checkRow(RowCase<Pixel8>{"opacity", scale(k.scaleAlpha8), rule, true}, false, seed++);
        for (bool wild : {false, true}) checkRow(RowCase<Pixel16>{"opacity", scale(k.scaleAlpha16), rule, true}, wild, seed++);
    }
}

INSTANTIATE_TEST_SUITE_P(Isas, RowKernels, testing::ValuesIn(isas(true)), isaLabel);

TEST(Dispatch, PublicKernelsRunTheWidestTable) {
    const Isa widest = isaAvailable(Isa::Avx2) ? Isa::Avx2 : isaAvailable(Isa::Sse2) ? Isa::Sse2 : Isa::Scalar;
    EXPECT_EQ(activeKernels().isa, widest);
#if defined(__x86_64__)
    // The machines the tests run on have AVX2: its forms must be tested,
    // the Windows library's too.
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_EQ(widest, Isa::Avx2);
    }
#endif
#if defined(__SSE2__)
    EXPECT_TRUE(isaAvailable(Isa::Sse2));
#endif
    // The public rows run the active table's.
    const Pixel8 t{128, 255, 0, 0}, b{255, 0, 0, 0};
    Pixel8 r;
    overRow8(reinterpret_cast<const uint8_t *>(&t), reinterpret_cast<const uint8_t *>(&b),
             reinterpret_cast<uint8_t *>(&r), 1);
    EXPECT_TRUE(same(r, over8(t, b)));
}

// The rules on hand-worked values: what the exhaustive proofs hold every
// row kernel to, pinned here.
TEST(OverRules, EightBitShortcutsAndArithmetic) {
    // wt = 32640, wb = 32385, red = 8323200 / 65025 = 128, alpha 255.
    EXPECT_TRUE(same(over8({128, 255, 0, 0}, {255, 0, 0, 0}), Pixel8{255, 128, 0, 0}));
    const Pixel8 opaque{255, 10, 20, 30}, bottom{90, 200, 100, 50};
    EXPECT_TRUE(same(over8(opaque, bottom), opaque));
    EXPECT_TRUE(same(over8({0, 1, 2, 3}, bottom), bottom));
    EXPECT_TRUE(same(over8({40, 1, 2, 3}, {0, 9, 9, 9}), Pixel8{40, 1, 2, 3}));
    // Both transparent: the 8-bit form gives the bottom.
    EXPECT_TRUE(same(over8({0, 1, 2, 3}, {0, 7, 8, 9}), Pixel8{0, 7, 8, 9}));
}

TEST(OverRules, SixteenBitShortcutsAndArithmetic) {
    // Both transparent: the 16-bit form gives the top.
    EXPECT_TRUE(same(over16({0, 1, 2, 3}, {0, 7, 8, 9}), Pixel16{0, 1, 2, 3}));
    EXPECT_TRUE(same(over16({0, 1, 2, 3}, {5, 7, 8, 9}), Pixel16{5, 7, 8, 9}));
    // No opaque shortcut, but the arithmetic lands on the top pixel.
    EXPECT_TRUE(same(over16({32768, 100, 200, 300}, {20000, 9, 9, 9}), Pixel16{32768, 100, 200, 300}));
    // Half over opaque: wb = 16384, d = 32768.
    EXPECT_TRUE(same(over16({16384, 32768, 0, 0}, {32768, 0, 32768, 0}), Pixel16{32768, 16384, 16384, 0}));
}

}  // namespace
