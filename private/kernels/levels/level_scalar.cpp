// The scalar level: the plain template kernels, in plain C++ on every
// platform. It also serves every element type a vector level has no loads
// for.
#include "kernels/kernel_table.hpp"
#include "kernels/resample_dim1.hpp"
#include "kernels/resample_dim2.hpp"

namespace axiswarp::simd_scalar {
namespace {

template <class T>
constexpr PassEntries<T> plain() noexcept {
    return PassEntries<T>{&resampleDim1<T>, &resampleDim2<T>};
}

}  // namespace

constinit const KernelTable kernelTable{{plain<double>(), plain<single>(), plain<uint8>(), plain<uint16>(), plain<uint32>(),
                               plain<uint64>(), plain<int8>(), plain<int16>(), plain<int32>(), plain<int64>()}};

}  // namespace axiswarp::simd_scalar
