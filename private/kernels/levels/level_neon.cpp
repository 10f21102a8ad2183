// The kernels on 64-bit Arm: two doubles per vector, every element type in
// vectors. Advanced SIMD is part of every aarch64 processor, so this level
// needs no flags of its own and is always available there.
#include <cstdint>
#include <type_traits>

#include "kernels/kernel_table.hpp"
#include "kernels/simd/vec_neon.hpp"

#if !defined(__aarch64__)
#error "level_neon.cpp is built only for aarch64 targets"
#endif

namespace axiswarp::simd_neon {
#include "kernels/fast/kernel_bodies.hpp"

constinit const KernelTable kernelTable = makeKernelTable();
}  // namespace axiswarp::simd_neon
