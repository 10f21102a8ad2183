// The entry points of one instruction-set level: for every sample type, the
// pass along dimension 1 and the pass along dimension 2. Each
// level's translation unit (kernels/levels/) fills one table; kernel_select
// picks the table once per process.
#ifndef AXISWARP_KERNELS_KERNEL_TABLE_HPP
#define AXISWARP_KERNELS_KERNEL_TABLE_HPP

#include <tuple>
#include <type_traits>

#include "kernels/element_type_list.hpp"
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

namespace table_detail {

// The sample types of a list's entries, each once, in list order: the
// logical entry reads its bytes through the uint8 kernels and adds none.
template <class Found, class... Entries>
struct DistinctSamples {
    using type = Found;
};
template <class... Found, class First, class... Rest>
struct DistinctSamples<TypeList<Found...>, First, Rest...> {
    using Sample = typename First::SampleType;
    using type = typename DistinctSamples<
        std::conditional_t<(std::is_same_v<Sample, Found> || ...), TypeList<Found...>, TypeList<Found..., Sample>>,
        Rest...>::type;
};

template <class List>
struct SamplesOf;
template <class... Entries>
struct SamplesOf<TypeList<Entries...>> : DistinctSamples<TypeList<>, Entries...> {};

template <class Samples>
struct EntriesOf;
template <class... Samples>
struct EntriesOf<TypeList<Samples...>> {
    using type = std::tuple<PassEntries<Samples>...>;

    template <class Make>
    static constexpr type make(Make entriesFor) noexcept {
        return type{entriesFor(std::type_identity<Samples>{})...};
    }
};

}  // namespace table_detail

// The sample types the kernels are instantiated for: those of
// ElementTypeList, so that a class added there gets its table entries (and
// every level its kernels) without being written out again.
using SampleTypes = typename table_detail::SamplesOf<ElementTypeList>::type;

struct KernelTable {
    typename table_detail::EntriesOf<SampleTypes>::type entries;

    // The table whose entries for sample type T are
    // entriesFor(std::type_identity<T>{}), for every type of SampleTypes.
    template <class Make>
    static constexpr KernelTable filledBy(Make entriesFor) noexcept {
        return KernelTable{table_detail::EntriesOf<SampleTypes>::make(entriesFor)};
    }

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
