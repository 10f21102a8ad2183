// What every module call of the resizers shares: the host's extents of an
// image array, and the check of what a call handed back.
#ifndef AXISWARP_TOOLS_MODULE_CALLS_HPP
#define AXISWARP_TOOLS_MODULE_CALLS_HPP

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <vector>

namespace axiswarp::tools {

// (rows, cols, channels) as the host stores them: a trailing 1 beyond the
// second extent is dropped.
std::vector<std::uint64_t> hostExtents(std::uint64_t rows, std::uint64_t cols, std::uint64_t channels);

// The output of a call on `input`, which must be a real array of the input's
// class with the extents `expected`. Throws zuhost::HostError with the
// module's identifier for a failed call, with an empty one for an output of
// the wrong class or shape or none at all.
zuhost::ArrayPtr checkedOutput(zuhost::CallOutcome outcome, const zuArray& input,
                               const std::vector<std::uint64_t>& expected);

// One call whose output the module creates in `target`, which holds
// exactly the expected output. Throws as checkedOutput does, and when the
// module made its output anywhere else.
void callInPlace(const zuhost::Module& module, const zuArray& input, const zuArray& weights,
                 const zuArray& indices, const zuArray& dim, const std::vector<std::uint64_t>& expected,
                 void* target);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_MODULE_CALLS_HPP
