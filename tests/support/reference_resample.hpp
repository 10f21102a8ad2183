// A deliberately plain model of the resampling kernels, for tests to compare
// against bit for bit. It is written independently of the module's headers and
// favours obviousness over speed: one output sample at a time, a plain loop
// sum, conversions spelled out with explicit branches. Only the standard
// library is used.
#ifndef AXISWARP_TESTS_SUPPORT_REFERENCE_RESAMPLE_HPP
#define AXISWARP_TESTS_SUPPORT_REFERENCE_RESAMPLE_HPP

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

namespace axiswarp::reference {

// ---------------------------------------------------------------------------
// Element to double.

inline double loadSample(double element) { return element; }
inline double loadSample(float element) { return static_cast<double>(element); }

template <class T>
    requires(std::is_integral_v<T> && sizeof(T) <= 4)
double loadSample(T element) {
    return static_cast<double>(element);
}

// Nearest double to a signed 64-bit value, without the platform's 64-bit
// conversion: the two 32-bit halves are exact doubles and one addition
// rounds their exact sum once.
inline double loadSample(std::int64_t element) {
    const std::int64_t high = element >> 32;  // floor(element / 2^32)
    const std::uint64_t low = static_cast<std::uint64_t>(element) & 0xFFFFFFFFu;
    return static_cast<double>(high) * 4294967296.0 + static_cast<double>(low);
}

// Below 2^63 the nearest double; from 2^63 on, the nearest double to the
// negative value u - 2^64 with 2^64 added in one more rounding (which is not
// always the nearest double to u).
inline double loadSample(std::uint64_t element) {
    if (element < (std::uint64_t{1} << 63)) {
        return loadSample(static_cast<std::int64_t>(element));
    }
    const auto wrapped = static_cast<std::int64_t>(element - (std::uint64_t{1} << 63)) -
                         std::numeric_limits<std::int64_t>::max() - 1;  // element - 2^64
    return loadSample(wrapped) + 18446744073709551616.0;
}

// ---------------------------------------------------------------------------
// Double sum to element.

// The value stored for a NaN sum in each integer type.
template <class T>
T integerForNaN() {
    if constexpr (std::is_same_v<T, std::int32_t> || std::is_same_v<T, std::int64_t>) {
        return std::numeric_limits<T>::min();
    } else if constexpr (std::is_same_v<T, std::uint64_t>) {
        return T{1} << 63;
    } else {
        return T{0};
    }
}

// Add one half (minus one half for a negative sum of a signed type) in double
// arithmetic, saturate, truncate. The limits are written as [-2^d, 2^d) for
// d = digits: every v below 2^d that is not below the lowest value truncates
// to a value of the type, so a single half-open test covers both the strict
// 8- to 32-bit upper bounds and the inclusive 2^63 / 2^64 ones.
template <class T>
T storeInteger(double sum) {
    using Limits = std::numeric_limits<T>;
    if (std::isnan(sum)) {
        return integerForNaN<T>();
    }
    double offset = 0.5;
    if (Limits::is_signed && sum < 0.0) {
        offset = -0.5;
    }
    const double v = sum + offset;
    const double beyondLargest = std::ldexp(1.0, Limits::digits);
    const double lowest = Limits::is_signed ? -beyondLargest : 0.0;
    if (v < lowest) {
        return Limits::min();
    }
    if (v >= beyondLargest) {
        return Limits::max();
    }
    return static_cast<T>(std::trunc(v));
}

// Round to nearest single, ties to even. Inside the finite range the
// platform's conversion does it; beyond the largest single the choice between
// it and the infinity is made by comparing distances (2^128 stands for the
// infinity in that comparison).
inline float storeSingle(double sum) {
    const double largest = std::numeric_limits<float>::max();
    const double magnitude = std::fabs(sum);
    if (!(magnitude > largest)) {
        return static_cast<float>(sum);
    }
    const double toLargest = magnitude - largest;
    const double toInfinity = 0x1p128 - magnitude;
    const float rounded = toLargest < toInfinity ? std::numeric_limits<float>::max()
                                                 : std::numeric_limits<float>::infinity();
    return sum < 0.0 ? -rounded : rounded;
}

template <class T>
T storeSample(double sum) {
    if constexpr (std::is_same_v<T, double>) {
        return sum;
    } else if constexpr (std::is_same_v<T, float>) {
        return storeSingle(sum);
    } else {
        return storeInteger<T>(sum);
    }
}

// ---------------------------------------------------------------------------
// One output sample and whole images.

// Output sample j: taps j*K .. j*K+K-1, samples read at source[base + offset],
// summed left to right from +0.0.
template <class T>
double sampleSum(const T* source, std::uint64_t base, std::uint64_t j, const double* weights,
                 const std::uint64_t* offsets, std::uint64_t taps) {
    double sum = 0.0;
    for (std::uint64_t t = 0; t < taps; ++t) {
        const std::uint64_t entry = j * taps + t;
        const double product = loadSample(source[base + offsets[entry]]) * weights[entry];
        sum = sum + product;
    }
    return sum;
}

// Same parameters as the module's kernels. The target is rows-resized:
// outLength-by-cols-by-planes; element (i, c, p) comes from column c of plane
// p, with offsets counted from the column start.
template <class T>
void referenceResampleDim1(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,
                           T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,
                           const std::uint64_t* offsets) {
    for (std::uint64_t p = 0; p < planes; ++p) {
        for (std::uint64_t c = 0; c < cols; ++c) {
            for (std::uint64_t i = 0; i < outLength; ++i) {
                const std::uint64_t columnStart = c * rows + p * rows * cols;
                target[i + c * outLength + p * outLength * cols] =
                    storeSample<T>(sampleSum(source, columnStart, i, weights, offsets, taps));
            }
        }
    }
}

// The target is rows-by-outLength-by-planes; element (i, j, p) comes from row
// i of plane p, with offsets that are whole source columns (multiples of rows).
template <class T>
void referenceResampleDim2(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,
                           T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,
                           const std::uint64_t* offsets) {
    for (std::uint64_t p = 0; p < planes; ++p) {
        for (std::uint64_t j = 0; j < outLength; ++j) {
            for (std::uint64_t i = 0; i < rows; ++i) {
                const std::uint64_t rowStart = i + p * rows * cols;
                target[i + j * rows + p * rows * outLength] =
                    storeSample<T>(sampleSum(source, rowStart, j, weights, offsets, taps));
            }
        }
    }
}

// Dimension 1, or dimension 2 for any other value, as the module chooses.
template <class T>
void referenceResample(int dim, const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,
                       T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,
                       const std::uint64_t* offsets) {
    if (dim == 1) {
        referenceResampleDim1(source, rows, cols, planes, target, outLength, weights, taps, offsets);
    } else {
        referenceResampleDim2(source, rows, cols, planes, target, outLength, weights, taps, offsets);
    }
}

// ---------------------------------------------------------------------------
// Comparison.

// Equality of stored samples: integers by value, floating-point values by bit
// pattern so that -0.0 and +0.0 differ, except that any NaN matches any NaN
// (IEEE arithmetic does not pin down which NaN payload an operation returns).
template <class T>
bool identicalSamples(T actual, T expected) {
    if constexpr (std::is_same_v<T, double>) {
        if (std::isnan(actual) && std::isnan(expected)) {
            return true;
        }
        return std::bit_cast<std::uint64_t>(actual) == std::bit_cast<std::uint64_t>(expected);
    } else if constexpr (std::is_same_v<T, float>) {
        if (std::isnan(actual) && std::isnan(expected)) {
            return true;
        }
        return std::bit_cast<std::uint32_t>(actual) == std::bit_cast<std::uint32_t>(expected);
    } else {
        return actual == expected;
    }
}

}  // namespace axiswarp::reference

#endif  // AXISWARP_TESTS_SUPPORT_REFERENCE_RESAMPLE_HPP
