// The kernels with AVX-512: eight doubles per vector, and the 64-bit integer
// types in vectors. This unit alone is compiled with the AVX-512 F, DQ, BW
// and VL flags (never -mfma; a test disassembles its object and fails on any
// fused multiply-add), and its table is used only after kernel_select has
// checked that the processor has those extensions and that the operating
// system saves the zmm and opmask registers.
#include <cstdint>
#include <type_traits>

#include "kernels/kernel_table.hpp"
#include "kernels/simd/vec_avx512.hpp"

// Clang counts the fused multiply-add instructions as part of AVX-512 F and
// defines __FMA__ with it; there -ffp-contract=off and the disassembly test
// are what keep them out.
#if !defined(__AVX512F__) || !defined(__AVX512DQ__) || !defined(__AVX512BW__) || !defined(__AVX512VL__) || \
    (defined(__FMA__) && !defined(__clang__))
#error "level_avx512.cpp must be compiled with -mavx512f -mavx512dq -mavx512bw -mavx512vl and without -mfma"
#endif

namespace axiswarp::simd_avx512 {
#include "kernels/fast/kernel_bodies.hpp"

constinit const KernelTable kernelTable = makeKernelTable();
}  // namespace axiswarp::simd_avx512
