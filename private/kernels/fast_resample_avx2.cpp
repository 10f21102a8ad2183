// The kernels with AVX2: four doubles per vector. This unit alone is compiled
// with -mavx2 (never -mfma), and runs only after kernel_select has checked
// that the processor has AVX2.
#include "kernels/fast_resample.hpp"
#include "kernels/fast_resample_levels.hpp"
#include "kernels/simd/vec_avx2.hpp"

#if !defined(__AVX2__) || defined(__FMA__)
#error "fast_resample_avx2.cpp must be compiled with -mavx2 and without -mfma"
#endif

namespace axiswarp::simd_avx2 {
AXISWARP_DEFINE_FAST_KERNELS(Vec)
}  // namespace axiswarp::simd_avx2
