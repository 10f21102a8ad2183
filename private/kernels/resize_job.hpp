// One resize request, and one pass of it, as a single record.
//
// The record carries what every pass of a call shares: the extents, the two
// tables and the dimension, written here once. Its two data fields are the
// only thing that differs between the gateway's view and a kernel's, so the
// record is a template over the data they point to:
//
//   ResizeJob<zuArray>  the whole call, as setup fills it: `source` is the
//                       borrowed image, `target` the output array it created
//                       (both host arrays, with real and imaginary blocks);
//   ResizeJob<T>        one pass, as a kernel reads it: `source` and
//                       `target` are one data block of each (the real or the
//                       imaginary part), elements of type T.
//
// runTyped turns the first into the second with over(), once per data block,
// and the kernels, plain and vectorised, take the second whole. Nothing here
// looks inside a host array; the kernels never see one.
#ifndef AXISWARP_KERNELS_RESIZE_JOB_HPP
#define AXISWARP_KERNELS_RESIZE_JOB_HPP

#include <cstdint>

namespace axiswarp {

template <class Data>
struct ResizeJob {
    const Data* source;            // read only, borrowed
    Data* target;                  // every element written once
    std::uint64_t rows;            // M, the image's first extent
    std::uint64_t cols;            // N
    std::uint64_t planes;          // P, 1 for a two-dimensional image
    std::uint64_t outLength;       // L, the output extent along the resized dimension
    std::uint64_t taps;            // K, contributions per output sample
    const std::uint64_t* offsets;  // K*L zero-based element offsets, entry j*K + t
    const double* weights;         // K*L weights, same layout, borrowed
    std::int32_t dim;              // 1 selects dimension 1, anything else dimension 2

    // The same extents, tables and dimension over other data blocks.
    template <class Other>
    constexpr ResizeJob<Other> over(const Other* otherSource, Other* otherTarget) const noexcept {
        return ResizeJob<Other>{otherSource, otherTarget, rows, cols, planes, outLength, taps, offsets, weights, dim};
    }

    // For the call's job (Data = zuArray): runs the kernels chosen by `dim`
    // over the real blocks and, when the target has them, over the imaginary
    // blocks. Entry (of ElementTypeList) names the sample type the data is
    // read and written in.
    // Defined by the gateway (gateway/run_typed.hpp), which owns the host
    // arrays.
    template <class Entry>
    void runTyped() const;
};

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_RESIZE_JOB_HPP
