// Turns validated arguments into a ResizeJob, runs it, and hands the result
// to the host.
#ifndef AXISWARP_GATEWAY_RESIZE_JOB_SETUP_HPP
#define AXISWARP_GATEWAY_RESIZE_JOB_SETUP_HPP

#include <cstdint>

#include <zu.h>

namespace axiswarp {

// True when the dimension argument's value selects dimension 1: its
// truncation toward zero is 1. Decided by comparison, so NaN and values
// beyond any integer type need no conversion.
constexpr bool selectsDimension1(double value) { return value >= 1.0 && value < 2.0; }

// Converts `count` one-based index values into zero-based element offsets:
// floor(x) - 1, times `stride` (1 along dimension 1, M along dimension 2).
// Every value must satisfy 1 <= x < extent + 1; returns false at the first
// one that does not (NaN included), leaving the table partly written.
bool buildOffsetTable(const double* indexValues, std::uint64_t count, std::uint64_t extent,
                      std::uint64_t stride, std::uint64_t* offsets);

// Everything after argument validation. Raises the host error for an index
// out of range or an unlisted image class.
void runResize(zuArray* outputs[], const zuArray* inputs[]);

}  // namespace axiswarp

#endif  // AXISWARP_GATEWAY_RESIZE_JOB_SETUP_HPP
