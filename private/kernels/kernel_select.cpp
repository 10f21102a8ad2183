#include "kernels/kernel_select.hpp"

#include <cstdint>
#include <cstdlib>
#include <tuple>

// The build defines AXISWARP_X86_LEVELS for x86 targets, 32- and 64-bit.
#ifndef AXISWARP_X86_LEVELS
#define AXISWARP_X86_LEVELS 0
#endif
#if AXISWARP_X86_LEVELS
#include <cpuid.h>
#endif

namespace axiswarp {

namespace {

#if AXISWARP_X86_LEVELS
// The register state the operating system saves and restores (XCR0), or 0
// when it does not let programs read it. Vector registers the system does
// not save would be lost at the first thread switch.
std::uint64_t savedRegisterState() noexcept {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) return 0;
    constexpr unsigned osxsave = 1u << 27;
    if ((ecx & osxsave) == 0) return 0;
    unsigned low = 0, high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (std::uint64_t{high} << 32) | low;
}
#endif

#if AXISWARP_X86_LEVELS || AXISWARP_NEON_LEVEL
// A level's table with the plain kernels in the entries it has no vectors for.
KernelTable complete(const KernelTable& level) noexcept {
    KernelTable table = level;
    std::apply(
        [](auto&... entries) {
            const auto fill = [](auto& e) {
                using Entries = std::remove_reference_t<decltype(e)>;
                const Entries& plain = std::get<Entries>(simd_scalar::kernelTable.entries);
                if (e.dim1 == nullptr) e.dim1 = plain.dim1;
                if (e.dim2 == nullptr) e.dim2 = plain.dim2;
            };
            (fill(entries), ...);
        },
        table.entries);
    return table;
}
#endif

struct Selection {
    SimdLevel supported;
    SimdLevel active;
    KernelTable tables[simdLevelCount];  // by SimdLevel; only the levels of this build are set
};

Selection select() noexcept {
    Selection s{};
    s.supported = supportedSimdLevel();
    const char* name = std::getenv("AXISWARP_SIMD");
    s.active = simdLevelFromName(name != nullptr ? std::string_view(name) : std::string_view(), s.supported);
    s.tables[static_cast<int>(SimdLevel::scalar)] = simd_scalar::kernelTable;
#if AXISWARP_X86_LEVELS
    s.tables[static_cast<int>(SimdLevel::sse2)] = complete(simd_sse2::kernelTable);
    s.tables[static_cast<int>(SimdLevel::avx2)] = complete(simd_avx2::kernelTable);
    s.tables[static_cast<int>(SimdLevel::avx512)] = complete(simd_avx512::kernelTable);
#endif
#if AXISWARP_NEON_LEVEL
    s.tables[static_cast<int>(SimdLevel::neon)] = complete(simd_neon::kernelTable);
#endif
    return s;
}

// Made once, at the first call, thread-safely.
const Selection& selection() noexcept {
    static const Selection chosen = select();
    return chosen;
}

constexpr bool isX86Level(SimdLevel level) noexcept {
    return level == SimdLevel::sse2 || level == SimdLevel::avx2 || level == SimdLevel::avx512;
}

}  // namespace

SimdLevel supportedSimdLevel() noexcept {
#if AXISWARP_X86_LEVELS
    // libgcc's flags already include the system's support of the AVX state;
    // the AVX-512 level also needs the opmask and both halves of the zmm
    // state saved (XCR0 bits 5 to 7), tested here explicitly.
    constexpr std::uint64_t avxState = 0x6;       // xmm and ymm
    constexpr std::uint64_t avx512State = 0xE0;   // opmask, upper zmm0-15, zmm16-31
    const std::uint64_t saved = savedRegisterState();
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl") &&
        (saved & (avxState | avx512State)) == (avxState | avx512State)) {
        return SimdLevel::avx512;
    }
    if (__builtin_cpu_supports("avx2") && (saved & avxState) == avxState) return SimdLevel::avx2;
    // SSE2 is the baseline of every x86 build (32-bit ones are compiled
    // with -msse2).
    return SimdLevel::sse2;
#elif AXISWARP_NEON_LEVEL
    // Advanced SIMD is part of every aarch64 processor.
    return SimdLevel::neon;
#else
    return SimdLevel::scalar;
#endif
}

bool simdLevelIncludes(SimdLevel outer, SimdLevel inner) noexcept {
    if (inner == SimdLevel::scalar || inner == outer) return true;
    return isX86Level(outer) && isX86Level(inner) && inner < outer;
}

const char* simdLevelName(SimdLevel level) noexcept {
    switch (level) {
        case SimdLevel::scalar: return "scalar";
        case SimdLevel::sse2: return "sse2";
        case SimdLevel::avx2: return "avx2";
        case SimdLevel::avx512: return "avx512";
        case SimdLevel::neon: return "neon";
    }
    return "unknown";
}

SimdLevel simdLevelFromName(std::string_view name, SimdLevel supported) noexcept {
    for (int n = 0; n < simdLevelCount; ++n) {
        const auto level = static_cast<SimdLevel>(n);
        if (name == simdLevelName(level)) return simdLevelIncludes(supported, level) ? level : supported;
    }
    return supported;
}

SimdLevel activeSimdLevel() noexcept { return selection().active; }

const KernelTable& kernelTableAt(SimdLevel level) noexcept {
    const Selection& s = selection();
    const SimdLevel limited = simdLevelIncludes(s.supported, level) ? level : s.supported;
    return s.tables[static_cast<int>(limited)];
}

const KernelTable& activeKernelTable() noexcept { return kernelTableAt(activeSimdLevel()); }

}  // namespace axiswarp
