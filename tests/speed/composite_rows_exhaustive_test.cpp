// Exhaustive runs of the "over" row kernels against over8/over16 (release
// lane only: minutes under sanitizers): every 8-bit (top, bottom) pair of
// alphas with every pair of colour values, and every 16-bit pair of
// in-range alphas with random colours. These cover every weight d and every
// numerator n the 8-bit quotient can meet, and every 16-bit weight.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "plain_composite.h"
#include "pixels/row_kernels.h"

using namespace pennaro;

namespace {

struct Xorshift {
    uint64_t s;
    explicit Xorshift(uint64_t seed) : s(seed * 0x9E3779B97F4A7C15ull + 1) {}
    uint32_t operator()() {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return uint32_t(s >> 16);
    }
};

template <class Pixel>
Pixel at(const uint8_t *row, int32_t i) {
    Pixel p;
    std::memcpy(&p, row + size_t(i) * sizeof(Pixel), sizeof p);
    return p;
}

template <class Pixel>
std::string show(Pixel p) {
    std::ostringstream text;
    text << '(' << +p.alpha << ", " << +p.red << ", " << +p.green << ", " << +p.blue << ')';
    return text.str();
}

template <class Pixel>
bool same(Pixel a, Pixel b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The vector forms this build and processor run (the scalar form is over8
// and over16 themselves).
std::vector<std::pair<const char *, const OverRowForms *>> vectorForms() {
    std::vector<std::pair<const char *, const OverRowForms *>> forms;
    if (const OverRowForms *f = overRowForms(OVER_ROWS_SSE2)) forms.emplace_back("SSE2", f);
    if (const OverRowForms *f = overRowForms(OVER_ROWS_AVX2)) forms.emplace_back("AVX2", f);
    return forms;
}

// Every 8-bit pair of alphas with every pair of colour values: per alpha
// pair, rows of 256 top pixels (tc = x in all three channels) over bottom
// pixels whose red, green and blue together cover 0..255.
TEST(OverRowsExhaustive, EightBitEveryAlphaAndColourPair) {
    constexpr int32_t kRows = 86;
    std::vector<uint8_t> top(size_t(kRows) * 256 * 4), bottom(top.size()), dst(top.size()), dstKeep(top.size());
    std::vector<uint8_t> expected(top.size()), expectedKeep(top.size());
    const auto forms = vectorForms();
    for (uint32_t ta = 0; ta < 256; ++ta) {
        for (uint32_t ba = 0; ba < 256; ++ba) {
            for (int32_t k = 0; k < kRows; ++k)
                for (uint32_t x = 0; x < 256; ++x) {
                    const size_t i = (size_t(k) * 256 + x) * 4;
                    const Pixel8 t{uint8_t(ta), uint8_t(x), uint8_t(x), uint8_t(x)};
                    const Pixel8 b{uint8_t(ba), uint8_t(k), uint8_t(k + kRows),
                                       uint8_t(std::min<int32_t>(k + 2 * kRows, 255))};
                    std::memcpy(&top[i], &t, 4);
                    std::memcpy(&bottom[i], &b, 4);
                }
            const int32_t count = kRows * 256;
            for (int32_t i = 0; i < count; ++i) {
                Pixel8 want = pennaro_plain::over(at<Pixel8>(top.data(), i), at<Pixel8>(bottom.data(), i));
                std::memcpy(&expected[size_t(i) * 4], &want, 4);
                want.alpha = bottom[size_t(i) * 4];
                std::memcpy(&expectedKeep[size_t(i) * 4], &want, 4);
            }
            for (const auto &[name, f] : forms) {
                f->over8(top.data(), bottom.data(), dst.data(), count);
                f->overKeepBottomAlpha8(top.data(), bottom.data(), dstKeep.data(), count);
                if (dst == expected && dstKeep == expectedKeep) continue;
                for (int32_t i = 0; i < count; ++i) {
                    const Pixel8 t = at<Pixel8>(top.data(), i), b = at<Pixel8>(bottom.data(), i);
                    ASSERT_TRUE(same(at<Pixel8>(dst.data(), i), at<Pixel8>(expected.data(), i)))
                        << name << ": top " << show(t) << " bottom " << show(b) << " gave "
                        << show(at<Pixel8>(dst.data(), i)) << ", want " << show(at<Pixel8>(expected.data(), i));
                    ASSERT_TRUE(same(at<Pixel8>(dstKeep.data(), i), at<Pixel8>(expectedKeep.data(), i)))
                        << name << ": top " << show(t) << " bottom " << show(b);
                }
            }
        }
    }
}

// Every 16-bit pair of in-range alphas, random colours (an eighth of them 0,
// one in sixteen 32768, a quarter of the bottoms the top's own colour): one
// row per top alpha, the bottom alpha running along it.
TEST(OverRowsExhaustive, SixteenBitEveryAlphaPair) {
    constexpr int32_t kCount = 32769;
    std::vector<uint8_t> top(size_t(kCount) * 8), bottom(top.size()), dst(top.size()), expected(top.size());
    const auto forms = vectorForms();
    Xorshift rng(2024);
    auto colour = [&]() -> uint16_t {
        const uint32_t r = rng();
        return (r & 15) < 2 ? 0 : (r & 15) < 3 ? 32768 : uint16_t((r >> 4) % 32769);
    };
    for (uint32_t ta = 0; ta <= 32768; ++ta) {
        for (int32_t x = 0; x < kCount; ++x) {
            const Pixel16 t{uint16_t(ta), colour(), colour(), colour()};
            Pixel16 b{uint16_t(x), colour(), colour(), colour()};
            // A quarter paint over their own colour (exact quotients).
            if (rng() % 4 == 0) b = Pixel16{uint16_t(x), t.red, t.green, t.blue};
            std::memcpy(&top[size_t(x) * 8], &t, 8);
            std::memcpy(&bottom[size_t(x) * 8], &b, 8);
        }
        for (int32_t i = 0; i < kCount; ++i) {
            const Pixel16 want = pennaro_plain::over(at<Pixel16>(top.data(), i), at<Pixel16>(bottom.data(), i));
            std::memcpy(&expected[size_t(i) * 8], &want, 8);
        }
        for (const auto &[name, f] : forms) {
            f->over16(top.data(), bottom.data(), dst.data(), kCount);
            if (dst == expected) continue;
            for (int32_t i = 0; i < kCount; ++i) {
                const Pixel16 t = at<Pixel16>(top.data(), i), b = at<Pixel16>(bottom.data(), i);
                ASSERT_TRUE(same(at<Pixel16>(dst.data(), i), at<Pixel16>(expected.data(), i)))
                    << name << ": top " << show(t) << " bottom " << show(b) << " gave "
                    << show(at<Pixel16>(dst.data(), i)) << ", want " << show(at<Pixel16>(expected.data(), i));
            }
        }
    }
}

}  // namespace
