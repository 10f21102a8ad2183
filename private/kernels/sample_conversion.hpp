// The two conversions at either end of an output sample: an input element to
// the double it enters the weighted sum as, and the finished double sum to the
// output element. Everything in between is double arithmetic.
#ifndef AXISWARP_KERNELS_SAMPLE_CONVERSION_HPP
#define AXISWARP_KERNELS_SAMPLE_CONVERSION_HPP

#include <cmath>
#include <cstdint>
#include <limits>

#include "kernels/element_types.hpp"

namespace axiswarp {

// ---------------------------------------------------------------------------
// Element to double.

constexpr double toDoubleSample(double element) noexcept { return element; }
// Widening is exact for every single, NaN and infinities included.
constexpr double toDoubleSample(single element) noexcept { return element; }
constexpr double toDoubleSample(uint8 element) noexcept { return element; }
constexpr double toDoubleSample(uint16 element) noexcept { return element; }
constexpr double toDoubleSample(uint32 element) noexcept { return element; }
constexpr double toDoubleSample(int8 element) noexcept { return element; }
constexpr double toDoubleSample(int16 element) noexcept { return element; }
constexpr double toDoubleSample(int32 element) noexcept { return element; }

// Nearest double, ties to even: exact up to magnitude 2^53, and the top value
// 2^63 - 1 becomes 2^63.
constexpr double toDoubleSample(int64 element) noexcept { return static_cast<double>(element); }

// From 2^63 on, the element is read as the negative signed value u - 2^64,
// rounded to a double, and 2^64 is added back in one more rounding. The two
// roundings do not always give the nearest double (2^63 + 1025 becomes 2^63,
// not 2^63 + 2048), and results must not depend on how a platform converts
// unsigned 64-bit integers, so the two steps are spelled out.
constexpr double toDoubleSample(uint64 element) noexcept {
    const auto asSigned = static_cast<int64>(element);  // modular: u - 2^64 from 2^63 on
    if (asSigned >= 0) {
        return static_cast<double>(asSigned);
    }
    return static_cast<double>(asSigned) + 0x1p64;
}

// ---------------------------------------------------------------------------
// Double sum to output element.

namespace conversion_detail {

// Limits of an integer element type as exact doubles, tested against the sum
// after its rounding offset has been added. The 8- to 32-bit maxima are
// doubles and are tested strictly; the 64-bit maxima are not doubles, so the
// test is made inclusively at the power of two just above them (2^63, 2^64),
// which is where the nearest double to the maximum lies.
//
// A NaN sum fails every comparison. Converting NaN to an integer is undefined
// in C++, so the value stored for it is chosen here: what the x86-64
// truncating conversions produce for an invalid operand (the most negative
// value of the conversion width: 64 bits for the unsigned types and int64, 32
// bits for the narrower signed types), keeping the low bits. Every platform
// then stores the same thing.
template <class T>
struct IntegerRule;

template <>
struct IntegerRule<uint8> {
    static constexpr double lower = 0.0;
    static constexpr double upper = 255.0;
    static constexpr bool upperInclusive = false;
    static constexpr uint8 forNaN = 0;
};
template <>
struct IntegerRule<uint16> {
    static constexpr double lower = 0.0;
    static constexpr double upper = 65535.0;
    static constexpr bool upperInclusive = false;
    static constexpr uint16 forNaN = 0;
};
template <>
struct IntegerRule<uint32> {
    static constexpr double lower = 0.0;
    static constexpr double upper = 4294967295.0;
    static constexpr bool upperInclusive = false;
    static constexpr uint32 forNaN = 0;
};
template <>
struct IntegerRule<uint64> {
    static constexpr double lower = 0.0;
    static constexpr double upper = 18446744073709551616.0;  // 2^64
    static constexpr bool upperInclusive = true;
    static constexpr uint64 forNaN = uint64{1} << 63;
};
template <>
struct IntegerRule<int8> {
    static constexpr double lower = -128.0;
    static constexpr double upper = 127.0;
    static constexpr bool upperInclusive = false;
    static constexpr int8 forNaN = 0;
};
template <>
struct IntegerRule<int16> {
    static constexpr double lower = -32768.0;
    static constexpr double upper = 32767.0;
    static constexpr bool upperInclusive = false;
    static constexpr int16 forNaN = 0;
};
template <>
struct IntegerRule<int32> {
    static constexpr double lower = -2147483648.0;
    static constexpr double upper = 2147483647.0;
    static constexpr bool upperInclusive = false;
    static constexpr int32 forNaN = std::numeric_limits<int32>::min();
};
template <>
struct IntegerRule<int64> {
    static constexpr double lower = -9223372036854775808.0;  // -2^63
    static constexpr double upper = 9223372036854775808.0;   // 2^63
    static constexpr bool upperInclusive = true;
    static constexpr int64 forNaN = std::numeric_limits<int64>::min();
};

// Stores v, the sum with its rounding offset already added, saturated and
// truncated toward zero. Only a v inside the type's range reaches the cast.
template <class T>
inline void saturateTruncate(T& destination, double v) noexcept {
    using Rule = IntegerRule<T>;
    if (v < Rule::lower) {
        destination = std::numeric_limits<T>::min();
    } else if (Rule::upperInclusive ? v >= Rule::upper : v > Rule::upper) {
        destination = std::numeric_limits<T>::max();
    } else if (std::isnan(v)) {
        destination = Rule::forNaN;
    } else {
        destination = static_cast<T>(v);
    }
}

// Half up. The offset is added in double arithmetic, and that addition may
// round: 0.49999999999999994 + 0.5 is exactly 1.0, and an odd integer between
// 2^52 and 2^53 plus one half rounds to the even neighbour above it. That is
// the intended result, not an approximation of exact rounding.
template <class T>
inline void saturateRoundUnsigned(T& destination, double sum) noexcept {
    saturateTruncate(destination, sum + 0.5);
}

// Half away from zero. The sign is taken from the sum before the offset, so
// -0.0 takes +0.5; a NaN sum takes +0.5 as well and is caught in the store.
template <class T>
inline void saturateRoundSigned(T& destination, double sum) noexcept {
    const double half = sum < 0.0 ? -0.5 : 0.5;
    saturateTruncate(destination, sum + half);
}

// Rounding to single overflows from the midpoint between the largest single,
// 2^128 - 2^104, and 2^128 on: the midpoint itself goes to the even
// neighbour, 2^128, which is out of range. Sums from there on are given their
// infinity explicitly, since C++ does not define a conversion whose value lies
// beyond the destination's finite range.
inline constexpr double singleOverflowThreshold = 0x1.ffffffp127;

}  // namespace conversion_detail

inline void saturateRound(double& destination, double sum) noexcept { destination = sum; }

// One rounding, to nearest with ties to even; NaN stays NaN.
inline void saturateRound(single& destination, double sum) noexcept {
    if (sum >= conversion_detail::singleOverflowThreshold) {
        destination = std::numeric_limits<single>::infinity();
    } else if (sum <= -conversion_detail::singleOverflowThreshold) {
        destination = -std::numeric_limits<single>::infinity();
    } else {
        destination = static_cast<single>(sum);
    }
}

inline void saturateRound(uint8& destination, double sum) noexcept {
    conversion_detail::saturateRoundUnsigned(destination, sum);
}
inline void saturateRound(uint16& destination, double sum) noexcept {
    conversion_detail::saturateRoundUnsigned(destination, sum);
}
inline void saturateRound(uint32& destination, double sum) noexcept {
    conversion_detail::saturateRoundUnsigned(destination, sum);
}
inline void saturateRound(uint64& destination, double sum) noexcept {
    conversion_detail::saturateRoundUnsigned(destination, sum);
}
inline void saturateRound(int8& destination, double sum) noexcept {
    conversion_detail::saturateRoundSigned(destination, sum);
}
inline void saturateRound(int16& destination, double sum) noexcept {
    conversion_detail::saturateRoundSigned(destination, sum);
}
inline void saturateRound(int32& destination, double sum) noexcept {
    conversion_detail::saturateRoundSigned(destination, sum);
}
inline void saturateRound(int64& destination, double sum) noexcept {
    conversion_detail::saturateRoundSigned(destination, sum);
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_SAMPLE_CONVERSION_HPP
