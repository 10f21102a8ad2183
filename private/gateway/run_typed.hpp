// The typed passes of a call: the job's real and imaginary data blocks
// through the kernels of one sample type.
#ifndef AXISWARP_GATEWAY_RUN_TYPED_HPP
#define AXISWARP_GATEWAY_RUN_TYPED_HPP

#include <zu.h>

#include "kernels/kernel_select.hpp"
#include "kernels/resize_job.hpp"

namespace axiswarp {

template <>
template <class Entry>
void ResizeJob<zuArray>::runTyped() const {
    using Sample = typename Entry::SampleType;

    // One pass record for both parts: the imaginary pass changes only the
    // data blocks. The kernel table (the instruction-set level) was chosen
    // once for the process.
    const KernelTable& table = activeKernelTable();
    ResizeJob<Sample> pass = over(static_cast<const Sample*>(source->realPointer()),
                                  static_cast<Sample*>(target->realPointer()));
    runPass(table, pass);
    // The target decides: setup gave it an imaginary block exactly when the
    // source has one, so the imaginary pass always has data to read.
    if (auto* targetImag = static_cast<Sample*>(target->imagPointer()); targetImag != nullptr) {
        pass.source = static_cast<const Sample*>(source->imagPointer());
        pass.target = targetImag;
        runPass(table, pass);
    }
}

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_RUN_TYPED_HPP
