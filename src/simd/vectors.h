// Small wrappers over the vector registers, so that vector code is written
// once and built per instruction set: V128 (SSE2, sixteen bytes or four
// 32-bit lanes) and V256 (AVX2, twice that). The pixel kernels, the search
// for saved blocks and the tool's scanner are all written on them. Only
// operations that code uses, with exact integer semantics and
// single-precision float steps that round as scalar code's do; nothing
// fused, nothing approximate.
//
// Where AVX2 is built at all is decided here, once: x86-64 with GCC or
// clang. On Windows only where the build has the assembler write aligned
// vector moves as unaligned ones (PENNARO_UNALIGNED_VECTOR_MOVES, set by
// CMakeLists.txt for the layers that use V256): MinGW-w64 cannot keep the
// 32-byte stack slots of spilled 256-bit values aligned.
// The AVX2 code is compiled for that target function by function (the
// target region below), never by a compiler flag on a whole source file:
// an inline function that a file compiled with -mavx2 emits could be the
// copy the linker keeps for every caller, including baseline ones. Whether
// the processor running the code has AVX2 is simd/processor.h's to say.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#define PENNARO_HAVE_SSE2 1
#include <emmintrin.h>
#else
#define PENNARO_HAVE_SSE2 0
#endif

#if PENNARO_HAVE_SSE2 && defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__)) && \
    (!defined(_WIN32) || defined(PENNARO_UNALIGNED_VECTOR_MOVES))
#define PENNARO_HAVE_AVX2 1
#include <immintrin.h>
// Every function defined between BEGIN and END is compiled for AVX2. Code
// there must have internal linkage or be reached only from AVX2 code.
#if defined(__clang__)
#define PENNARO_AVX2_BEGIN _Pragma("clang attribute push(__attribute__((target(\"avx2\"))), apply_to = function)")
#define PENNARO_AVX2_END _Pragma("clang attribute pop")
#else
#define PENNARO_AVX2_BEGIN _Pragma("GCC push_options") _Pragma("GCC target(\"avx2\")")
#define PENNARO_AVX2_END _Pragma("GCC pop_options")
#endif
#else
#define PENNARO_HAVE_AVX2 0
#endif

#if PENNARO_HAVE_SSE2
namespace pennaro::simd {

#define PENNARO_SIMD inline __attribute__((always_inline))

struct V128 {
    using I = __m128i;
    using F = __m128;
    static constexpr int32_t kLanes = 4;  // 32-bit lanes
    static constexpr bool kWide = false;
    static constexpr bool kMul32 = false;  // no 32-bit lane product in SSE2

    static PENNARO_SIMD I load(const void *p) { return _mm_loadu_si128(static_cast<const __m128i *>(p)); }
    static PENNARO_SIMD void store(void *p, I v) { _mm_storeu_si128(static_cast<__m128i *>(p), v); }
    static PENNARO_SIMD F loadf(const float *p) { return _mm_loadu_ps(p); }
    static PENNARO_SIMD void storef(float *p, F v) { _mm_storeu_ps(p, v); }
    static PENNARO_SIMD I zero() { return _mm_setzero_si128(); }
    static PENNARO_SIMD I set32(int32_t v) { return _mm_set1_epi32(v); }
    static PENNARO_SIMD I set16(int16_t v) { return _mm_set1_epi16(v); }
    static PENNARO_SIMD I set64(int64_t v) { return _mm_set1_epi64x(v); }
    static PENNARO_SIMD I set8(uint8_t v) { return _mm_set1_epi8(static_cast<char>(v)); }
    static PENNARO_SIMD I iota32(int32_t x) { return _mm_add_epi32(_mm_set1_epi32(x), _mm_setr_epi32(0, 1, 2, 3)); }
    static PENNARO_SIMD F setf(float v) { return _mm_set1_ps(v); }

    static PENNARO_SIMD I and_(I a, I b) { return _mm_and_si128(a, b); }
    static PENNARO_SIMD I or_(I a, I b) { return _mm_or_si128(a, b); }
    static PENNARO_SIMD I xor_(I a, I b) { return _mm_xor_si128(a, b); }
    static PENNARO_SIMD I andnot(I mask, I v) { return _mm_andnot_si128(mask, v); }  // v & ~mask
    static PENNARO_SIMD I select(I mask, I yes, I no) {
        return _mm_or_si128(_mm_and_si128(mask, yes), _mm_andnot_si128(mask, no));
    }
    static PENNARO_SIMD bool any(I mask) { return _mm_movemask_epi8(mask) != 0; }
    static PENNARO_SIMD bool all(I mask) { return _mm_movemask_epi8(mask) == 0xFFFF; }
    // The top bit of every byte, byte k as bit k.
    static PENNARO_SIMD uint32_t byteMask(I v) { return static_cast<uint32_t>(_mm_movemask_epi8(v)); }

    static PENNARO_SIMD I add32(I a, I b) { return _mm_add_epi32(a, b); }
    static PENNARO_SIMD I sub32(I a, I b) { return _mm_sub_epi32(a, b); }
    static PENNARO_SIMD I add16(I a, I b) { return _mm_add_epi16(a, b); }
    static PENNARO_SIMD I sub16(I a, I b) { return _mm_sub_epi16(a, b); }
    static PENNARO_SIMD I shl32(I a, int n) { return _mm_slli_epi32(a, n); }
    static PENNARO_SIMD I shr32(I a, int n) { return _mm_srli_epi32(a, n); }
    static PENNARO_SIMD I shl16(I a, int n) { return _mm_slli_epi16(a, n); }
    static PENNARO_SIMD I shr16(I a, int n) { return _mm_srli_epi16(a, n); }
    static PENNARO_SIMD I mullo16(I a, I b) { return _mm_mullo_epi16(a, b); }
    static PENNARO_SIMD I mulhiU16(I a, I b) { return _mm_mulhi_epu16(a, b); }
    static PENNARO_SIMD I sub8(I a, I b) { return _mm_sub_epi8(a, b); }
    static PENNARO_SIMD I cmpeq8(I a, I b) { return _mm_cmpeq_epi8(a, b); }
    // Bytes c with lo <= c <= hi (unsigned).
    static PENNARO_SIMD I inRange8(I c, uint8_t lo, uint8_t hi) {
        const I t = _mm_sub_epi8(c, set8(lo));
        return _mm_cmpeq_epi8(_mm_min_epu8(t, set8(static_cast<uint8_t>(hi - lo))), t);
    }
    static PENNARO_SIMD I cmpeq32(I a, I b) { return _mm_cmpeq_epi32(a, b); }
    static PENNARO_SIMD I cmpgt32(I a, I b) { return _mm_cmpgt_epi32(a, b); }
    static PENNARO_SIMD I cmpeq16(I a, I b) { return _mm_cmpeq_epi16(a, b); }
    static PENNARO_SIMD I cmpgt16(I a, I b) { return _mm_cmpgt_epi16(a, b); }
    static PENNARO_SIMD I subsU16(I a, I b) { return _mm_subs_epu16(a, b); }
    static PENNARO_SIMD I minU8(I a, I b) { return _mm_min_epu8(a, b); }
    static PENNARO_SIMD I maxU8(I a, I b) { return _mm_max_epu8(a, b); }
    // Unsigned 16-bit min and max through the signed ones.
    static PENNARO_SIMD I minU16(I a, I b) {
        const I flip = _mm_set1_epi16(-32768);
        return _mm_xor_si128(_mm_min_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip)), flip);
    }
    static PENNARO_SIMD I maxU16(I a, I b) {
        const I flip = _mm_set1_epi16(-32768);
        return _mm_xor_si128(_mm_max_epi16(_mm_xor_si128(a, flip), _mm_xor_si128(b, flip)), flip);
    }
    static PENNARO_SIMD I unpacklo16(I a, I b) { return _mm_unpacklo_epi16(a, b); }
    static PENNARO_SIMD I unpackhi16(I a, I b) { return _mm_unpackhi_epi16(a, b); }
    // 32-bit lanes holding 0..65535 to 16-bit lanes (SSE2 packs signed).
    static PENNARO_SIMD I packU32(I lo, I hi) {
        const I bias = _mm_set1_epi32(32768);
        return _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(lo, bias), _mm_sub_epi32(hi, bias)),
                             _mm_set1_epi16(-32768));
    }
    // Byte k of every 32-bit lane, zero-extended.
    static PENNARO_SIMD I byteOfLane(I v, int k) { return _mm_and_si128(_mm_srli_epi32(v, 8 * k), _mm_set1_epi32(0xFF)); }
    // Each 16-bit pixel's alpha (its first lane) copied to its four lanes.
    static PENNARO_SIMD I spreadAlpha16(I v) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0), 0); }
    // The even 32-bit lanes of a, then those of b: the first halves of the
    // four 16-bit pixels held in a and b.
    static PENNARO_SIMD I evenLanes(I a, I b) {
        return _mm_unpacklo_epi64(_mm_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0)),
                                  _mm_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    // Lanes 0, 1 (half 0) or 2, 3 (half 1) each widened to 64 bits: a
    // per-pixel value back over the two pixels of one register.
    template <int half>
    static PENNARO_SIMD I widenHalf(I v) {
        return half ? _mm_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 2, 2)) : _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 1, 0, 0));
    }
    // Each even 32-bit lane copied over the odd one after it.
    static PENNARO_SIMD I dupEvenLanes(I v) { return _mm_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 0, 0)); }
    // Per-pixel values in columns' order, reordered as evenLanes leaves the
    // pixels: here that order already.
    static PENNARO_SIMD F pixelOrder(F v) { return v; }
    static PENNARO_SIMD I pixelOrder(I v) { return v; }

    // The pairing the 16-bit dab rows use. interleaveAlphas16 puts the
    // alphas of a's pixels in the even 32-bit lanes and b's in the odd ones
    // (a holds pixels 0, 1 and b pixels 2, 3: the order 0, 2, 1, 3), so a
    // lane's result goes back to its pixel with at most a shift (pixelsOf),
    // and a per-pixel mask with one shuffle (pixelMask).
    static PENNARO_SIMD I interleaveAlphas16(I a, I b) {
        const I low = _mm_set1_epi64x(0xFFFF);
        return _mm_or_si128(_mm_and_si128(a, low), _mm_slli_epi64(_mm_and_si128(b, low), 32));
    }
    static PENNARO_SIMD F pairedColumns(F v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(3, 1, 2, 0)); }
    template <int half>
    static PENNARO_SIMD I pixelsOf(I v) { return half ? _mm_srli_epi64(v, 32) : v; }
    template <int half>
    static PENNARO_SIMD I pixelMask(I m) {
        return half ? _mm_shuffle_epi32(m, _MM_SHUFFLE(3, 3, 1, 1)) : _mm_shuffle_epi32(m, _MM_SHUFFLE(2, 2, 0, 0));
    }
    // The low 16 bits of every 64-bit lane of v as the alphas of the pixels of p.
    static PENNARO_SIMD I setAlphaWords(I p, I v) { return select(_mm_set1_epi64x(0xFFFF), v, p); }

    static PENNARO_SIMD F toFloat(I v) { return _mm_cvtepi32_ps(v); }
    // Truncation toward zero; 0x80000000 for NaN and out-of-range lanes.
    static PENNARO_SIMD I truncRaw(F v) { return _mm_cvttps_epi32(v); }
    // truncToInt32 of every lane, guards included: cvttps gives 0x80000000
    // for NaN and for every lane outside the 32-bit range; the lanes at or
    // above 2^31 are turned into INT32_MAX and the NaN lanes into 0, as the
    // scalar form gives.
    static PENNARO_SIMD I truncToInt32(F v) {
        const I t = _mm_xor_si128(_mm_cvttps_epi32(v), _mm_castps_si128(_mm_cmpge_ps(v, _mm_set1_ps(2147483648.0f))));
        return _mm_and_si128(t, _mm_castps_si128(_mm_cmpord_ps(v, v)));
    }
    static PENNARO_SIMD F addf(F a, F b) { return _mm_add_ps(a, b); }
    static PENNARO_SIMD F subf(F a, F b) { return _mm_sub_ps(a, b); }
    static PENNARO_SIMD F mulf(F a, F b) { return _mm_mul_ps(a, b); }
    static PENNARO_SIMD F divf(F a, F b) { return _mm_div_ps(a, b); }
    static PENNARO_SIMD F absf(F v) { return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff))); }
    static PENNARO_SIMD F andnotf(I mask, F v) { return _mm_andnot_ps(_mm_castsi128_ps(mask), v); }
    static PENNARO_SIMD I ltf(F a, F b) { return _mm_castps_si128(_mm_cmplt_ps(a, b)); }
    static PENNARO_SIMD I gtf(F a, F b) { return _mm_castps_si128(_mm_cmpgt_ps(a, b)); }
    static PENNARO_SIMD I gef(F a, F b) { return _mm_castps_si128(_mm_cmpge_ps(a, b)); }
};

}  // namespace pennaro::simd

#if PENNARO_HAVE_AVX2
PENNARO_AVX2_BEGIN
namespace pennaro::simd {

struct V256 {
    using I = __m256i;
    using F = __m256;
    using Half = V128;  // for the pixels left over from full registers
    static constexpr int32_t kLanes = 8;
    static constexpr bool kWide = true;
    static constexpr bool kMul32 = true;

    static PENNARO_SIMD I load(const void *p) { return _mm256_loadu_si256(static_cast<const __m256i *>(p)); }
    static PENNARO_SIMD void store(void *p, I v) { _mm256_storeu_si256(static_cast<__m256i *>(p), v); }
    static PENNARO_SIMD F loadf(const float *p) { return _mm256_loadu_ps(p); }
    static PENNARO_SIMD void storef(float *p, F v) { _mm256_storeu_ps(p, v); }
    static PENNARO_SIMD I zero() { return _mm256_setzero_si256(); }
    static PENNARO_SIMD I set32(int32_t v) { return _mm256_set1_epi32(v); }
    static PENNARO_SIMD I set16(int16_t v) { return _mm256_set1_epi16(v); }
    static PENNARO_SIMD I set64(int64_t v) { return _mm256_set1_epi64x(v); }
    static PENNARO_SIMD I set8(uint8_t v) { return _mm256_set1_epi8(static_cast<char>(v)); }
    // The same sixteen bytes in both halves.
    static PENNARO_SIMD I broadcast(Half::I v) { return _mm256_broadcastsi128_si256(v); }
    static PENNARO_SIMD I iota32(int32_t x) {
        return _mm256_add_epi32(_mm256_set1_epi32(x), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }
    static PENNARO_SIMD F setf(float v) { return _mm256_set1_ps(v); }

    static PENNARO_SIMD I and_(I a, I b) { return _mm256_and_si256(a, b); }
    static PENNARO_SIMD I or_(I a, I b) { return _mm256_or_si256(a, b); }
    static PENNARO_SIMD I xor_(I a, I b) { return _mm256_xor_si256(a, b); }
    static PENNARO_SIMD I andnot(I mask, I v) { return _mm256_andnot_si256(mask, v); }
    // Masks are whole lanes of ones or zeros, so a byte blend selects them.
    static PENNARO_SIMD I select(I mask, I yes, I no) { return _mm256_blendv_epi8(no, yes, mask); }
    static PENNARO_SIMD bool any(I mask) { return !_mm256_testz_si256(mask, mask); }
    static PENNARO_SIMD bool all(I mask) { return _mm256_movemask_epi8(mask) == -1; }
    static PENNARO_SIMD uint32_t byteMask(I v) { return static_cast<uint32_t>(_mm256_movemask_epi8(v)); }

    static PENNARO_SIMD I add32(I a, I b) { return _mm256_add_epi32(a, b); }
    static PENNARO_SIMD I sub32(I a, I b) { return _mm256_sub_epi32(a, b); }
    static PENNARO_SIMD I add16(I a, I b) { return _mm256_add_epi16(a, b); }
    static PENNARO_SIMD I sub16(I a, I b) { return _mm256_sub_epi16(a, b); }
    static PENNARO_SIMD I shl32(I a, int n) { return _mm256_slli_epi32(a, n); }
    static PENNARO_SIMD I shr32(I a, int n) { return _mm256_srli_epi32(a, n); }
    static PENNARO_SIMD I shl16(I a, int n) { return _mm256_slli_epi16(a, n); }
    static PENNARO_SIMD I shr16(I a, int n) { return _mm256_srli_epi16(a, n); }
    static PENNARO_SIMD I mullo16(I a, I b) { return _mm256_mullo_epi16(a, b); }
    static PENNARO_SIMD I mulhiU16(I a, I b) { return _mm256_mulhi_epu16(a, b); }
    static PENNARO_SIMD I mullo32(I a, I b) { return _mm256_mullo_epi32(a, b); }
    static PENNARO_SIMD I cmpeq8(I a, I b) { return _mm256_cmpeq_epi8(a, b); }
    // Byte k of each half of `table`, for k the low four bits of each byte
    // of `index` within the same half (0 where its top bit is set).
    static PENNARO_SIMD I lookup16(I table, I index) { return _mm256_shuffle_epi8(table, index); }
    static PENNARO_SIMD I cmpeq32(I a, I b) { return _mm256_cmpeq_epi32(a, b); }
    static PENNARO_SIMD I cmpgt32(I a, I b) { return _mm256_cmpgt_epi32(a, b); }
    static PENNARO_SIMD I cmpeq16(I a, I b) { return _mm256_cmpeq_epi16(a, b); }
    static PENNARO_SIMD I cmpgt16(I a, I b) { return _mm256_cmpgt_epi16(a, b); }
    static PENNARO_SIMD I subsU16(I a, I b) { return _mm256_subs_epu16(a, b); }
    static PENNARO_SIMD I minU8(I a, I b) { return _mm256_min_epu8(a, b); }
    static PENNARO_SIMD I maxU8(I a, I b) { return _mm256_max_epu8(a, b); }
    static PENNARO_SIMD I minU16(I a, I b) { return _mm256_min_epu16(a, b); }
    static PENNARO_SIMD I maxU16(I a, I b) { return _mm256_max_epu16(a, b); }
    // Unpacking and packing work within each 128-bit half, so every lane
    // meets the same partners as in V128's.
    static PENNARO_SIMD I unpacklo16(I a, I b) { return _mm256_unpacklo_epi16(a, b); }
    static PENNARO_SIMD I unpackhi16(I a, I b) { return _mm256_unpackhi_epi16(a, b); }
    static PENNARO_SIMD I packU32(I lo, I hi) { return _mm256_packus_epi32(lo, hi); }
    static PENNARO_SIMD I byteOfLane(I v, int k) {
        const char c = char(k), z = char(-128);
        return _mm256_shuffle_epi8(v, _mm256_setr_epi8(c, z, z, z, char(4 + c), z, z, z, char(8 + c), z, z, z,
                                                       char(12 + c), z, z, z, c, z, z, z, char(4 + c), z, z, z,
                                                       char(8 + c), z, z, z, char(12 + c), z, z, z));
    }
    static PENNARO_SIMD I spreadAlpha16(I v) { return _mm256_shufflehi_epi16(_mm256_shufflelo_epi16(v, 0), 0); }
    // The 16-bit pixel helpers of V128, each 128-bit half on its own: a holds
    // pixels 0, 1 | 2, 3 and b pixels 4, 5 | 6, 7, so evenLanes gives their
    // first halves in the order 0, 1, 4, 5 | 2, 3, 6, 7, and widenHalf<0>
    // (<1>) spreads such a register back over the pixels of a (of b). Only
    // values that come per column from memory need reordering (pixelOrder):
    // one crossing of the halves per eight pixels instead of three.
    static PENNARO_SIMD I evenLanes(I a, I b) {
        return _mm256_unpacklo_epi64(_mm256_shuffle_epi32(a, _MM_SHUFFLE(3, 1, 2, 0)),
                                     _mm256_shuffle_epi32(b, _MM_SHUFFLE(3, 1, 2, 0)));
    }
    template <int half>
    static PENNARO_SIMD I widenHalf(I v) {
        return half ? _mm256_shuffle_epi32(v, _MM_SHUFFLE(3, 3, 2, 2)) : _mm256_shuffle_epi32(v, _MM_SHUFFLE(1, 1, 0, 0));
    }
    static PENNARO_SIMD I dupEvenLanes(I v) { return _mm256_shuffle_epi32(v, _MM_SHUFFLE(2, 2, 0, 0)); }
    static PENNARO_SIMD F pixelOrder(F v) {
        return _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), _MM_SHUFFLE(3, 1, 2, 0)));
    }
    static PENNARO_SIMD I pixelOrder(I v) { return _mm256_permute4x64_epi64(v, _MM_SHUFFLE(3, 1, 2, 0)); }
    // V128's pairing within each half: a holds pixels 0, 1 | 2, 3 and b
    // 4, 5 | 6, 7, so the lanes hold 0, 4, 1, 5 | 2, 6, 3, 7.
    static PENNARO_SIMD I interleaveAlphas16(I a, I b) {
        return _mm256_and_si256(_mm256_blend_epi16(a, _mm256_slli_epi64(b, 32), 0x44), _mm256_set1_epi32(0xFFFF));
    }
    static PENNARO_SIMD F pairedColumns(F v) {
        return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    }
    template <int half>
    static PENNARO_SIMD I pixelsOf(I v) { return half ? _mm256_srli_epi64(v, 32) : v; }
    template <int half>
    static PENNARO_SIMD I pixelMask(I m) {
        return half ? _mm256_shuffle_epi32(m, _MM_SHUFFLE(3, 3, 1, 1)) : _mm256_shuffle_epi32(m, _MM_SHUFFLE(2, 2, 0, 0));
    }
    static PENNARO_SIMD I setAlphaWords(I p, I v) { return _mm256_blend_epi16(p, v, 0x11); }

    static PENNARO_SIMD F toFloat(I v) { return _mm256_cvtepi32_ps(v); }
    static PENNARO_SIMD I truncRaw(F v) { return _mm256_cvttps_epi32(v); }
    static PENNARO_SIMD I truncToInt32(F v) {
        const I t = _mm256_xor_si256(_mm256_cvttps_epi32(v),
                                     _mm256_castps_si256(_mm256_cmp_ps(v, _mm256_set1_ps(2147483648.0f), _CMP_GE_OQ)));
        return _mm256_and_si256(t, _mm256_castps_si256(_mm256_cmp_ps(v, v, _CMP_ORD_Q)));
    }
    static PENNARO_SIMD F addf(F a, F b) { return _mm256_add_ps(a, b); }
    static PENNARO_SIMD F subf(F a, F b) { return _mm256_sub_ps(a, b); }
    static PENNARO_SIMD F mulf(F a, F b) { return _mm256_mul_ps(a, b); }
    static PENNARO_SIMD F divf(F a, F b) { return _mm256_div_ps(a, b); }
    static PENNARO_SIMD F absf(F v) { return _mm256_and_ps(v, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff))); }
    static PENNARO_SIMD F andnotf(I mask, F v) { return _mm256_andnot_ps(_mm256_castsi256_ps(mask), v); }
    static PENNARO_SIMD I ltf(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_LT_OQ)); }
    static PENNARO_SIMD I gtf(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GT_OQ)); }
    static PENNARO_SIMD I gef(F a, F b) { return _mm256_castps_si256(_mm256_cmp_ps(a, b, _CMP_GE_OQ)); }
};

}  // namespace pennaro::simd
PENNARO_AVX2_END
#endif  // PENNARO_HAVE_AVX2

#endif  // PENNARO_HAVE_SSE2
