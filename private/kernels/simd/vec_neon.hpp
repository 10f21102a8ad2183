// Two-lane double vectors for 64-bit Arm (Advanced SIMD, part of every
// aarch64 processor): the same operations as simd_sse2::Vec, lane for lane
// the same results as toDoubleSample and saturateRound, and the two 64-bit
// integer types besides, since aarch64 converts between doubles and 64-bit
// integers in vectors.
//
// aarch64 compilers contract a * b + c into one fused instruction unless told
// not to: this unit is compiled with -ffp-contract=off like every other, add
// and mul below are separate instructions, and scripts/cross-check.sh fails
// on any fused multiply-add in the module.
//
// Conversions use the processor's rounding as the default environment leaves
// it: integer to double and double to single round to nearest even (the
// conversions C++ performs in the plain kernels compile to the same
// instructions), double to integer truncates toward zero and saturates at the
// 64-bit limits.
#ifndef AXISWARP_KERNELS_SIMD_VEC_NEON_HPP
#define AXISWARP_KERNELS_SIMD_VEC_NEON_HPP

#include <arm_neon.h>

#include <cstdint>
#include <type_traits>

#include "kernels/sample_conversion.hpp"

namespace axiswarp::simd_neon {

struct Vec {
    using D = float64x2_t;
    static constexpr std::uint64_t lanes = 2;
    // Every kernel element type, the 64-bit integers included.
    template <class E>
    static constexpr bool serves = true;

    static D zero() noexcept { return vdupq_n_f64(0.0); }
    static D broadcast(double value) noexcept { return vdupq_n_f64(value); }
    static D add(D a, D b) noexcept { return vaddq_f64(a, b); }
    static D mul(D a, D b) noexcept { return vmulq_f64(a, b); }

    static void prefetch(const void* p) noexcept { __builtin_prefetch(p); }

    // m[k] lane l becomes m[l] lane k.
    static void transpose(D (&m)[lanes]) noexcept {
        const D first = vzip1q_f64(m[0], m[1]);
        m[1] = vzip2q_f64(m[0], m[1]);
        m[0] = first;
    }

    // ---- element loads: `lanes` consecutive elements, each converted exactly.
    // No load reads past the second element: the kernels load the last two
    // elements of a buffer this way.

    static D load(const double* p) noexcept { return vld1q_f64(p); }
    static D load(const float* p) noexcept { return vcvt_f64_f32(vld1_f32(p)); }
    static D load(const std::int32_t* p) noexcept { return vcvtq_f64_s64(vmovl_s32(vld1_s32(p))); }
    static D load(const std::uint32_t* p) noexcept { return vcvtq_f64_u64(vmovl_u32(vld1_u32(p))); }
    static D load(const std::int16_t* p) noexcept { return fromSigned(p[0], p[1]); }
    static D load(const std::uint16_t* p) noexcept { return fromUnsigned(p[0], p[1]); }
    static D load(const std::int8_t* p) noexcept { return fromSigned(p[0], p[1]); }
    static D load(const std::uint8_t* p) noexcept { return fromUnsigned(p[0], p[1]); }
    // Nearest double, ties to even, as static_cast<double> does.
    static D load(const std::int64_t* p) noexcept { return vcvtq_f64_s64(vld1q_s64(p)); }
    // The two steps of toDoubleSample: from 2^63 on, the element read as the
    // negative u - 2^64, rounded, and 2^64 added back in a second rounding.
    // Lanes below 2^63 add +0.0, which changes no double an integer gives.
    static D load(const std::uint64_t* p) noexcept {
        const int64x2_t asSigned = vld1q_s64(reinterpret_cast<const std::int64_t*>(p));
        const uint64x2_t high = vcltzq_s64(asSigned);
        const D back = vreinterpretq_f64_u64(vandq_u64(high, vreinterpretq_u64_f64(vdupq_n_f64(0x1p64))));
        return vaddq_f64(vcvtq_f64_s64(asSigned), back);
    }

    // ---- stores of finished sums.

    static void store(double* p, D sum) noexcept { vst1q_f64(p, sum); }
    // The narrowing rounds to nearest even and overflows to the infinity of
    // the sign exactly where that rounding leaves the single range, as the
    // plain kernels' explicit threshold does; NaN stays NaN.
    static void store(float* p, D sum) noexcept { vst1_f32(p, vcvt_f32_f64(sum)); }
    static void store(std::int64_t* p, D sum) noexcept { storeSigned(p, sum); }
    static void store(std::int32_t* p, D sum) noexcept { storeSigned(p, sum); }
    static void store(std::int16_t* p, D sum) noexcept { storeSigned(p, sum); }
    static void store(std::int8_t* p, D sum) noexcept { storeSigned(p, sum); }
    static void store(std::uint64_t* p, D sum) noexcept { storeUnsigned(p, sum); }
    static void store(std::uint32_t* p, D sum) noexcept { storeUnsigned(p, sum); }
    static void store(std::uint16_t* p, D sum) noexcept { storeUnsigned(p, sum); }
    static void store(std::uint8_t* p, D sum) noexcept { storeUnsigned(p, sum); }

private:
    template <class T>
    using Rule = conversion_detail::IntegerRule<T>;

    // Exact below 2^53, which every 8- and 16-bit element is.
    static D fromSigned(std::int64_t a, std::int64_t b) noexcept {
        return vcvtq_f64_s64(vsetq_lane_s64(b, vdupq_n_s64(a), 1));
    }
    static D fromUnsigned(std::uint64_t a, std::uint64_t b) noexcept {
        return vcvtq_f64_u64(vsetq_lane_u64(b, vdupq_n_u64(a), 1));
    }

    // v inside [lower, upper] of T, or NaN where v is NaN (the maximum and
    // minimum instructions return NaN when an operand is one). Any v beyond a
    // bound truncates to that bound anyway, so clamping gives the integer of
    // the plain kernels' bound tests. The 64-bit bounds 2^63 and 2^64 are one
    // past the maxima; there the conversion's own saturation gives the
    // maximum, as the plain kernels' inclusive test does.
    template <class T>
    static D clamped(D v) noexcept {
        return vminq_f64(vmaxq_f64(v, vdupq_n_f64(Rule<T>::lower)), vdupq_n_f64(Rule<T>::upper));
    }

    // Half away from zero: +0.5, or -0.5 for a negative sum; -0.0 and NaN
    // take +0.5. The conversion gives 0 for NaN; those lanes take the value
    // the plain kernels store for NaN instead.
    template <class T>
    static void storeSigned(T* p, D sum) noexcept {
        const uint64x2_t negative = vcltzq_f64(sum);
        const D v = vaddq_f64(sum, vbslq_f64(negative, vdupq_n_f64(-0.5), vdupq_n_f64(0.5)));
        const int64x2_t n = vbslq_s64(vceqq_f64(v, v), vcvtq_s64_f64(clamped<T>(v)),
                                      vdupq_n_s64(static_cast<std::int64_t>(Rule<T>::forNaN)));
        p[0] = static_cast<T>(vgetq_lane_s64(n, 0));
        p[1] = static_cast<T>(vgetq_lane_s64(n, 1));
    }

    // Half up.
    template <class T>
    static void storeUnsigned(T* p, D sum) noexcept {
        const D v = vaddq_f64(sum, vdupq_n_f64(0.5));
        const uint64x2_t n = vbslq_u64(vceqq_f64(v, v), vcvtq_u64_f64(clamped<T>(v)),
                                       vdupq_n_u64(static_cast<std::uint64_t>(Rule<T>::forNaN)));
        p[0] = static_cast<T>(vgetq_lane_u64(n, 0));
        p[1] = static_cast<T>(vgetq_lane_u64(n, 1));
    }
};

}  // namespace axiswarp::simd_neon

#endif  // AXISWARP_KERNELS_SIMD_VEC_NEON_HPP
