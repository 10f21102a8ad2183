// The scalar level: the plain template kernels, in plain C++ on every
// platform. It also serves every element type a vector level has no loads
// for.
#include <type_traits>

#include "kernels/kernel_table.hpp"
#include "kernels/resample_dim1.hpp"
#include "kernels/resample_dim2.hpp"

namespace axiswarp::simd_scalar {

constinit const KernelTable kernelTable = KernelTable::filledBy(
    []<class T>(std::type_identity<T>) { return PassEntries<T>{&resampleDim1<T>, &resampleDim2<T>}; });

}  // namespace axiswarp::simd_scalar
