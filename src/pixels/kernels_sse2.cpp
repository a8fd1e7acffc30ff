// The SSE2 table: the vector kernels on 128-bit registers, built for the
// baseline x86-64 target.
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

#if PENNARO_HAVE_SSE2
namespace {
#include "pixels/vector_kernels.h"

constinit const PixelKernels kSse2 = vectorKernels<V128>(Isa::Sse2);
}  // namespace

const PixelKernels *const kSse2Kernels = &kSse2;
#else
const PixelKernels *const kSse2Kernels = nullptr;
#endif

}  // namespace pennaro
