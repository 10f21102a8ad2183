// The vectorised kernels of each instruction-set level, one set per
// namespace. Each set is compiled in its own translation unit with that
// level's flags; kernel_select.hpp chooses among them at run time. They take
// the parameters of resampleDim1 / resampleDim2 and give the same output bit
// for bit. Instantiated for the 8-, 16- and 32-bit integer types, single and
// double.
#ifndef AXISWARP_KERNELS_FAST_RESAMPLE_LEVELS_HPP
#define AXISWARP_KERNELS_FAST_RESAMPLE_LEVELS_HPP

#include <cstdint>

#define AXISWARP_DECLARE_FAST_KERNELS                                                                      \
    template <class T>                                                                                     \
    void resampleDim1(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,       \
                      T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,       \
                      const std::uint64_t* offsets) noexcept;                                              \
    template <class T>                                                                                     \
    void resampleDim2(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,       \
                      T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,       \
                      const std::uint64_t* offsets) noexcept;

namespace axiswarp::simd_sse2 {
AXISWARP_DECLARE_FAST_KERNELS
}  // namespace axiswarp::simd_sse2

namespace axiswarp::simd_avx2 {
AXISWARP_DECLARE_FAST_KERNELS
}  // namespace axiswarp::simd_avx2

#undef AXISWARP_DECLARE_FAST_KERNELS

// Defines and instantiates one level's entries over its Vec; used once by
// each level's translation unit, inside that level's namespace.
#define AXISWARP_DEFINE_FAST_KERNELS(VEC)                                                                  \
    template <class T>                                                                                     \
    void resampleDim1(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,       \
                      T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,       \
                      const std::uint64_t* offsets) noexcept {                                             \
        ::axiswarp::fast::Resampler<VEC, T>::dim1(source, rows, cols, planes, target, outLength, weights,  \
                                                  taps, offsets);                                          \
    }                                                                                                      \
    template <class T>                                                                                     \
    void resampleDim2(const T* source, std::uint64_t rows, std::uint64_t cols, std::uint64_t planes,       \
                      T* target, std::uint64_t outLength, const double* weights, std::uint64_t taps,       \
                      const std::uint64_t* offsets) noexcept {                                             \
        ::axiswarp::fast::Resampler<VEC, T>::dim2(source, rows, cols, planes, target, outLength, weights,  \
                                                  taps, offsets);                                          \
    }                                                                                                      \
    AXISWARP_INSTANTIATE_FAST_KERNELS(double)                                                              \
    AXISWARP_INSTANTIATE_FAST_KERNELS(float)                                                               \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::uint8_t)                                                        \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::uint16_t)                                                       \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::uint32_t)                                                       \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::int8_t)                                                         \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::int16_t)                                                        \
    AXISWARP_INSTANTIATE_FAST_KERNELS(std::int32_t)

#define AXISWARP_INSTANTIATE_FAST_KERNELS(T)                                                               \
    template void resampleDim1<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*, std::uint64_t, \
                                  const double*, std::uint64_t, const std::uint64_t*) noexcept;            \
    template void resampleDim2<T>(const T*, std::uint64_t, std::uint64_t, std::uint64_t, T*, std::uint64_t, \
                                  const double*, std::uint64_t, const std::uint64_t*) noexcept;

#endif  // AXISWARP_KERNELS_FAST_RESAMPLE_LEVELS_HPP
