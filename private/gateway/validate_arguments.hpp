// Checks the argument count and the class, sparsity and shape of the inputs.
#ifndef AXISWARP_GATEWAY_VALIDATE_ARGUMENTS_HPP
#define AXISWARP_GATEWAY_VALIDATE_ARGUMENTS_HPP

#include <cstdint>

#include <zu.h>

namespace axiswarp {

// Returns only when every check passes; otherwise raises the host error of
// the first check that fails. Values inside the arrays are not examined.
void validateArguments(std::int32_t inputCount, const zuArray* inputs[]);

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_VALIDATE_ARGUMENTS_HPP
