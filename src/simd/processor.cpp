#include "simd/processor.h"

namespace pennaro::simd {

bool processorHasAvx2() {
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool avx2 = [] {
        // The first use may come while a library's globals are set up,
        // before the compiler's own probe has run.
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return avx2;
#else
    return false;
#endif
}

}  // namespace pennaro::simd
