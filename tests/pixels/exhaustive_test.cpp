// Exhaustive runs for the release lane (minutes under sanitizers): every
// vector table's "over" rows against over8/over16 on every 8-bit pair of
// alphas with every pair of colour values and every 16-bit pair of in-range
// alphas; the lane truncation of each register width against truncToInt32
// on every float; and many more random dabs.
#include "pixels/rules.h"
#include "simd/vectors.h"
#include "pixels_support.h"

using namespace pennaro;
using namespace pixels_test;

namespace {

class Exhaustive : public testing::TestWithParam<Isa> {
protected:
    const PixelKernels &k = *pixelKernels(GetParam());

    // Runs `row` over top/bottom and compares pixel by pixel with `rule`
    // wherever the whole-row comparison fails.
    template <class Pixel>
    void check(OverRowFn row, Pixel (*rule)(Pixel, Pixel), const std::vector<Pixel> &top,
               const std::vector<Pixel> &bottom) {
        std::vector<Pixel> got(top.size()), want(top.size());
        row(reinterpret_cast<const uint8_t *>(top.data()), reinterpret_cast<const uint8_t *>(bottom.data()),
            reinterpret_cast<uint8_t *>(got.data()), int32_t(top.size()));
        for (size_t i = 0; i < top.size(); ++i) want[i] = rule(top[i], bottom[i]);
        if (std::memcmp(got.data(), want.data(), got.size() * sizeof(Pixel)) == 0) return;
        for (size_t i = 0; i < top.size(); ++i)
            ASSERT_EQ(0, std::memcmp(&got[i], &want[i], sizeof(Pixel)))
                << "top alpha " << +top[i].alpha << " bottom alpha " << +bottom[i].alpha << " at " << i;
    }
};

// Per alpha pair, rows of 256 top pixels (tc = x in all three channels)
// over bottom pixels whose red, green and blue together cover 0..255: every
// weight d and every numerator n the 8-bit quotient can meet.
TEST_P(Exhaustive, EightBitOverEveryAlphaAndColourPair) {
    constexpr int32_t kRows = 86;
    std::vector<Pixel8> top(size_t(kRows) * 256), bottom(top.size());
    for (uint32_t ta = 0; ta < 256 && !HasFatalFailure(); ++ta)
        for (uint32_t ba = 0; ba < 256 && !HasFatalFailure(); ++ba) {
            for (int32_t r = 0; r < kRows; ++r)
                for (uint32_t x = 0; x < 256; ++x) {
                    top[size_t(r) * 256 + x] = Pixel8{uint8_t(ta), uint8_t(x), uint8_t(x), uint8_t(x)};
                    bottom[size_t(r) * 256 + x] =
                        Pixel8{uint8_t(ba), uint8_t(r), uint8_t(r + kRows), uint8_t(std::min(r + 2 * kRows, 255))};
                }
            check<Pixel8>(k.over8, over8, top, bottom);
            check<Pixel8>(k.overKeepBottomAlpha8, overKeepBottomAlpha<Pixel8>, top, bottom);
        }
}

// One row per top alpha, the bottom alpha running along it; random colours
// (an eighth 0, one in sixteen 32768), a quarter of the bottoms the top's
// own colour (exact quotients).
TEST_P(Exhaustive, SixteenBitOverEveryAlphaPair) {
    constexpr int32_t kCount = 32769;
    std::vector<Pixel16> top(kCount), bottom(kCount);
    Xorshift rng(2024);
    auto colour = [&]() -> uint16_t {
        const uint32_t r = rng();
        return (r & 15) < 2 ? 0 : (r & 15) < 3 ? 32768 : uint16_t((r >> 4) % 32769);
    };
    for (uint32_t ta = 0; ta <= 32768 && !HasFatalFailure(); ++ta) {
        for (int32_t x = 0; x < kCount; ++x) {
            top[size_t(x)] = Pixel16{uint16_t(ta), colour(), colour(), colour()};
            bottom[size_t(x)] = rng() % 4 == 0 ? Pixel16{uint16_t(x), top[size_t(x)].red, top[size_t(x)].green,
                                                         top[size_t(x)].blue}
                                               : Pixel16{uint16_t(x), colour(), colour(), colour()};
        }
        check<Pixel16>(k.over16, over16, top, bottom);
        if (ta % 64 == 0) check<Pixel16>(k.overKeepBottomAlpha16, overKeepBottomAlpha<Pixel16>, top, bottom);
    }
}

#if PENNARO_HAVE_SSE2
void trunc128(const float *in, int32_t *out) { simd::V128::store(out, simd::V128::truncToInt32(simd::V128::loadf(in))); }
#if PENNARO_HAVE_AVX2
__attribute__((target("avx2"))) void trunc256(const float *in, int32_t *out) {
    simd::V256::store(out, simd::V256::truncToInt32(simd::V256::loadf(in)));
}
#endif

TEST_P(Exhaustive, LaneTruncationOverEveryFloat) {
    void (*trunc)(const float *, int32_t *) = trunc128;
    uint64_t lanes = 4;
#if PENNARO_HAVE_AVX2
    if (GetParam() == Isa::Avx2) trunc = trunc256, lanes = 8;
#endif
    constexpr uint64_t kBlock = 1 << 16;
    std::vector<float> in(kBlock);
    std::vector<int32_t> out(kBlock);
    for (uint64_t base = 0; base <= 0xffffffffull; base += kBlock) {
        for (uint64_t i = 0; i < kBlock; ++i) {
            const uint32_t bits = uint32_t(base + i);
            std::memcpy(&in[i], &bits, sizeof bits);
        }
        for (uint64_t i = 0; i < kBlock; i += lanes) trunc(&in[i], &out[i]);
        for (uint64_t i = 0; i < kBlock; ++i)
            if (out[i] != truncToInt32(double(in[i]))) FAIL() << "float bits " << uint32_t(base + i) << " gave " << out[i];
    }
}
#endif

TEST_P(Exhaustive, ManyRandomDabsMatchTheScalarKernels) {
    for (uint32_t seed = 100; seed < 2100 && !HasFatalFailure(); ++seed) {
        compareDabs(k, false, seed);
        compareDabs(k, true, seed);
    }
}

INSTANTIATE_TEST_SUITE_P(Isas, Exhaustive, testing::ValuesIn(isas(false)), isaLabel);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Exhaustive);

}  // namespace
