#include "block_store.hpp"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#if defined(_WIN32)
#  include <windows.h>
#else
#  include <sys/mman.h>
#  include <unistd.h>
#endif

#if defined(__has_feature)
#  if __has_feature(address_sanitizer)
#    define ZUHOST_ASAN 1
#  endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#  define ZUHOST_ASAN 1
#endif
#if defined(ZUHOST_ASAN)
#  include <sanitizer/asan_interface.h>
#endif

namespace zuhost::blocks {

namespace {

// The 16 bytes in front of every block's data.
struct Header {
    std::uint64_t mapped;  // length of a large block's mapping; 0 for a malloc block
    std::uint32_t state;
    std::uint32_t unused;
};
static_assert(sizeof(Header) == 16);

constexpr std::uint32_t kLive = 0x4C495645;    // handed out
constexpr std::uint32_t kCached = 0x43414348;  // waiting in the cache
constexpr std::uint32_t kGone = 0x474F4E45;    // a small block given back to malloc

// A large block's data starts one cache line into its mapping, the header
// just in front of it.
constexpr std::uint64_t kLargeOffset = 64;
constexpr std::uint64_t kPage = 4096;

// A cached block serves a request whose mapping would be at most this
// fraction smaller: a loop of equal calls asks for equal sizes, and a block
// much larger than the request would hold memory its next user needs.
constexpr std::uint64_t kSlackDivisor = 8;
// At most this many blocks wait: the search is linear, a few hundred
// comparisons against a request of 128 KiB or more. A Dask computation
// persists one block per output chunk and frees them all at once (144 of
// 1 MiB for 12000^2 float32 halved in 1024^2 chunks); with room for only 64
// the rest went back and were faulted in afresh by the next computation.
constexpr std::size_t kMaxCachedBlocks = 256;

constexpr std::uint64_t kUnset = std::numeric_limits<std::uint64_t>::max();

void markAddressable(void* begin, std::uint64_t bytes) noexcept {
#if defined(ZUHOST_ASAN)
    ASAN_UNPOISON_MEMORY_REGION(begin, bytes);
#else
    (void)begin, (void)bytes;
#endif
}

// Under AddressSanitizer a cached block's data is unaddressable, so that a
// stale pointer into it is reported, as a use after free would be.
void markUnaddressable(void* begin, std::uint64_t bytes) noexcept {
#if defined(ZUHOST_ASAN)
    ASAN_POISON_MEMORY_REGION(begin, bytes);
#else
    (void)begin, (void)bytes;
#endif
}

Header* headerOf(void* data) noexcept { return static_cast<Header*>(data) - 1; }
unsigned char* baseOf(Header* header) noexcept {
    return reinterpret_cast<unsigned char*>(header + 1) - kLargeOffset;
}

[[noreturn]] void fail(const char* what) noexcept {
    std::fprintf(stderr, "zuhost: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

void* mapPages(std::uint64_t length) noexcept {
#if defined(_WIN32)
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(length), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
#else
    void* base = ::mmap(nullptr, static_cast<std::size_t>(length), PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return base == MAP_FAILED ? nullptr : base;
#endif
}

void unmapPages(void* base, std::uint64_t length) noexcept {
    // The shadow of the range must be clean before the range can be mapped again.
    markAddressable(base, length);
#if defined(_WIN32)
    (void)length;
    VirtualFree(base, 0, MEM_RELEASE);
#else
    ::munmap(base, static_cast<std::size_t>(length));
#endif
}

std::uint64_t defaultBound() noexcept {
    std::uint64_t bound = std::uint64_t{1} << 30;
    if (const char* text = std::getenv("ZUHOST_BLOCK_CACHE_MIB"); text != nullptr && text[0] != '\0') {
        char* end = nullptr;
        const unsigned long long mib = std::strtoull(text, &end, 10);
        if (*end == '\0' && mib <= (std::uint64_t{1} << 24)) return mib << 20;
    }
#if defined(_WIN32)
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (GlobalMemoryStatusEx(&status) != 0) bound = std::min<std::uint64_t>(bound, status.ullTotalPhys / 8);
#else
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages > 0 && pageSize > 0)
        bound = std::min<std::uint64_t>(bound, std::uint64_t(pages) / 8 * std::uint64_t(pageSize));
#endif
    return bound;
}

struct Cached {
    Header* header;
    std::uint64_t mapped;
};

struct Cache {
    Cache() { blocks.reserve(kMaxCachedBlocks + 1); }
    std::mutex lock;
    std::vector<Cached> blocks;  // oldest first; never grows beyond its first capacity
    std::uint64_t bytes = 0;
    std::atomic<std::uint64_t> bound{kUnset};
};

Cache& cache() noexcept {
    static Cache* instance = new Cache;  // never destroyed: blocks may be given back during exit
    return *instance;
}

std::uint64_t boundOf(Cache& c) noexcept {
    std::uint64_t bound = c.bound.load(std::memory_order_relaxed);
    if (bound == kUnset) {
        std::uint64_t expected = kUnset;
        c.bound.compare_exchange_strong(expected, defaultBound(), std::memory_order_relaxed);
        bound = c.bound.load(std::memory_order_relaxed);
    }
    return bound;
}

// Returns blocks to the operating system, oldest first, until the cache
// holds at most `bound` bytes. Called with the lock held: this allocates
// nothing, so it cannot fail, and eviction is rare next to reuse.
void evictBeyond(Cache& c, std::uint64_t bound) noexcept {
    std::size_t n = 0;
    while (n < c.blocks.size() && (c.bytes > bound || c.blocks.size() - n > kMaxCachedBlocks)) {
        unmapPages(baseOf(c.blocks[n].header), c.blocks[n].mapped);
        c.bytes -= c.blocks[n].mapped;
        ++n;
    }
    c.blocks.erase(c.blocks.begin(), c.blocks.begin() + static_cast<std::ptrdiff_t>(n));
}

void* acquireLarge(std::uint64_t bytes) noexcept {
    if (bytes > std::numeric_limits<std::uint64_t>::max() - kLargeOffset - kPage) return nullptr;
    const std::uint64_t mapped = (kLargeOffset + bytes + kPage - 1) / kPage * kPage;
    // The mapping's length is a size_t: on a 32-bit target a length of 4 GiB
    // or more would be cut to its low bits and map a block far smaller than
    // asked for.
    if constexpr (sizeof(std::size_t) < sizeof(std::uint64_t)) {
        if (mapped > std::numeric_limits<std::size_t>::max()) return nullptr;
    }
    Cache& c = cache();
    Header* header = nullptr;
    {
        std::lock_guard<std::mutex> guard(c.lock);
        // The smallest block that fits; among equals the one freed last.
        std::size_t best = c.blocks.size();
        for (std::size_t i = c.blocks.size(); i-- > 0;) {
            const std::uint64_t have = c.blocks[i].mapped;
            if (have >= mapped && have - mapped <= mapped / kSlackDivisor &&
                (best == c.blocks.size() || have < c.blocks[best].mapped))
                best = i;
        }
        if (best != c.blocks.size()) {
            header = c.blocks[best].header;
            c.bytes -= c.blocks[best].mapped;
            c.blocks.erase(c.blocks.begin() + static_cast<std::ptrdiff_t>(best));
        }
    }
    if (header != nullptr) {
        if (header->state != kCached) fail("a cached block was overwritten while it waited");
    } else {
        void* base = mapPages(mapped);
        if (base == nullptr) return nullptr;
        header = reinterpret_cast<Header*>(static_cast<unsigned char*>(base) + kLargeOffset) - 1;
        header->mapped = mapped;
    }
    header->state = kLive;
    void* data = header + 1;
    markAddressable(data, bytes);
    markUnaddressable(static_cast<unsigned char*>(data) + bytes, mapped - kLargeOffset - bytes);
    return data;
}

void releaseLarge(Header* header) noexcept {
    const std::uint64_t mapped = header->mapped;
    header->state = kCached;
    markUnaddressable(header + 1, mapped - kLargeOffset);
    Cache& c = cache();
    const std::uint64_t bound = boundOf(c);
    if (mapped > bound) return unmapPages(baseOf(header), mapped);
    std::lock_guard<std::mutex> guard(c.lock);
    c.blocks.push_back({header, mapped});  // within the capacity reserved up front
    c.bytes += mapped;
    evictBeyond(c, bound);
}

}  // namespace

void* acquire(std::uint64_t bytes) noexcept {
    if (bytes >= kLargeBlockFrom) return acquireLarge(bytes);
    void* raw = std::malloc(static_cast<std::size_t>(bytes) + sizeof(Header));
    if (raw == nullptr) return nullptr;
    auto* header = static_cast<Header*>(raw);
    header->mapped = 0;
    header->state = kLive;
    return header + 1;
}

void release(void* block) noexcept {
    if (block == nullptr) return;
    Header* header = headerOf(block);
    if (header->state != kLive) fail("a block was given back that is not live (freed twice?)");
    if (header->mapped != 0) return releaseLarge(header);
    header->state = kGone;
    std::free(header);
}

std::uint64_t cacheBound() noexcept { return boundOf(cache()); }

void setCacheBound(std::uint64_t bytes) noexcept {
    Cache& c = cache();
    c.bound.store(bytes, std::memory_order_relaxed);
    std::lock_guard<std::mutex> guard(c.lock);
    evictBeyond(c, bytes);
}

CacheState cacheState() noexcept {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    return {c.blocks.size(), c.bytes};
}

void emptyCache() noexcept {
    Cache& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    evictBeyond(c, 0);
}

}  // namespace zuhost::blocks
