// The dab kernels against their plain forms (see dab_kernel_compare.h), and
// the four-lane truncation the vector loops convert coverage with.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "dab_kernel_compare.h"
#include "pixels/numeric.h"

using namespace pennaro;
using namespace dab_compare;

namespace {

TEST(DabKernelsFast, WidestPathIsTheDefault) {
    const DabKernelPath widest = dabKernelPathAvailable(DabKernelPath::Avx2)   ? DabKernelPath::Avx2
                                 : dabKernelPathAvailable(DabKernelPath::Sse2) ? DabKernelPath::Sse2
                                                                               : DabKernelPath::Scalar;
    EXPECT_EQ(dabKernelPath(), widest);
#if defined(__x86_64__) && !defined(_WIN32)
    // The machines the tests run on have AVX2: the wide loops must be tested.
    if (__builtin_cpu_supports("avx2")) {
        EXPECT_EQ(widest, DabKernelPath::Avx2);
    }
#endif
}

TEST(DabKernelsFast, EightBitMatchPlainForms) {
    onEachPath([] {
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            compareKernels<false>(seed);
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

TEST(DabKernelsFast, SixteenBitMatchPlainForms) {
    onEachPath([] {
        for (uint32_t seed = 1; seed <= 40; ++seed) {
            compareKernels<true>(seed);
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

// Rows wider than the square kernel's per-dab tables.
TEST(DabKernelsFast, WideDabsMatchPlainForms) {
    onEachPath([] {
        for (uint32_t seed = 1; seed <= 3; ++seed) {
            compareKernels<false>(seed, {1400, 9, 900.0f});
            if (::testing::Test::HasFatalFailure()) return;
            compareKernels<true>(seed, {1400, 9, 900.0f});
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

#if defined(__SSE2__)
// Every lane as truncToInt32 gives it: NaN, infinities, the edges of the
// 32-bit range and random bit patterns.
TEST(DabKernelsFast, FourLaneTruncationMatchesScalar) {
    std::vector<float> values = {0.0f, -0.0f, 0.5f, -0.5f, 1.0f, 254.99f, 255.0f, 65535.9f,
                                 2147483520.0f, 2147483648.0f, -2147483648.0f, -2147483904.0f,
                                 std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                                 std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::denorm_min(),
                                 std::numeric_limits<float>::max(), -std::numeric_limits<float>::max()};
    std::mt19937 rng(7);
    for (int i = 0; i < 200000; ++i) {
        const uint32_t bits = rng();
        float f;
        std::memcpy(&f, &bits, sizeof f);
        values.push_back(f);
    }
    while (values.size() % 4) values.push_back(0.0f);
    for (size_t i = 0; i < values.size(); i += 4) {
        alignas(16) int32_t out[4];
        _mm_store_si128(reinterpret_cast<__m128i *>(out), truncToInt32x4(_mm_loadu_ps(&values[i])));
        for (int l = 0; l < 4; ++l) ASSERT_EQ(out[l], truncToInt32(double(values[i + l]))) << values[i + l];
    }
}
#endif

}  // namespace
