// The entry points of one instruction-set level: for every kernel element
// type, the pass along dimension 1 and the pass along dimension 2. Each
// level's translation unit (kernels/levels/) fills one table; kernel_select
// picks the table once per process.
#ifndef AXISWARP_KERNELS_KERNEL_TABLE_HPP
#define AXISWARP_KERNELS_KERNEL_TABLE_HPP

#include <tuple>

#include "kernels/element_types.hpp"
#include "kernels/resize_job.hpp"

namespace axiswarp {

// Instruction-set levels. `scalar` is the plain template kernels
// (resampleDim1, resampleDim2) and builds everywhere. The x86 levels sse2,
// avx2 and avx512 each include the ones below them; neon is the one vector
// level of aarch64. The values index kernel_select's tables.
enum class SimdLevel { scalar = 0, sse2 = 1, avx2 = 2, avx512 = 3, neon = 4 };
inline constexpr int simdLevelCount = 5;

template <class T>
using PassKernel = void (*)(const ResizeJob<T>&) noexcept;

template <class T>
struct PassEntries {
    PassKernel<T> dim1 = nullptr;  // lanes of the level's vectors, or null where it has none for T
    PassKernel<T> dim2 = nullptr;
};

struct KernelTable {
    std::tuple<PassEntries<double>, PassEntries<single>, PassEntries<uint8>, PassEntries<uint16>,
               PassEntries<uint32>, PassEntries<uint64>, PassEntries<int8>, PassEntries<int16>,
               PassEntries<int32>, PassEntries<int64>>
        entries;

    template <class T>
    const PassEntries<T>& of() const noexcept {
        return std::get<PassEntries<T>>(entries);
    }
    template <class T>
    PassEntries<T>& of() noexcept {
        return std::get<PassEntries<T>>(entries);
    }
};

// The table each level's unit defines. A level's null entries are the types
// its vectors do not serve; kernel_select fills them from the scalar table.
namespace simd_scalar {
extern const KernelTable kernelTable;
}
namespace simd_sse2 {
extern const KernelTable kernelTable;
}
namespace simd_avx2 {
extern const KernelTable kernelTable;
}
namespace simd_avx512 {
extern const KernelTable kernelTable;
}
namespace simd_neon {
extern const KernelTable kernelTable;
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_KERNEL_TABLE_HPP
