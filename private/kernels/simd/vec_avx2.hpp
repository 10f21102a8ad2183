// Four-lane double vectors for processors with AVX2: the same operations as
// simd_sse2::Vec, lane for lane the same results. Only the translation unit
// compiled with -mavx2 includes this header, and only through its own
// namespace (see vec_sse2.hpp on why). No fused multiply-add is ever formed:
// that unit is compiled without -mfma and with -ffp-contract=off.
#ifndef AXISWARP_KERNELS_SIMD_VEC_AVX2_HPP
#define AXISWARP_KERNELS_SIMD_VEC_AVX2_HPP

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace axiswarp::simd_avx2 {

struct Vec {
    using D = __m256d;
    // The types with loads and stores here; the 64-bit integers have no exact
    // conversion at this width and stay with the plain kernels.
    template <class E>
    static constexpr bool serves = sizeof(E) < 8 || std::is_floating_point_v<E>;
    static constexpr std::uint64_t lanes = 4;

    static D zero() noexcept { return _mm256_setzero_pd(); }
    static D broadcast(double value) noexcept { return _mm256_set1_pd(value); }
    static D add(D a, D b) noexcept { return _mm256_add_pd(a, b); }
    static D mul(D a, D b) noexcept { return _mm256_mul_pd(a, b); }

    static void prefetch(const void* p) noexcept { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

    // m[k] lane l becomes m[l] lane k.
    static void transpose(D (&m)[lanes]) noexcept {
        const D even01 = _mm256_unpacklo_pd(m[0], m[1]);  // m0[0] m1[0] m0[2] m1[2]
        const D odd01 = _mm256_unpackhi_pd(m[0], m[1]);   // m0[1] m1[1] m0[3] m1[3]
        const D even23 = _mm256_unpacklo_pd(m[2], m[3]);
        const D odd23 = _mm256_unpackhi_pd(m[2], m[3]);
        m[0] = _mm256_permute2f128_pd(even01, even23, 0x20);
        m[1] = _mm256_permute2f128_pd(odd01, odd23, 0x20);
        m[2] = _mm256_permute2f128_pd(even01, even23, 0x31);
        m[3] = _mm256_permute2f128_pd(odd01, odd23, 0x31);
    }

    // ---- element loads: `lanes` consecutive elements, each converted exactly.

    static D load(const double* p) noexcept { return _mm256_loadu_pd(p); }
    static D load(const float* p) noexcept { return _mm256_cvtps_pd(_mm_loadu_ps(p)); }
    static D load(const std::int32_t* p) noexcept {
        return _mm256_cvtepi32_pd(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    }
    // Flipping the top bit maps u to the int32 u - 2^31; both the conversion
    // and adding 2^31 back are exact below 2^53.
    static D load(const std::uint32_t* p) noexcept {
        const __m128i flipped = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                              _mm_set1_epi32(INT32_MIN));
        return _mm256_add_pd(_mm256_cvtepi32_pd(flipped), _mm256_set1_pd(0x1p31));
    }
    static D load(const std::uint16_t* p) noexcept {
        return _mm256_cvtepi32_pd(_mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::int16_t* p) noexcept {
        return _mm256_cvtepi32_pd(_mm_cvtepi16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::uint8_t* p) noexcept {
        return _mm256_cvtepi32_pd(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(loadFourBytes(p))));
    }
    static D load(const std::int8_t* p) noexcept {
        return _mm256_cvtepi32_pd(_mm_cvtepi8_epi32(_mm_cvtsi32_si128(loadFourBytes(p))));
    }


    // ---- stores of finished sums.

    static void store(double* p, D sum) noexcept { _mm256_storeu_pd(p, sum); }
    // Rounds to nearest even under the default environment and overflows to
    // the infinity of the sign exactly where that rounding leaves the single
    // range; NaN stays NaN.
    static void store(float* p, D sum) noexcept { _mm_storeu_ps(p, _mm256_cvtpd_ps(sum)); }
    static void store(std::int32_t* p, D sum) noexcept {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p),
                         truncateClamped(signedOffset(sum), -2147483648.0, 2147483647.0));
    }
    static void store(std::int16_t* p, D sum) noexcept {
        storeLow16(p, truncateClamped(signedOffset(sum), -32768.0, 32767.0));
    }
    static void store(std::int8_t* p, D sum) noexcept {
        storeLow8(p, truncateClamped(signedOffset(sum), -128.0, 127.0));
    }
    static void store(std::uint16_t* p, D sum) noexcept {
        storeLow16(p, truncateClamped(_mm256_add_pd(sum, _mm256_set1_pd(0.5)), 0.0, 65535.0));
    }
    static void store(std::uint8_t* p, D sum) noexcept {
        storeLow8(p, truncateClamped(_mm256_add_pd(sum, _mm256_set1_pd(0.5)), 0.0, 255.0));
    }
    // The 32-bit truncation covers only the signed range: the clamped v is
    // truncated exactly in double first, then moved down by 2^31 (an exact
    // integer subtraction) and the top bit flipped back. A NaN v is sent to 0
    // by the clamp, which returns its second operand when one is NaN.
    static void store(std::uint32_t* p, D sum) noexcept {
        const D v = _mm256_add_pd(sum, _mm256_set1_pd(0.5));
        const D clamped = _mm256_min_pd(_mm256_max_pd(v, _mm256_setzero_pd()), _mm256_set1_pd(4294967295.0));
        const D whole = _mm256_round_pd(clamped, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        const __m128i shifted = _mm256_cvttpd_epi32(_mm256_sub_pd(whole, _mm256_set1_pd(0x1p31)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm_xor_si128(shifted, _mm_set1_epi32(INT32_MIN)));
    }

private:
    template <class T>
    static int loadFourBytes(const T* p) noexcept {
        std::uint32_t bits = 0;
        std::memcpy(&bits, p, 4);
        return static_cast<int>(bits);
    }

    // +0.5, or -0.5 for a negative sum; -0.0 and NaN take +0.5.
    static D signedOffset(D sum) noexcept {
        const D negative = _mm256_cmp_pd(sum, _mm256_setzero_pd(), _CMP_LT_OQ);
        return _mm256_add_pd(sum, _mm256_or_pd(_mm256_set1_pd(0.5), _mm256_and_pd(negative, _mm256_set1_pd(-0.0))));
    }

    // Saturation by clamping gives the same integer as the bound tests, since
    // every v beyond a bound truncates to that bound anyway. The bounds are the
    // first operands so that a NaN v passes through both (they return their
    // second operand when one is NaN) and the truncation turns it into
    // INT32_MIN, whose low bits are the value each type stores for NaN.
    static __m128i truncateClamped(D v, double lower, double upper) noexcept {
        return _mm256_cvttpd_epi32(_mm256_min_pd(_mm256_set1_pd(upper), _mm256_max_pd(_mm256_set1_pd(lower), v)));
    }

    // The low 16 or 8 bits of each 32-bit lane, packed by a byte shuffle (not
    // a saturating pack, which would turn the NaN lanes' INT32_MIN into the
    // type's minimum instead of its low bits).
    template <class T>
    static void storeLow16(T* p, __m128i lanes32) noexcept {
        const __m128i order = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, -1, -1, -1, -1, -1, -1, -1, -1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_shuffle_epi8(lanes32, order));
    }
    template <class T>
    static void storeLow8(T* p, __m128i lanes32) noexcept {
        const __m128i order = _mm_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
        const auto bits = static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_shuffle_epi8(lanes32, order)));
        std::memcpy(p, &bits, 4);
    }
};

}  // namespace axiswarp::simd_avx2

#endif  // AXISWARP_KERNELS_SIMD_VEC_AVX2_HPP
