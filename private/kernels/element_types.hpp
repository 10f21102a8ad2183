// The element types the kernels are instantiated for, under the names the
// image classes go by.
#ifndef AXISWARP_KERNELS_ELEMENT_TYPES_HPP
#define AXISWARP_KERNELS_ELEMENT_TYPES_HPP

#include <cfloat>
#include <cstdint>
#include <limits>

namespace axiswarp {

using single = float;
using uint8 = std::uint8_t;
using uint16 = std::uint16_t;
using uint32 = std::uint32_t;
using uint64 = std::uint64_t;
using int8 = std::int8_t;
using int16 = std::int16_t;
using int32 = std::int32_t;
using int64 = std::int64_t;

// Every rounding the kernels rely on is IEEE 754 binary32/binary64 rounding;
// a platform with other formats would silently give other results.
static_assert(std::numeric_limits<single>::is_iec559 && sizeof(single) == 4);
static_assert(std::numeric_limits<double>::is_iec559 && sizeof(double) == 8);

// Each double operation must round to double on its own. With excess
// precision (the x87 unit of 32-bit x86 without -msse2 -mfpmath=sse) sums are
// kept in 80-bit registers and rounded twice, which changes results.
#if !defined(FLT_EVAL_METHOD) || FLT_EVAL_METHOD != 0
#error "double arithmetic must be evaluated in double (on 32-bit x86 build with -msse2 -mfpmath=sse)"
#endif

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_ELEMENT_TYPES_HPP
