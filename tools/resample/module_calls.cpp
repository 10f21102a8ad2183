#include "resample/module_calls.hpp"

#include <string>
#include <utility>

namespace axiswarp::tools {

std::vector<std::uint64_t> hostExtents(std::uint64_t rows, std::uint64_t cols, std::uint64_t channels) {
    if (channels == 1) return {rows, cols};
    return {rows, cols, channels};
}

zuhost::ArrayPtr checkedOutput(zuhost::CallOutcome outcome, const zuArray& input,
                               const std::vector<std::uint64_t>& expected) {
    if (outcome.failed) throw zuhost::HostError(outcome.identifier, outcome.message);
    if (!outcome.output)
        throw zuhost::HostError("", "the module returned without setting its first output");
    const zuArray& output = *outcome.output;
    if (output.classID() != input.classID() || output.isComplex() ||
        zuhost::extents(output) != expected) {
        throw zuhost::HostError("", std::string("the module returned a ") +
                                      zuhost::className(output.classID()) +
                                      " array of the wrong class or shape");
    }
    return std::move(outcome.output);
}

void callInPlace(const zuhost::Module& module, const zuArray& input, const zuArray& weights,
                 const zuArray& indices, const zuArray& dim, const std::vector<std::uint64_t>& expected,
                 void* target) {
    std::uint64_t elements = 1;
    for (const std::uint64_t e : expected) elements *= e;
    const zuhost::OutputPlacement placement{target, nullptr,
                                            elements * zuhost::elementSize(input.classID())};
    const zuArray* args[] = {&input, &weights, &indices, &dim};
    const zuhost::ArrayPtr out = checkedOutput(module.call(args, placement), input, expected);
    // A module that made its output elsewhere has not written the target.
    if (out->realData != placement.real)
        throw zuhost::HostError("", "the module did not create its output where the host placed it");
}

}  // namespace axiswarp::tools
