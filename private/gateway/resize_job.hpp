// One resize request, carried from setup to the kernels.
#ifndef AXISWARP_GATEWAY_RESIZE_JOB_HPP
#define AXISWARP_GATEWAY_RESIZE_JOB_HPP

#include <cstdint>

#include <zu.h>

#include "kernels/kernel_select.hpp"

namespace axiswarp {

struct ResizeJob {
    const zuArray* source;    // borrowed
    zuArray* target;          // created by setup, handed to the host at the end
    std::uint64_t rows;       // M
    std::uint64_t cols;       // N
    std::uint64_t planes;     // P, 1 for a two-dimensional image
    std::uint64_t outLength;  // L
    std::uint64_t taps;       // K
    const std::uint64_t* offsets;  // K*L zero-based element offsets, entry j*K + t
    const double* weights;         // K*L weights, same layout, borrowed
    std::int32_t dim;              // 1 selects dimension 1, anything else dimension 2

    // Runs the kernel family chosen by `dim` over the real parts and, when the
    // target has them, over the imaginary parts. Entry names the element type
    // in which the data is read and written.
    template <class Entry>
    void runTyped() const;
};

template <class Entry>
void ResizeJob::runTyped() const {
    using Element = typename Entry::KernelElement;

    // One pass descriptor for both parts: the imaginary pass changes only
    // the data blocks. The kernel table (the instruction-set level) was
    // chosen once for the process.
    ResamplePass<Element> pass{static_cast<const Element*>(source->realPointer()),
                               static_cast<Element*>(target->realPointer()),
                               rows, cols, planes, outLength, taps, weights, offsets};
    const PassEntries<Element>& entries = activeKernelTable().of<Element>();
    const PassKernel<Element> kernel = dim == 1 ? entries.dim1 : entries.dim2;
    kernel(pass);
    // The target decides: setup gave it an imaginary block exactly when the
    // source has one, so the imaginary pass always has data to read.
    if (auto* targetImag = static_cast<Element*>(target->imagPointer()); targetImag != nullptr) {
        pass.source = static_cast<const Element*>(source->imagPointer());
        pass.target = targetImag;
        kernel(pass);
    }
}

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_RESIZE_JOB_HPP
