// Resampling along dimension 1: within each column.
#ifndef AXISWARP_KERNELS_RESAMPLE_DIM1_HPP
#define AXISWARP_KERNELS_RESAMPLE_DIM1_HPP

#include <cstdint>

#include "kernels/resize_job.hpp"
#include "kernels/sample_conversion.hpp"
#include "kernels/weighted_sum.hpp"

namespace axiswarp {

// The source is taken as cols*planes columns of `rows` elements and the target
// as as many columns of `outLength` elements; target column c is computed from
// source column c alone. Output sample j of a column is the weighted sum of
// the taps j*K .. j*K+K-1, whose offsets count elements from the column start
// and must all be below `rows`. The target is written in ascending order, once
// per element.
//
// Positions are kept as element indices and turned into addresses only at the
// access, so that empty blocks (which may come with null data) are never
// offset.
template <class T>
void resampleDim1(const ResizeJob<T>& job) noexcept {
    const T* const source = job.source;
    T* const target = job.target;
    const std::uint64_t outLength = job.outLength;
    const std::uint64_t taps = job.taps;
    const std::uint64_t columns = job.cols * job.planes;
    std::uint64_t sourceColumn = 0;
    std::uint64_t targetColumn = 0;
    for (std::uint64_t c = 0; c < columns; ++c) {
        // Both tables are walked from their start for every column; sample
        // j + 1 starts where the taps of sample j end.
        const double* weight = job.weights;
        const std::uint64_t* offset = job.offsets;
        for (std::uint64_t j = 0; j < outLength; ++j) {
            saturateRound(target[targetColumn + j], weightedSumOfTaps(source, sourceColumn, weight, offset, taps));
            weight += taps;
            offset += taps;
        }
        sourceColumn += job.rows;
        targetColumn += outLength;
    }
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_RESAMPLE_DIM1_HPP
