// Two-lane double vectors on the x86-64 baseline (SSE2): the loads that turn
// consecutive elements into doubles and the stores that round and saturate
// doubles into elements, with the same results as toDoubleSample and
// saturateRound lane by lane.
//
// Everything here lives in its own namespace so that no inline symbol is
// shared with the AVX2 translation unit: the linker may keep either copy of a
// shared inline function, and an AVX2 copy must never serve the baseline path.
#ifndef AXISWARP_KERNELS_SIMD_VEC_SSE2_HPP
#define AXISWARP_KERNELS_SIMD_VEC_SSE2_HPP

#include <emmintrin.h>

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace axiswarp::simd_sse2 {

struct Vec {
    using D = __m128d;
    // The types with loads and stores here; the 64-bit integers have no exact
    // conversion at this width and stay with the plain kernels.
    template <class E>
    static constexpr bool serves = sizeof(E) < 8 || std::is_floating_point_v<E>;
    static constexpr std::uint64_t lanes = 2;

    static D zero() noexcept { return _mm_setzero_pd(); }
    static D broadcast(double value) noexcept { return _mm_set1_pd(value); }
    static D add(D a, D b) noexcept { return _mm_add_pd(a, b); }
    static D mul(D a, D b) noexcept { return _mm_mul_pd(a, b); }

    static void prefetch(const void* p) noexcept { _mm_prefetch(static_cast<const char*>(p), _MM_HINT_T0); }

    // m[k] lane l becomes m[l] lane k.
    static void transpose(D (&m)[lanes]) noexcept {
        const D first = _mm_unpacklo_pd(m[0], m[1]);
        m[1] = _mm_unpackhi_pd(m[0], m[1]);
        m[0] = first;
    }

    // ---- element loads: `lanes` consecutive elements, each converted exactly.

    static D load(const double* p) noexcept { return _mm_loadu_pd(p); }
    static D load(const float* p) noexcept {
        return _mm_cvtps_pd(_mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p))));
    }
    static D load(const std::int32_t* p) noexcept {
        return _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
    }
    // Flipping the top bit maps u to the int32 u - 2^31; both the conversion
    // and adding 2^31 back are exact below 2^53.
    static D load(const std::uint32_t* p) noexcept {
        const __m128i flipped = _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                              _mm_set1_epi32(INT32_MIN));
        return _mm_add_pd(_mm_cvtepi32_pd(flipped), _mm_set1_pd(0x1p31));
    }
    static D load(const std::uint16_t* p) noexcept {
        const __m128i x = _mm_cvtsi32_si128(loadBytes<4>(p));
        return _mm_cvtepi32_pd(_mm_unpacklo_epi16(x, _mm_setzero_si128()));
    }
    static D load(const std::int16_t* p) noexcept {
        const __m128i x = _mm_cvtsi32_si128(loadBytes<4>(p));
        return _mm_cvtepi32_pd(_mm_srai_epi32(_mm_unpacklo_epi16(x, x), 16));
    }
    static D load(const std::uint8_t* p) noexcept {
        const __m128i x = _mm_cvtsi32_si128(loadBytes<2>(p));
        const __m128i zero = _mm_setzero_si128();
        return _mm_cvtepi32_pd(_mm_unpacklo_epi16(_mm_unpacklo_epi8(x, zero), zero));
    }
    static D load(const std::int8_t* p) noexcept {
        const __m128i x = _mm_cvtsi32_si128(loadBytes<2>(p));
        const __m128i bytes = _mm_unpacklo_epi8(x, x);
        return _mm_cvtepi32_pd(_mm_srai_epi32(_mm_unpacklo_epi16(bytes, bytes), 24));
    }


    // ---- stores of finished sums.

    static void store(double* p, D sum) noexcept { _mm_storeu_pd(p, sum); }
    // The hardware conversion rounds to nearest even under the default
    // environment and overflows to the infinity of the sign exactly where
    // that rounding leaves the single range; NaN stays NaN.
    static void store(float* p, D sum) noexcept {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(p), _mm_castps_si128(_mm_cvtpd_ps(sum)));
    }
    static void store(std::int32_t* p, D sum) noexcept {
        storeLowBits(p, truncateClamped(signedOffset(sum), -2147483648.0, 2147483647.0));
    }
    static void store(std::int16_t* p, D sum) noexcept {
        storeLowBits(p, truncateClamped(signedOffset(sum), -32768.0, 32767.0));
    }
    static void store(std::int8_t* p, D sum) noexcept {
        storeLowBits(p, truncateClamped(signedOffset(sum), -128.0, 127.0));
    }
    static void store(std::uint16_t* p, D sum) noexcept {
        storeLowBits(p, truncateClamped(_mm_add_pd(sum, _mm_set1_pd(0.5)), 0.0, 65535.0));
    }
    static void store(std::uint8_t* p, D sum) noexcept {
        storeLowBits(p, truncateClamped(_mm_add_pd(sum, _mm_set1_pd(0.5)), 0.0, 255.0));
    }
    // The 32-bit truncation covers only the signed range, so values from 2^31
    // on are brought below it by subtracting 2^31 (exact there: the operands
    // are within a factor of two) and the top bit is put back as an integer.
    // A NaN v is sent to 0 by the clamp, which returns its second operand when
    // one is NaN.
    static void store(std::uint32_t* p, D sum) noexcept {
        const D v = _mm_add_pd(sum, _mm_set1_pd(0.5));
        const D clamped = _mm_min_pd(_mm_max_pd(v, _mm_setzero_pd()), _mm_set1_pd(4294967295.0));
        const D high = _mm_cmpge_pd(clamped, _mm_set1_pd(0x1p31));
        const D reduced = _mm_sub_pd(clamped, _mm_and_pd(high, _mm_set1_pd(0x1p31)));
        const std::uint64_t both = lowHalf(_mm_cvttpd_epi32(reduced));
        const int highBits = _mm_movemask_pd(high);
        p[0] = static_cast<std::uint32_t>(both) | ((highBits & 1) != 0 ? 0x80000000u : 0u);
        p[1] = static_cast<std::uint32_t>(both >> 32) | ((highBits & 2) != 0 ? 0x80000000u : 0u);
    }

private:
    template <std::size_t Bytes, class T>
    static int loadBytes(const T* p) noexcept {
        std::uint32_t bits = 0;
        std::memcpy(&bits, p, Bytes);
        return static_cast<int>(bits);
    }

    // The low 64 bits of a vector, through memory: the direct move to a
    // 64-bit register exists only on x86-64, and 32-bit builds use this unit
    // too. Compilers turn it into that move where there is one.
    static std::uint64_t lowHalf(__m128i v) noexcept {
        std::uint64_t bits = 0;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(&bits), v);
        return bits;
    }

    // +0.5, or -0.5 for a negative sum; -0.0 and NaN take +0.5.
    static D signedOffset(D sum) noexcept {
        const D negative = _mm_cmplt_pd(sum, _mm_setzero_pd());
        return _mm_add_pd(sum, _mm_or_pd(_mm_set1_pd(0.5), _mm_and_pd(negative, _mm_set1_pd(-0.0))));
    }

    // Saturation by clamping gives the same integer as the bound tests, since
    // every v beyond a bound truncates to that bound anyway. The bounds are the
    // first operands so that a NaN v passes through both (they return their
    // second operand when one is NaN) and the truncation turns it into
    // INT32_MIN, whose low bits are the value each type stores for NaN.
    static __m128i truncateClamped(D v, double lower, double upper) noexcept {
        return _mm_cvttpd_epi32(_mm_min_pd(_mm_set1_pd(upper), _mm_max_pd(_mm_set1_pd(lower), v)));
    }

    // Each 32-bit lane, already inside T's range (or INT32_MIN for NaN),
    // keeps its low bits.
    template <class T>
    static void storeLowBits(T* p, __m128i lanes32) noexcept {
        const std::uint64_t both = lowHalf(lanes32);
        p[0] = static_cast<T>(static_cast<std::uint32_t>(both));
        p[1] = static_cast<T>(static_cast<std::uint32_t>(both >> 32));
    }
};

}  // namespace axiswarp::simd_sse2

#endif  // AXISWARP_KERNELS_SIMD_VEC_SSE2_HPP
