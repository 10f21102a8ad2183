// The value of one output sample: the weighted sum of its taps.
#ifndef AXISWARP_KERNELS_WEIGHTED_SUM_HPP
#define AXISWARP_KERNELS_WEIGHTED_SUM_HPP

#include <cstdint>

#include "kernels/sample_conversion.hpp"

namespace axiswarp {

// Sum of `taps` products, whose weights and offsets start at `weights` and
// `offsets`; each sample is read at source[base + offset].
//
// The sum starts from +0.0 (so a sample whose products are all -0.0 is +0.0)
// and takes the products strictly one at a time in tap order, each product and
// each addition rounded on its own. Unrolling by four keeps that order:
// (((s + q0) + q1) + q2) + q3 is the same chain of roundings as the plain
// loop. Adding products to each other first, a second accumulator, or a fused
// multiply-add would each change results: with weights 2^53, 1, 1, 1, 1 on a
// sample of 1.0 the sum is 2^53, while adding the ones first gives 2^53 + 4.
//
// A tap with weight 0 is still read and added: 0 times an infinite sample is
// NaN, and that NaN belongs in the result.
template <class T>
inline double weightedSumOfTaps(const T* source, std::uint64_t base, const double* weights,
                                const std::uint64_t* offsets, std::uint64_t taps) noexcept {
    double sum = +0.0;
    std::uint64_t t = 0;
    for (; taps - t >= 4; t += 4) {
        const double q0 = toDoubleSample(source[base + offsets[t]]) * weights[t];
        const double q1 = toDoubleSample(source[base + offsets[t + 1]]) * weights[t + 1];
        const double q2 = toDoubleSample(source[base + offsets[t + 2]]) * weights[t + 2];
        const double q3 = toDoubleSample(source[base + offsets[t + 3]]) * weights[t + 3];
        sum = (((sum + q0) + q1) + q2) + q3;
    }
    for (; t < taps; ++t) {
        sum = sum + toDoubleSample(source[base + offsets[t]]) * weights[t];
    }
    return sum;
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_WEIGHTED_SUM_HPP
