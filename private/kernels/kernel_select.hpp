// The kernels the module runs: the vectorised ones at the widest level the
// processor has, the plain template kernels where vectors do not pay.
#ifndef AXISWARP_KERNELS_KERNEL_SELECT_HPP
#define AXISWARP_KERNELS_KERNEL_SELECT_HPP

#include <cstdint>
#include <string_view>

#include "kernels/element_types.hpp"

namespace axiswarp {

// Instruction-set levels, each including the ones below it. `scalar` is the
// plain template kernels (resampleDim1, resampleDim2).
enum class SimdLevel { scalar = 0, sse2 = 1, avx2 = 2 };

// The widest level this processor (and its operating system) supports.
SimdLevel supportedSimdLevel() noexcept;

// The level named by `name` ("scalar", "sse2", "avx2"), limited to
// `supported`; an empty or unknown name gives `supported`.
SimdLevel simdLevelFromName(std::string_view name, SimdLevel supported) noexcept;

// The level a call runs at: the environment variable AXISWARP_SIMD, read on
// every call, can pin a lower level (for tests and measurements); otherwise
// the supported one.
SimdLevel activeSimdLevel() noexcept;

// Same parameters and output as resampleDim1 / resampleDim2, at the given
// level or, without one, at activeSimdLevel(). int64 and uint64 always take
// the plain kernels: their conversions have no exact short vector form.
template <class T>
void resampleDim1Fast(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes, T* target,
                      std::uint64_t outLength, const double* weights, std::uint64_t taps,
                      const std::uint64_t* offsets) noexcept;
template <class T>
void resampleDim2Fast(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes, T* target,
                      std::uint64_t outLength, const double* weights, std::uint64_t taps,
                      const std::uint64_t* offsets) noexcept;
template <class T>
void resampleDim1AtLevel(SimdLevel level, const T* source, std::uint64_t rows, std::uint64_t cols,
                         std::uint64_t planes, T* target, std::uint64_t outLength, const double* weights,
                         std::uint64_t taps, const std::uint64_t* offsets) noexcept;
template <class T>
void resampleDim2AtLevel(SimdLevel level, const T* source, std::uint64_t rows, std::uint64_t cols,
                         std::uint64_t planes, T* target, std::uint64_t outLength, const double* weights,
                         std::uint64_t taps, const std::uint64_t* offsets) noexcept;

#define AXISWARP_EXTERN_SELECTED_KERNELS(T)                                                                  \
    extern template void resampleDim1Fast<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*,     \
                                             std::uint64_t, const double*, std::uint64_t,                   \
                                             const std::uint64_t*) noexcept;                                \
    extern template void resampleDim2Fast<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*,     \
                                             std::uint64_t, const double*, std::uint64_t,                   \
                                             const std::uint64_t*) noexcept;                                \
    extern template void resampleDim1AtLevel<T>(SimdLevel, const T*, std::uint64_t, std::uint64_t,         \
                                                std::uint64_t, T*, std::uint64_t, const double*,            \
                                                std::uint64_t, const std::uint64_t*) noexcept;              \
    extern template void resampleDim2AtLevel<T>(SimdLevel, const T*, std::uint64_t, std::uint64_t,         \
                                                std::uint64_t, T*, std::uint64_t, const double*,            \
                                                std::uint64_t, const std::uint64_t*) noexcept;
AXISWARP_EXTERN_SELECTED_KERNELS(double)
AXISWARP_EXTERN_SELECTED_KERNELS(single)
AXISWARP_EXTERN_SELECTED_KERNELS(uint8)
AXISWARP_EXTERN_SELECTED_KERNELS(uint16)
AXISWARP_EXTERN_SELECTED_KERNELS(uint32)
AXISWARP_EXTERN_SELECTED_KERNELS(uint64)
AXISWARP_EXTERN_SELECTED_KERNELS(int8)
AXISWARP_EXTERN_SELECTED_KERNELS(int16)
AXISWARP_EXTERN_SELECTED_KERNELS(int32)
AXISWARP_EXTERN_SELECTED_KERNELS(int64)
#undef AXISWARP_EXTERN_SELECTED_KERNELS

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_KERNEL_SELECT_HPP
