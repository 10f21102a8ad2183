// Helpers shared by the kernel bodies in this folder.
//
// Every file in kernels/fast/ is a kernel body: plain C++ over the level's
// `Vec` (kernels/simd/vec_*.hpp), with no instruction-set code of its own. A
// level's translation unit (kernels/levels/level_*.cpp) includes them inside
// its own namespace, after its Vec, so each level compiles its own copy with
// its own flags and no inline symbol is shared between levels (the linker
// may keep any one copy of a shared inline function, and a wider level's copy
// must never serve a narrower one).
//
// Exactness. The lanes of a vector are different output samples, never
// different taps of one sample: every lane runs the same chain
// s = +0.0; s = s + x_t * w_t for t = 0, 1, ..., K - 1, one rounded
// multiplication and one rounded addition per tap, in tap order. Vector
// addition and multiplication round each lane exactly like the scalar
// operations, so every output sample is bit for bit the weightedSumOfTaps
// of the plain kernels whatever the width, the number of accumulators or the
// traversal. Elements become doubles only through Vec::load and sums become
// elements only through Vec::store, which reproduce toDoubleSample and
// saturateRound lane by lane; the bodies never convert a sample themselves.

using u64 = std::uint64_t;
using D = Vec::D;
inline constexpr u64 W = Vec::lanes;

constexpr u64 minU(u64 a, u64 b) noexcept { return a < b ? a : b; }

// Smallest and one past the largest offset of one sample's taps.
inline void tapSpan(const u64* o, u64 taps, u64& lo, u64& hi) noexcept {
    for (u64 t = 0; t < taps; ++t) {
        lo = o[t] < lo ? o[t] : lo;
        hi = o[t] + 1 > hi ? o[t] + 1 : hi;
    }
}

// Lane l is from[l] for l < count and zero after it, converted by Vec's load.
template <class T>
D loadFirst(const T* from, u64 count) noexcept {
    T lanes[W] = {};
    for (u64 l = 0; l < count; ++l) lanes[l] = from[l];
    return Vec::load(lanes);
}

// Lane l is base[index[l]] for every lane.
template <class T>
D loadGathered(const T* base, const u64* index) noexcept {
    T lanes[W];
    for (u64 l = 0; l < W; ++l) lanes[l] = base[index[l]];
    return Vec::load(lanes);
}

// The first `count` lanes of the rounded sums into to[0 .. count).
template <class T>
void storeFirst(T* to, D sums, u64 count) noexcept {
    T lanes[W];
    Vec::store(lanes, sums);
    for (u64 l = 0; l < count; ++l) to[l] = lanes[l];
}

// Taps gathered at a time where no tile fits (row tails down rows, samples
// whose taps spread over more than a tile across columns).
inline constexpr u64 gatherTaps = 32;

// The tiled strategies' plan, made once per call for all groups of columns or
// planes (the tables are the same for every group): splits output samples
// from `first` on into at most `capacity` chunks of at most `perChunk`
// samples whose elements (spanOf(j, lo, hi) widens [lo, hi) by sample j's)
// fit in a tile of `tileRows`; a sample that does not fit alone becomes a
// gather chunk. Returns how many. K = 0 leaves a span empty, and its chunk
// has nothing to fill.
template <class Chunk, class SpanOf>
u64 planChunks(Chunk* chunks, u64 capacity, u64 first, u64 outLength, u64 perChunk, u64 tileRows,
               SpanOf spanOf) noexcept {
    u64 n = 0;
    u64 j = first;
    while (j < outLength && n < capacity) {
        u64 lo = ~u64{0};
        u64 hi = 0;
        spanOf(j, lo, hi);
        if (hi > lo && hi - lo > tileRows) {
            chunks[n++] = Chunk{j, 1, 0, 0, true};
            ++j;
            continue;
        }
        u64 end = j + 1;
        while (end < outLength && end - j < perChunk) {
            u64 nextLo = lo;
            u64 nextHi = hi;
            spanOf(end, nextLo, nextHi);
            if (nextHi > nextLo && nextHi - nextLo > tileRows) break;
            lo = nextLo;
            hi = nextHi;
            ++end;
        }
        chunks[n++] = hi > lo ? Chunk{j, end - j, lo, hi, false} : Chunk{j, end - j, 0, 0, false};
        j = end;
    }
    return n;
}
