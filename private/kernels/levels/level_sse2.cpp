// The kernels on the x86-64 baseline: two doubles per vector.
#include <cstdint>
#include <type_traits>

#include "kernels/kernel_table.hpp"
#include "kernels/simd/vec_sse2.hpp"

namespace axiswarp::simd_sse2 {
#include "kernels/fast/kernel_bodies.hpp"

constinit const KernelTable kernelTable = makeKernelTable();
}  // namespace axiswarp::simd_sse2
