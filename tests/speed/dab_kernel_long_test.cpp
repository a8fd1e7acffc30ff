// The long runs of the dab kernel comparisons: many more random seeds, and
// the four-lane truncation over every float.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "dab_kernel_compare.h"
#include "pixels/numeric.h"

using namespace pennaro;
using namespace dab_compare;

namespace {

// Many more seeds, for the release builds.
TEST(DabKernelsFastLong, ManySeedsMatchPlainForms) {
    onEachPath([] {
        for (uint32_t seed = 100; seed < 2100; ++seed) {
            compareKernels<false>(seed);
            if (::testing::Test::HasFatalFailure()) return;
            compareKernels<true>(seed);
            if (::testing::Test::HasFatalFailure()) return;
        }
    });
}

#if defined(__SSE2__)
TEST(DabKernelsFastLong, FourLaneTruncationOverEveryFloat) {
    uint64_t bits = 0;
    while (bits <= 0xffffffffull) {
        alignas(16) uint32_t in[4];
        alignas(16) int32_t out[4];
        for (int l = 0; l < 4; ++l) in[l] = uint32_t(bits + uint64_t(l));
        __m128 v;
        std::memcpy(&v, in, sizeof v);
        _mm_store_si128(reinterpret_cast<__m128i *>(out), truncToInt32x4(v));
        for (int l = 0; l < 4; ++l) {
            float f;
            std::memcpy(&f, &in[l], sizeof f);
            if (out[l] != truncToInt32(double(f))) {
                FAIL() << "bits " << in[l] << ": " << out[l] << " vs " << truncToInt32(double(f));
            }
        }
        bits += 4;
    }
}
#endif

}  // namespace
