// Resampling along dimension 2: across the columns of each plane.
#ifndef AXISWARP_KERNELS_RESAMPLE_DIM2_HPP
#define AXISWARP_KERNELS_RESAMPLE_DIM2_HPP

#include <cstdint>

#include "kernels/resize_job.hpp"
#include "kernels/sample_conversion.hpp"
#include "kernels/weighted_sum.hpp"

namespace axiswarp {

namespace dim2_detail {

// Output columns first .. first+width-1 of every row of every plane. The
// group's tables (width*K entries) are walked again for each row, so for
// consecutive rows the same source columns are read at consecutive elements
// and each output column is written at consecutive elements.
template <class T>
inline void resampleColumnGroup(const ResizeJob<T>& job, std::uint64_t first, std::uint64_t width) noexcept {
    const T* const source = job.source;
    T* const target = job.target;
    const std::uint64_t rows = job.rows;
    const std::uint64_t taps = job.taps;
    const std::uint64_t sourcePlane = rows * job.cols;
    const std::uint64_t targetPlane = rows * job.outLength;
    const double* groupWeights = job.weights + first * taps;
    const std::uint64_t* groupOffsets = job.offsets + first * taps;
    for (std::uint64_t p = 0; p < job.planes; ++p) {
        for (std::uint64_t i = 0; i < rows; ++i) {
            const std::uint64_t rowBase = p * sourcePlane + i;
            std::uint64_t out = p * targetPlane + first * rows + i;
            const double* weight = groupWeights;
            const std::uint64_t* offset = groupOffsets;
            for (std::uint64_t column = 0; column < width; ++column) {
                saturateRound(target[out], weightedSumOfTaps(source, rowBase, weight, offset, taps));
                weight += taps;
                offset += taps;
                out += rows;
            }
        }
    }
}

}  // namespace dim2_detail

// Output element (i, j, p) of the rows-by-outLength-by-planes target is the
// weighted sum of taps j*K .. j*K+K-1 read from row i of plane p; an offset is
// a whole number of source columns (a multiple of `rows`, at most
// (cols-1)*rows) so the same table serves every row and plane.
//
// Output columns go in blocks of eight, each block over all planes and rows
// before the next begins, so one block's tables stay hot while every row
// reads them; the columns after the last full block follow in a second pass
// of the same shape.
template <class T>
void resampleDim2(const ResizeJob<T>& job) noexcept {
    constexpr std::uint64_t blockWidth = 8;
    const std::uint64_t blockedColumns = job.outLength / blockWidth * blockWidth;

    for (std::uint64_t first = 0; first < blockedColumns; first += blockWidth) {
        dim2_detail::resampleColumnGroup(job, first, blockWidth);
    }
    if (blockedColumns < job.outLength) {
        dim2_detail::resampleColumnGroup(job, blockedColumns, job.outLength - blockedColumns);
    }
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_RESAMPLE_DIM2_HPP
