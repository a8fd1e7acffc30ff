// Guarded float-to-integer conversion. Drawings can carry any float (NaN,
// infinities, values far outside a pixel range); converting those with a
// plain cast is undefined behaviour. In range the result is exactly the
// truncation toward zero; NaN gives 0 and values beyond the 32-bit range
// saturate.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pennaro {

inline int32_t truncToInt32(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return INT32_MAX;
    if (v <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// Truncation stored into an 8- or 16-bit channel keeps the low bits, as an
// integer store into the narrower field would.
inline uint8_t truncToChannel8(double v) { return static_cast<uint8_t>(truncToInt32(v)); }
inline uint16_t truncToChannel16(double v) { return static_cast<uint16_t>(truncToInt32(v)); }

#if defined(__SSE2__)
// truncToInt32 of four floats at once. cvttps gives 0x80000000 for NaN and
// for every lane outside the 32-bit range; the lanes at or above 2^31 are
// turned into INT32_MAX and the NaN lanes into 0, as the scalar form gives.
inline __m128i truncToInt32x4(__m128 v) {
    __m128i t = _mm_cvttps_epi32(v);
    const __m128 big = _mm_cmpge_ps(v, _mm_set1_ps(2147483648.0f));
    t = _mm_xor_si128(t, _mm_castps_si128(big));
    return _mm_and_si128(t, _mm_castps_si128(_mm_cmpord_ps(v, v)));
}
#endif

}  // namespace pennaro
