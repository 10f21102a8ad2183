#include "gateway/resize_job_setup.hpp"

#include <algorithm>

#include "gateway/dispatch_by_class.hpp"
#include "gateway/raise_error.hpp"
#include "gateway/run_typed.hpp"
#include "kernels/element_type_list.hpp"

namespace axiswarp {

bool buildOffsetTable(const double* indexValues, std::uint64_t count, std::uint64_t extent,
                      std::uint64_t stride, std::uint64_t* offsets) {
    // Written as a negated conjunction so that NaN, which fails every
    // comparison, is refused too. The bound is compared in double; the integer
    // test afterwards guards extents too large for a double to hold exactly.
    const double upper = static_cast<double>(extent) + 1.0;
    for (std::uint64_t e = 0; e < count; ++e) {
        const double x = indexValues[e];
        if (!(x >= 1.0 && x < upper)) return false;
        const std::uint64_t position = static_cast<std::uint64_t>(x) - 1;
        if (position >= extent) return false;
        offsets[e] = position * stride;
    }
    return true;
}

void runResize(zuArray* outputs[], const zuArray* inputs[]) {
    const zuArray* image = inputs[0];
    const zuArray* weights = inputs[1];
    const zuArray* indices = inputs[2];

    const std::uint64_t* extents = image->get_dimensions();
    const std::uint64_t rows = extents[0];
    const std::uint64_t cols = extents[1];
    const std::uint64_t planes = image->numberOfDimensions() == 3 ? extents[2] : 1;

    const std::uint64_t taps = weights->get_dimensions()[0];
    const std::uint64_t outLength = zuGetN(weights);

    const std::int32_t dim = selectsDimension1(zuGetScalar(inputs[3])) ? 1 : 2;

    const std::uint64_t outExtents[3] = {dim == 1 ? outLength : rows, dim == 1 ? cols : outLength,
                                         planes};
    const zuClassID imageClass = image->classID();
    const zuClassID outClass = imageClass == zuLogicalClass ? zuUint8Class : imageClass;
    const zuComplexity complexity = image->isComplex() ? zuCOMPLEX : zuREAL;
    // An unlisted class is refused by the dispatch, after this point; the host
    // releases the array and the table when the call ends with that error.
    zuArray* target = zuCreateUninitNumericArray(3, outExtents, outClass, complexity);

    const std::uint64_t count = zuGetNumberOfElements(indices);
    auto* offsets = static_cast<std::uint64_t*>(zuMalloc(count * sizeof(std::uint64_t)));

    // An index outside the image would make the kernels read outside it, so
    // the range is checked whenever a kernel will run. When none will (the
    // output is empty, or the class has no kernels and the dispatch below
    // refuses it with the class error) nothing is read, so any table is
    // accepted; the offsets are then never used and are left zero.
    const auto* indexValues = static_cast<const double*>(indices->realPointer());
    const bool kernelWillRun =
        zuGetNumberOfElements(target) != 0 && listsClass(ElementTypeList{}, imageClass);
    if (kernelWillRun) {
        const std::uint64_t extent = dim == 1 ? rows : cols;
        const std::uint64_t stride = dim == 1 ? 1 : rows;
        if (!buildOffsetTable(indexValues, count, extent, stride, offsets)) {
            zuFree(offsets);
            raiseError(errors::indexOutOfRange);
        }
    } else {
        std::fill_n(offsets, count, std::uint64_t{0});
    }

    const ResizeJob<zuArray> job{image, target, rows, cols, planes, outLength, taps, offsets,
                                 static_cast<const double*>(weights->realPointer()), dim};
    dispatchByClass(imageClass, job);

    zuFree(offsets);
    outputs[0] = target;
}

}  // namespace axiswarp
