// The AVX2 table: the vector kernels compiled for AVX2 (the target region of
// simd/vectors.h), rows and dabs on 256-bit registers; the 8-bit square dab is the
// SSE2 table's. Chosen only on processors that have AVX2 (dispatch.cpp).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <type_traits>

#include "pixels/dab_shapes.h"
#include "pixels/dispatch.h"
#include "pixels/rules.h"
#include "simd/vectors.h"

namespace pennaro {

#if PENNARO_HAVE_AVX2
PENNARO_AVX2_BEGIN
namespace {
#include "pixels/vector_kernels.h"

constinit const PixelKernels kAvx2 = vectorKernels<simd::V256>(Isa::Avx2);
}  // namespace
PENNARO_AVX2_END

const PixelKernels *const kAvx2Kernels = &kAvx2;
#else
const PixelKernels *const kAvx2Kernels = nullptr;
#endif

}  // namespace pennaro
