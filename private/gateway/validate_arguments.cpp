#include "gateway/validate_arguments.hpp"

#include "gateway/raise_error.hpp"

namespace axiswarp {

namespace {

bool isFullDouble(const zuArray& array) {
    return array.classID() == zuDoubleClass && !array.isSparse();
}

}  // namespace

void validateArguments(std::int32_t inputCount, const zuArray* inputs[]) {
    if (inputCount != 4) raiseError(errors::invalidNumInputs);

    const zuArray& image = *inputs[0];
    const zuArray& weights = *inputs[1];
    const zuArray& indices = *inputs[2];
    const zuArray& dim = *inputs[3];

    // The image's class is judged later, by the dispatch: a numeric-data flag
    // on a class the module has no kernels for is refused there.
    if (!image.isNumeric() || image.isSparse()) raiseError(errors::invalidImage);
    if (image.numberOfDimensions() > 3) raiseError(errors::tooManyDims);

    if (!isFullDouble(weights) || weights.numberOfDimensions() != 2) raiseError(errors::badWeights);
    // The indices' number of dimensions is left to the size comparison, so a
    // table of the wrong rank reads as a size mismatch.
    if (!isFullDouble(indices)) raiseError(errors::badIndices);
    if (indices.numberOfDimensions() != weights.numberOfDimensions()) {
        raiseError(errors::sizeMismatch);
    }
    const std::uint64_t* weightExtents = weights.get_dimensions();
    const std::uint64_t* indexExtents = indices.get_dimensions();
    for (std::uint64_t d = 0; d < weights.numberOfDimensions(); ++d) {
        if (weightExtents[d] != indexExtents[d]) raiseError(errors::sizeMismatch);
    }

    if (!isFullDouble(dim)) raiseError(errors::invalidDim);
}

}  // namespace axiswarp
