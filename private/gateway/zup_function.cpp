// The module's only entry: out = axisWarpKernel(in, weights, indices, dim).
#include <zu.h>

#include "gateway/resize_job_setup.hpp"
#include "gateway/validate_arguments.hpp"

// The number of outputs is not read: the result always goes to the first
// slot, which the host provides even when no output is requested.
ZUP_MODULE_EXPORT void zupFunction(int /*outputCount*/, zuArray* outputs[], int inputCount, const zuArray* inputs[]) {
    axiswarp::validateArguments(inputCount, inputs);
    axiswarp::runResize(outputs, inputs);
}
