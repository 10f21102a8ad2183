// One pass of a resize: one data block (real or imaginary part) of the image
// resampled along one dimension into the same block of the output. Filled
// once per call by ResizeJob::runTyped and handed to the fast kernels whole,
// so that no kernel spells out the extents and tables one by one.
#ifndef AXISWARP_KERNELS_RESAMPLE_PASS_HPP
#define AXISWARP_KERNELS_RESAMPLE_PASS_HPP

#include <cstdint>

namespace axiswarp {

template <class T>
struct ResamplePass {
    const T* source;          // rows*cols*planes elements, column-major
    T* target;                // the output block, outLength along the resized dimension
    std::uint64_t rows;       // M
    std::uint64_t cols;       // N
    std::uint64_t planes;     // P
    std::uint64_t outLength;  // L
    std::uint64_t taps;       // K
    const double* weights;         // K*L, entry j*K + t
    const std::uint64_t* offsets;  // K*L zero-based element offsets, same layout
};

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_RESAMPLE_PASS_HPP
