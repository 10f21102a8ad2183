// Eight-lane double vectors for processors with AVX-512 F, DQ, BW and VL:
// the same operations as simd_sse2::Vec, lane for lane the same results, and
// the two 64-bit integer types besides. Only the translation unit compiled
// with the AVX-512 flags includes this header, through its own namespace
// (see vec_sse2.hpp on why). No fused multiply-add is ever formed: that unit
// is compiled without -mfma and with -ffp-contract=off.
#ifndef AXISWARP_KERNELS_SIMD_VEC_AVX512_HPP
#define AXISWARP_KERNELS_SIMD_VEC_AVX512_HPP

#include <immintrin.h>

#include <cstdint>
#include <cstring>

namespace axiswarp::simd_avx512 {

struct Vec {
    using D = __m512d;
    static constexpr std::uint64_t lanes = 8;
    // Every kernel element type, the 64-bit integers included.
    template <class E>
    static constexpr bool serves = true;

    static D zero() noexcept { return _mm512_setzero_pd(); }
    static D broadcast(double value) noexcept { return _mm512_set1_pd(value); }
    static D add(D a, D b) noexcept { return _mm512_add_pd(a, b); }
    static D mul(D a, D b) noexcept { return _mm512_mul_pd(a, b); }

    static void prefetch(const void* p) noexcept { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

    // m[k] lane l becomes m[l] lane k: pairs of lanes are interleaved, then
    // 128-bit quarters twice.
    static void transpose(D (&m)[lanes]) noexcept {
        D t[lanes];
        for (int k = 0; k < 8; k += 2) {
            t[k] = _mm512_unpacklo_pd(m[k], m[k + 1]);      // m_k[0] m_k+1[0] m_k[2] m_k+1[2] ...
            t[k + 1] = _mm512_unpackhi_pd(m[k], m[k + 1]);  // m_k[1] m_k+1[1] m_k[3] m_k+1[3] ...
        }
        // u holds, per quarter, the pairs of one lane: even/odd quarters of t.
        const D u0 = _mm512_shuffle_f64x2(t[0], t[2], 0x88);  // lanes 0, 4 of m0..m3
        const D u1 = _mm512_shuffle_f64x2(t[0], t[2], 0xDD);  // lanes 2, 6
        const D u2 = _mm512_shuffle_f64x2(t[1], t[3], 0x88);  // lanes 1, 5
        const D u3 = _mm512_shuffle_f64x2(t[1], t[3], 0xDD);  // lanes 3, 7
        const D u4 = _mm512_shuffle_f64x2(t[4], t[6], 0x88);  // the same of m4..m7
        const D u5 = _mm512_shuffle_f64x2(t[4], t[6], 0xDD);
        const D u6 = _mm512_shuffle_f64x2(t[5], t[7], 0x88);
        const D u7 = _mm512_shuffle_f64x2(t[5], t[7], 0xDD);
        m[0] = _mm512_shuffle_f64x2(u0, u4, 0x88);
        m[4] = _mm512_shuffle_f64x2(u0, u4, 0xDD);
        m[2] = _mm512_shuffle_f64x2(u1, u5, 0x88);
        m[6] = _mm512_shuffle_f64x2(u1, u5, 0xDD);
        m[1] = _mm512_shuffle_f64x2(u2, u6, 0x88);
        m[5] = _mm512_shuffle_f64x2(u2, u6, 0xDD);
        m[3] = _mm512_shuffle_f64x2(u3, u7, 0x88);
        m[7] = _mm512_shuffle_f64x2(u3, u7, 0xDD);
    }

    // ---- element loads: `lanes` consecutive elements, each converted as
    // toDoubleSample converts it.

    static D load(const double* p) noexcept { return _mm512_loadu_pd(p); }
    static D load(const float* p) noexcept { return _mm512_cvtps_pd(_mm256_loadu_ps(p)); }
    static D load(const std::int32_t* p) noexcept {
        return _mm512_cvtepi32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static D load(const std::uint32_t* p) noexcept {
        return _mm512_cvtepu32_pd(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    }
    static D load(const std::uint16_t* p) noexcept {
        return _mm512_cvtepi32_pd(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::int16_t* p) noexcept {
        return _mm512_cvtepi32_pd(_mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::uint8_t* p) noexcept {
        return _mm512_cvtepi32_pd(_mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::int8_t* p) noexcept {
        return _mm512_cvtepi32_pd(_mm256_cvtepi8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    // The signed conversion rounds to nearest, ties to even, under the
    // default environment: exactly static_cast<double> of the element.
    static D load(const std::int64_t* p) noexcept {
        return _mm512_cvtepi64_pd(_mm512_loadu_si512(p));
    }
    // The two-step rule: the bits read as signed and converted, then 2^64
    // added, one more rounding, in the lanes whose top bit is set. The
    // unsigned conversion instruction would round u to its nearest double
    // in one step, which differs (2^63 + 1025 gives 2^63 + 2048 there, 2^63
    // by the rule).
    static D load(const std::uint64_t* p) noexcept {
        const __m512i bits = _mm512_loadu_si512(p);
        const D asSigned = _mm512_cvtepi64_pd(bits);
        const __mmask8 high = _mm512_movepi64_mask(bits);
        return _mm512_mask_add_pd(asSigned, high, asSigned, _mm512_set1_pd(0x1p64));
    }

    // ---- stores of finished sums.

    static void store(double* p, D sum) noexcept { _mm512_storeu_pd(p, sum); }
    // Rounds to nearest even under the default environment and overflows to
    // the infinity of the sign exactly where that rounding leaves the single
    // range; NaN stays NaN.
    static void store(float* p, D sum) noexcept { _mm256_storeu_ps(p, _mm512_cvtpd_ps(sum)); }
    static void store(std::int32_t* p, D sum) noexcept {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p),
                            truncateClamped(signedOffset(sum), -2147483648.0, 2147483647.0));
    }
    // The narrow stores keep the low bits of each 32-bit lane (a truncating
    // pack, not a saturating one, which would turn the NaN lanes' INT32_MIN
    // into the type's minimum instead of its low bits).
    static void store(std::int16_t* p, D sum) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm256_cvtepi32_epi16(truncateClamped(signedOffset(sum), -32768.0, 32767.0)));
    }
    static void store(std::int8_t* p, D sum) noexcept {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p),
                         _mm256_cvtepi32_epi8(truncateClamped(signedOffset(sum), -128.0, 127.0)));
    }
    static void store(std::uint16_t* p, D sum) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         _mm256_cvtepi32_epi16(truncateClamped(_mm512_add_pd(sum, half()), 0.0, 65535.0)));
    }
    static void store(std::uint8_t* p, D sum) noexcept {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p),
                         _mm256_cvtepi32_epi8(truncateClamped(_mm512_add_pd(sum, half()), 0.0, 255.0)));
    }
    // The unsigned truncation covers the whole range. A NaN v is sent to 0
    // by the lower clamp, which returns its second operand when one is NaN
    // (the instruction would give all ones for NaN).
    static void store(std::uint32_t* p, D sum) noexcept {
        const D v = _mm512_add_pd(sum, half());
        const D clamped = _mm512_min_pd(_mm512_max_pd(v, _mm512_setzero_pd()), _mm512_set1_pd(4294967295.0));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), _mm512_cvttpd_epu32(clamped));
    }
    // The bound tests first, then truncation. The truncating conversion
    // gives INT64_MIN for every v it cannot represent: below -2^63 (the lower
    // bound's value), at or above 2^63 (replaced by INT64_MAX) and NaN (the
    // value stored for NaN).
    static void store(std::int64_t* p, D sum) noexcept {
        const D v = signedOffset(sum);
        const __m512i whole = _mm512_cvttpd_epi64(v);
        const __mmask8 above = _mm512_cmp_pd_mask(v, _mm512_set1_pd(0x1p63), _CMP_GE_OQ);
        _mm512_storeu_si512(p, _mm512_mask_mov_epi64(whole, above, _mm512_set1_epi64(INT64_MAX)));
    }
    // v below 0 stores 0, v at or above 2^64 the largest value, NaN 2^63;
    // every other v is in [0, 2^64) and truncates exactly.
    static void store(std::uint64_t* p, D sum) noexcept {
        const D v = _mm512_add_pd(sum, half());
        __m512i whole = _mm512_cvttpd_epu64(v);
        const __mmask8 below = _mm512_cmp_pd_mask(v, _mm512_setzero_pd(), _CMP_LT_OQ);
        const __mmask8 above = _mm512_cmp_pd_mask(v, _mm512_set1_pd(0x1p64), _CMP_GE_OQ);
        const __mmask8 nan = _mm512_cmp_pd_mask(v, v, _CMP_UNORD_Q);
        whole = _mm512_mask_mov_epi64(whole, below, _mm512_setzero_si512());
        whole = _mm512_mask_mov_epi64(whole, above, _mm512_set1_epi64(-1));
        whole = _mm512_mask_mov_epi64(whole, nan, _mm512_set1_epi64(INT64_MIN));
        _mm512_storeu_si512(p, whole);
    }

private:
    static D half() noexcept { return _mm512_set1_pd(0.5); }

    // +0.5, or -0.5 for a negative sum; -0.0 and NaN take +0.5.
    static D signedOffset(D sum) noexcept {
        const __mmask8 negative = _mm512_cmp_pd_mask(sum, _mm512_setzero_pd(), _CMP_LT_OQ);
        return _mm512_add_pd(sum, _mm512_mask_mov_pd(half(), negative, _mm512_set1_pd(-0.5)));
    }

    // Saturation by clamping gives the same integer as the bound tests, since
    // every v beyond a bound truncates to that bound anyway. The bounds are the
    // first operands so that a NaN v passes through both (they return their
    // second operand when one is NaN) and the truncation turns it into
    // INT32_MIN, whose low bits are the value each type stores for NaN.
    static __m256i truncateClamped(D v, double lower, double upper) noexcept {
        return _mm512_cvttpd_epi32(_mm512_min_pd(_mm512_set1_pd(upper), _mm512_max_pd(_mm512_set1_pd(lower), v)));
    }
};

}  // namespace axiswarp::simd_avx512

#endif  // AXISWARP_KERNELS_SIMD_VEC_AVX512_HPP
