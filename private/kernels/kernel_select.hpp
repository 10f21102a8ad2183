// The kernels the module runs: the vectorised ones at the widest level the
// processor has, the plain template kernels where vectors do not pay or a
// level has no vectors for an element type.
#ifndef AXISWARP_KERNELS_KERNEL_SELECT_HPP
#define AXISWARP_KERNELS_KERNEL_SELECT_HPP

#include <string_view>

#include "kernels/kernel_table.hpp"

namespace axiswarp {

// The widest level this processor and its operating system support: the
// instruction flags, and the register state the system saves on a switch.
SimdLevel supportedSimdLevel() noexcept;

// Whether a processor whose widest level is `outer` can run `inner`: the
// scalar level everywhere, an x86 level on an x86 level at least as wide.
bool simdLevelIncludes(SimdLevel outer, SimdLevel inner) noexcept;

// "scalar", "sse2", "avx2", "avx512", "neon", or "unknown".
const char* simdLevelName(SimdLevel level) noexcept;

// The level named by `name` where `supported` includes it. An empty or
// unknown name, or one of a level `supported` does not include (a wider x86
// level, or another architecture's), gives `supported`.
SimdLevel simdLevelFromName(std::string_view name, SimdLevel supported) noexcept;

// The level every call of this process runs at. It is fixed at the first
// call: the supported level, or the lower one that the environment variable
// AXISWARP_SIMD names. That variable is a test and diagnostic override (to
// compare levels or measure one), not a configuration, and is read once, so
// that no call reads the environment while a host may be changing it.
SimdLevel activeSimdLevel() noexcept;

// The complete table of a level (the supported one instead where that does
// not include it): every entry
// set, the types the level has no vectors for taken from the scalar level.
const KernelTable& kernelTableAt(SimdLevel level) noexcept;

// kernelTableAt(activeSimdLevel()).
const KernelTable& activeKernelTable() noexcept;

// Runs one pass with a table's kernels for T: along dimension 1 when the
// job's `dim` is 1, along dimension 2 for any other value. The only place
// that chooses a kernel from the dimension.
template <class T>
void runPass(const KernelTable& table, const ResizeJob<T>& pass) noexcept {
    const PassEntries<T>& entries = table.of<T>();
    (pass.dim == 1 ? entries.dim1 : entries.dim2)(pass);
}

}  // namespace axiswarp

#endif  // AXISWARP_KERNELS_KERNEL_SELECT_HPP
