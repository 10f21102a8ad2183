// The kernels on the x86-64 baseline: two doubles per vector.
#include "kernels/fast_resample.hpp"
#include "kernels/fast_resample_levels.hpp"
#include "kernels/simd/vec_sse2.hpp"

namespace axiswarp::simd_sse2 {
AXISWARP_DEFINE_FAST_KERNELS(Vec)
}  // namespace axiswarp::simd_sse2
