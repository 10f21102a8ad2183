// Where the stand-in host's data and scratch blocks come from.
//
// Small blocks come from malloc. Large ones (kLargeBlockFrom bytes and more)
// are mapped from the operating system page by page, and when they are given
// back they wait in a bounded cache of recently freed blocks, so that a loop
// of equal calls (the command line's pages, Python's repeated resizes) finds
// its arrays' memory already faulted in and does not pay the kernel to clear
// fresh pages again on every call. See cacheBound() for the bound.
//
// Every block carries a small header in front of its data, so that release()
// can tell a large block from a small one, and catches a block given back
// twice, which the cache would otherwise hand to two owners.
#ifndef ZUHOST_BLOCK_STORE_HPP
#define ZUHOST_BLOCK_STORE_HPP

#include <cstddef>
#include <cstdint>

namespace zuhost::blocks {

// Blocks of this many bytes or more are mapped and cached: glibc's own
// default threshold for mapping a block rather than carving it from the heap
// (a threshold that glibc raises as blocks are freed, except in a process
// that sets MALLOC_TRIM_THRESHOLD_, as Dask's worker processes do). Smaller
// blocks stay with malloc, which reuses them well on its own.
inline constexpr std::uint64_t kLargeBlockFrom = std::uint64_t{128} << 10;

// A block of at least `bytes` bytes, aligned to 16 bytes (a large one to 64), its contents
// unspecified (a cached block keeps what its last owner wrote). Returns null
// when the memory cannot be had; the caller raises the host's error.
void* acquire(std::uint64_t bytes) noexcept;

// Gives a block from acquire() back: a large one waits in the cache, or goes
// back to the operating system when the cache would grow beyond its bound.
// Aborts on a block that is not live (given back twice, or never acquired).
void release(void* block) noexcept;

// The cache's bound in bytes: ZUHOST_BLOCK_CACHE_MIB (MiB, 0 turns the cache
// off) when set when the first large block is made, otherwise the smaller of
// 1 GiB and an eighth of physical memory.
std::uint64_t cacheBound() noexcept;
// Sets the bound (0 turns the cache off) and returns what lies beyond it.
void setCacheBound(std::uint64_t bytes) noexcept;

struct CacheState {
    std::uint64_t blocks = 0;  // large blocks waiting in the cache
    std::uint64_t bytes = 0;   // their mapped size
};
CacheState cacheState() noexcept;

// Returns every cached block to the operating system.
void emptyCache() noexcept;

}  // namespace zuhost::blocks

#endif  // ZUHOST_BLOCK_STORE_HPP
