#include "kernels/kernel_select.hpp"

#include <cstdlib>
#include <type_traits>

#if AXISWARP_X86_LEVELS
#include "kernels/fast_resample_levels.hpp"
#endif
#include "kernels/resample_dim1.hpp"
#include "kernels/resample_dim2.hpp"

namespace axiswarp {

SimdLevel supportedSimdLevel() noexcept {
#if AXISWARP_X86_LEVELS
    // libgcc's test includes the operating system's support for the AVX
    // register state, not just the instruction flag. SSE2 is the baseline of
    // x86-64.
    if (__builtin_cpu_supports("avx2")) return SimdLevel::avx2;
    return SimdLevel::sse2;
#else
    // No vector level for this architecture yet: the plain kernels.
    return SimdLevel::scalar;
#endif
}

SimdLevel simdLevelFromName(std::string_view name, SimdLevel supported) noexcept {
    SimdLevel wanted = supported;
    if (name == "scalar") {
        wanted = SimdLevel::scalar;
    } else if (name == "sse2") {
        wanted = SimdLevel::sse2;
    } else if (name == "avx2") {
        wanted = SimdLevel::avx2;
    }
    return wanted < supported ? wanted : supported;
}

SimdLevel activeSimdLevel() noexcept {
    const char* name = std::getenv("AXISWARP_SIMD");
    return simdLevelFromName(name != nullptr ? std::string_view(name) : std::string_view(), supportedSimdLevel());
}

#if AXISWARP_X86_LEVELS
namespace {

template <class T>
constexpr bool hasVectorKernels = !std::is_same_v<T, uint64> && !std::is_same_v<T, int64>;

}  // namespace
#endif

template <class T>
void resampleDim1AtLevel(SimdLevel level, const T* source, std::uint64_t rows, std::uint64_t cols,
                         std::uint64_t planes, T* target, std::uint64_t outLength, const double* weights,
                         std::uint64_t taps, const std::uint64_t* offsets) noexcept {
#if AXISWARP_X86_LEVELS
    if constexpr (hasVectorKernels<T>) {
        if (level == SimdLevel::avx2) {
            simd_avx2::resampleDim1<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
            return;
        }
        if (level == SimdLevel::sse2) {
            simd_sse2::resampleDim1<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
            return;
        }
    }
#else
    (void)level;
#endif
    resampleDim1<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
}

template <class T>
void resampleDim2AtLevel(SimdLevel level, const T* source, std::uint64_t rows, std::uint64_t cols,
                         std::uint64_t planes, T* target, std::uint64_t outLength, const double* weights,
                         std::uint64_t taps, const std::uint64_t* offsets) noexcept {
#if AXISWARP_X86_LEVELS
    if constexpr (hasVectorKernels<T>) {
        if (level == SimdLevel::avx2) {
            simd_avx2::resampleDim2<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
            return;
        }
        if (level == SimdLevel::sse2) {
            simd_sse2::resampleDim2<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
            return;
        }
    }
#else
    (void)level;
#endif
    resampleDim2<T>(source, rows, cols, planes, target, outLength, weights, taps, offsets);
}

template <class T>
void resampleDim1Fast(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes, T* target,
                      std::uint64_t outLength, const double* weights, std::uint64_t taps,
                      const std::uint64_t* offsets) noexcept {
    resampleDim1AtLevel<T>(activeSimdLevel(), source, rows, cols, planes, target, outLength, weights, taps,
                           offsets);
}

template <class T>
void resampleDim2Fast(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes, T* target,
                      std::uint64_t outLength, const double* weights, std::uint64_t taps,
                      const std::uint64_t* offsets) noexcept {
    resampleDim2AtLevel<T>(activeSimdLevel(), source, rows, cols, planes, target, outLength, weights, taps,
                           offsets);
}

#define AXISWARP_INSTANTIATE_SELECTED_KERNELS(T)                                                             \
    template void resampleDim1Fast<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*,            \
                                      std::uint64_t, const double*, std::uint64_t,                          \
                                      const std::uint64_t*) noexcept;                                       \
    template void resampleDim2Fast<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*,            \
                                      std::uint64_t, const double*, std::uint64_t,                          \
                                      const std::uint64_t*) noexcept;                                       \
    template void resampleDim1AtLevel<T>(SimdLevel, const T*, std::uint64_t, std::uint64_t, std::uint64_t,  \
                                         T*, std::uint64_t, const double*, std::uint64_t,                   \
                                         const std::uint64_t*) noexcept;                                    \
    template void resampleDim2AtLevel<T>(SimdLevel, const T*, std::uint64_t, std::uint64_t, std::uint64_t,  \
                                         T*, std::uint64_t, const double*, std::uint64_t,                   \
                                         const std::uint64_t*) noexcept;
AXISWARP_INSTANTIATE_SELECTED_KERNELS(double)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(single)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(uint8)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(uint16)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(uint32)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(uint64)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(int8)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(int16)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(int32)
AXISWARP_INSTANTIATE_SELECTED_KERNELS(int64)
#undef AXISWARP_INSTANTIATE_SELECTED_KERNELS

}  // namespace axiswarp
