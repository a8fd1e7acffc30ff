// Guarded float-to-integer conversion. Drawings can carry any float (NaN,
// infinities, values far outside a pixel range); converting those with a
// plain cast is undefined behaviour. In range the result is exactly the
// truncation toward zero; NaN gives 0 and values beyond the 32-bit range
// saturate.
#pragma once

#include <cstdint>

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

}  // namespace pennaro
