// The kernels with AVX2: four doubles per vector. This unit alone is compiled
// with -mavx2 (never -mfma), and its table is used only after kernel_select
// has checked that the processor and the operating system support AVX2.
#include <cstdint>
#include <type_traits>

#include "kernels/kernel_table.hpp"
#include "kernels/simd/vec_avx2.hpp"

#if !defined(__AVX2__) || defined(__FMA__)
#error "level_avx2.cpp must be compiled with -mavx2 and without -mfma"
#endif

namespace axiswarp::simd_avx2 {
#include "kernels/fast/kernel_bodies.hpp"

constinit const KernelTable kernelTable = makeKernelTable();
}  // namespace axiswarp::simd_avx2
