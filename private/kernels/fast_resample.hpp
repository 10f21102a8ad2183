// The vectorised kernels: one body for every vector width, instantiated once
// per width in its own translation unit (fast_resample_sse2.cpp,
// fast_resample_avx2.cpp) with that width's Vec (kernels/simd/vec_*.hpp).
//
// Exactness. The lanes of a vector are different output samples, never
// different taps of one sample: every lane runs the same chain
// s = +0.0; s = s + x_t * w_t for t = 0, 1, ..., K - 1, one rounded
// multiplication and one rounded addition per tap, in tap order. Vector
// addition and multiplication round each lane exactly like the scalar
// operations, so every output sample is bit for bit the weightedSum of the
// plain kernels whatever the width, the number of accumulators or the
// traversal. The loads and stores of Vec reproduce toDoubleSample and
// saturateRound lane by lane. The 64-bit integer types are not served here.
//
// Everything in this header is a member of Resampler<V, T>, so every symbol
// an instantiation creates carries the width in its name and no inline code
// is shared between the baseline and the AVX2 translation units.
#ifndef AXISWARP_KERNELS_FAST_RESAMPLE_HPP
#define AXISWARP_KERNELS_FAST_RESAMPLE_HPP

#include <cstdint>

namespace axiswarp::fast {

template <class V, class T>
struct Resampler {
    using u64 = std::uint64_t;
    using D = typename V::D;
    static constexpr u64 W = V::lanes;

    // ------------------------------------------------------------------
    // Tuning, from the benchmark jobs in bench/ on a 2-core x86-64 server
    // (see docs/performance.md).
    //
    // Dimension 2: accumulators per row block. Each tap costs one broadcast
    // and, per accumulator, a load with conversion, a multiplication and an
    // addition; independent accumulators keep enough additions in flight to
    // cover their latency. 4 vectors (16 rows with AVX2) measured best; 8 ran
    // out of registers for the integer conversions and was no faster.
    static constexpr u64 dim2Vectors = 4;
    // Dimension 2 works on strips of rows, all output columns of a strip
    // before the next strip, so the K source columns an output column reads
    // are still in L1 for its neighbours, which read mostly the same columns.
    static constexpr u64 dim2StripBytes = 4096;
    // Dimension 1: columns processed together (lanes across columns), and the
    // rows of the transposed tile that holds them as doubles. 2 vectors of
    // columns keep two independent chains per tap with one broadcast; the
    // tile (rows x columns doubles) stays well inside L1.
    static constexpr u64 dim1Vectors = 2;
    static constexpr u64 dim1Columns = dim1Vectors * W;
    static constexpr u64 dim1TileRows = 256;
    // Output samples of one column finished per tile fill; their sums wait
    // in a small tile until they are stored column by column.
    static constexpr u64 dim1ChunkSamples = 64;
    // Taps gathered at a time where no tile fits (row tails in dimension 2,
    // samples whose taps spread over more than a tile in dimension 1).
    static constexpr u64 gatherTaps = 32;

    static constexpr u64 minU(u64 a, u64 b) noexcept { return a < b ? a : b; }
    static constexpr double toDouble(T element) noexcept { return static_cast<double>(element); }

    // ==================================================================
    // Dimension 2: lanes are consecutive rows, which share every table entry.

    // `count` vectors of W rows starting at row index `first` (relative to the
    // plane), for one output column whose taps are w[0..K), o[0..K).
    template <u64 count>
    static void dim2Block(const T* source, u64 sourceBase, T* target, u64 targetBase, const double* w,
                          const u64* o, u64 taps) noexcept {
        D acc[count];
        for (u64 u = 0; u < count; ++u) acc[u] = V::zero();
        for (u64 t = 0; t < taps; ++t) {
            const D weight = V::broadcast(w[t]);
            const T* column = source + (sourceBase + o[t]);
            for (u64 u = 0; u < count; ++u) {
                acc[u] = V::add(acc[u], V::mul(V::load(column + u * W), weight));
            }
        }
        for (u64 u = 0; u < count; ++u) V::store(target + (targetBase + u * W), acc[u]);
    }

    // The last rows of a strip, fewer than W: their taps are copied into a
    // zero-padded buffer a group at a time, the padding lanes computed and
    // discarded.
    static void dim2Tail(const T* source, u64 sourceBase, T* target, u64 targetBase, u64 rowCount,
                         const double* w, const u64* o, u64 taps) noexcept {
        alignas(64) double gathered[gatherTaps * W];
        D acc = V::zero();
        for (u64 t0 = 0; t0 < taps; t0 += gatherTaps) {
            const u64 n = minU(gatherTaps, taps - t0);
            for (u64 t = 0; t < n; ++t) {
                const T* column = source + (sourceBase + o[t0 + t]);
                for (u64 l = 0; l < W; ++l) gathered[t * W + l] = l < rowCount ? toDouble(column[l]) : 0.0;
            }
            for (u64 t = 0; t < n; ++t) {
                acc = V::add(acc, V::mul(V::load(gathered + t * W), V::broadcast(w[t0 + t])));
            }
        }
        T stored[W];
        V::store(stored, acc);
        for (u64 l = 0; l < rowCount; ++l) target[targetBase + l] = stored[l];
    }

    static void dim2(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                     const double* weights, u64 taps, const u64* offsets) noexcept {
        constexpr u64 block = dim2Vectors * W;
        constexpr u64 stripBlocks = dim2StripBytes / sizeof(T) / block;
        constexpr u64 strip = (stripBlocks > 0 ? stripBlocks : 1) * block;
        const u64 sourcePlane = rows * cols;
        const u64 targetPlane = rows * outLength;
        for (u64 p = 0; p < planes; ++p) {
            for (u64 r0 = 0; r0 < rows; r0 += strip) {
                const u64 stripRows = minU(strip, rows - r0);
                for (u64 j = 0; j < outLength; ++j) {
                    const double* w = weights + j * taps;
                    const u64* o = offsets + j * taps;
                    const u64 sourceBase = p * sourcePlane + r0;
                    const u64 targetBase = p * targetPlane + j * rows + r0;
                    u64 i = 0;
                    for (; stripRows - i >= block; i += block) {
                        dim2Block<dim2Vectors>(source, sourceBase + i, target, targetBase + i, w, o, taps);
                    }
                    for (; stripRows - i >= W; i += W) {
                        dim2Block<1>(source, sourceBase + i, target, targetBase + i, w, o, taps);
                    }
                    if (i < stripRows) {
                        dim2Tail(source, sourceBase + i, target, targetBase + i, stripRows - i, w, o, taps);
                    }
                }
            }
        }
    }

    // ==================================================================
    // Dimension 1: lanes are neighbouring columns, which share every table
    // entry. The rows a run of output samples needs are copied, converted to
    // double, into a tile with the columns side by side (row r of the tile
    // holds that row of dim1Columns columns), so that a tap is one contiguous
    // load per vector. Columns past the last one are zero lanes, computed and
    // never stored.

    // Element positions stay indices until an access, so that a source that
    // is never read (K = 0) may be null.
    struct Dim1Group {
        const T* source;
        u64 start;    // position of the group's first column
        u64 rows;     // M
        u64 columns;  // valid columns in the group, 1 .. dim1Columns
        const T* at(u64 column, u64 row) const noexcept { return source + (start + column * rows + row); }
    };

    // Rows [lo, hi) of the group's columns into the tile; W-by-W blocks are
    // loaded down each column with Vec's converting load and transposed.
    static void fillTile(double* tile, const Dim1Group& group, u64 lo, u64 hi) noexcept {
        u64 r = lo;
        for (; hi - r >= W; r += W) {
            for (u64 b = 0; b < dim1Vectors; ++b) {
                D lanes[W];
                for (u64 k = 0; k < W; ++k) {
                    const u64 c = b * W + k;
                    lanes[k] = c < group.columns ? V::load(group.at(c, r)) : V::zero();
                }
                V::transpose(lanes);
                for (u64 k = 0; k < W; ++k) V::store(tile + ((r - lo + k) * dim1Columns + b * W), lanes[k]);
            }
        }
        for (; r < hi; ++r) {
            for (u64 c = 0; c < dim1Columns; ++c) {
                tile[(r - lo) * dim1Columns + c] = c < group.columns ? toDouble(*group.at(c, r)) : 0.0;
            }
        }
    }

    // One output sample for every column of the group, straight from the
    // source, for taps that do not fit in a tile.
    static void gatherSample(double* sums, const Dim1Group& group, const double* w, const u64* o,
                             u64 taps) noexcept {
        alignas(64) double gathered[gatherTaps * dim1Columns];
        D acc[dim1Vectors];
        for (u64 u = 0; u < dim1Vectors; ++u) acc[u] = V::zero();
        for (u64 t0 = 0; t0 < taps; t0 += gatherTaps) {
            const u64 n = minU(gatherTaps, taps - t0);
            for (u64 t = 0; t < n; ++t) {
                for (u64 c = 0; c < dim1Columns; ++c) {
                    gathered[t * dim1Columns + c] =
                        c < group.columns ? toDouble(*group.at(c, o[t0 + t])) : 0.0;
                }
            }
            for (u64 t = 0; t < n; ++t) {
                const D weight = V::broadcast(w[t0 + t]);
                for (u64 u = 0; u < dim1Vectors; ++u) {
                    acc[u] = V::add(acc[u], V::mul(V::load(gathered + (t * dim1Columns + u * W)), weight));
                }
            }
        }
        for (u64 u = 0; u < dim1Vectors; ++u) V::store(sums + u * W, acc[u]);
    }

    // Stores `count` finished samples (starting at output sample j) of every
    // column of the group: W-by-W blocks of the sums tile are transposed back
    // so that each column gets W consecutive samples in one rounding store.
    static void flushSums(T* target, u64 outLength, const Dim1Group& group, const double* sums, u64 j,
                          u64 count) noexcept {
        u64 s = 0;
        for (; count - s >= W; s += W) {
            for (u64 b = 0; b < dim1Vectors; ++b) {
                D lanes[W];
                for (u64 k = 0; k < W; ++k) lanes[k] = V::load(sums + ((s + k) * dim1Columns + b * W));
                V::transpose(lanes);
                for (u64 k = 0; k < W && b * W + k < group.columns; ++k) {
                    V::store(target + ((b * W + k) * outLength + j + s), lanes[k]);
                }
            }
        }
        for (; s < count; ++s) {
            T stored[dim1Columns];
            for (u64 u = 0; u < dim1Vectors; ++u) {
                V::store(stored + u * W, V::load(sums + (s * dim1Columns + u * W)));
            }
            for (u64 c = 0; c < group.columns; ++c) target[c * outLength + j + s] = stored[c];
        }
    }

    // Smallest and one past the largest offset of one sample's taps.
    static void tapSpan(const u64* o, u64 taps, u64& lo, u64& hi) noexcept {
        for (u64 t = 0; t < taps; ++t) {
            lo = o[t] < lo ? o[t] : lo;
            hi = o[t] + 1 > hi ? o[t] + 1 : hi;
        }
    }

    static void dim1(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                     const double* weights, u64 taps, const u64* offsets) noexcept {
        alignas(64) double tile[dim1TileRows * dim1Columns];
        alignas(64) double sums[dim1ChunkSamples * dim1Columns];
        const u64 columns = cols * planes;
        if (outLength == 0) return;
        for (u64 c0 = 0; c0 < columns; c0 += dim1Columns) {
            const Dim1Group group{source, c0 * rows, rows, minU(dim1Columns, columns - c0)};
            T* const groupTarget = target + c0 * outLength;
            u64 j = 0;
            while (j < outLength) {
                // Samples j .. end-1 whose taps together span at most a tile.
                u64 lo = ~u64{0};
                u64 hi = 0;
                tapSpan(offsets + j * taps, taps, lo, hi);
                if (hi > lo && hi - lo > dim1TileRows) {
                    gatherSample(sums, group, weights + j * taps, offsets + j * taps, taps);
                    flushSums(groupTarget, outLength, group, sums, j, 1);
                    ++j;
                    continue;
                }
                u64 end = j + 1;
                while (end < outLength && end - j < dim1ChunkSamples) {
                    u64 nextLo = lo;
                    u64 nextHi = hi;
                    tapSpan(offsets + end * taps, taps, nextLo, nextHi);
                    if (nextHi > nextLo && nextHi - nextLo > dim1TileRows) break;
                    lo = nextLo;
                    hi = nextHi;
                    ++end;
                }
                if (hi > lo) fillTile(tile, group, lo, hi);
                for (u64 s = j; s < end; ++s) {
                    const double* w = weights + s * taps;
                    const u64* o = offsets + s * taps;
                    D acc[dim1Vectors];
                    for (u64 u = 0; u < dim1Vectors; ++u) acc[u] = V::zero();
                    for (u64 t = 0; t < taps; ++t) {
                        const D weight = V::broadcast(w[t]);
                        const double* row = tile + (o[t] - lo) * dim1Columns;
                        for (u64 u = 0; u < dim1Vectors; ++u) {
                            acc[u] = V::add(acc[u], V::mul(V::load(row + u * W), weight));
                        }
                    }
                    for (u64 u = 0; u < dim1Vectors; ++u) {
                        V::store(sums + ((s - j) * dim1Columns + u * W), acc[u]);
                    }
                }
                flushSums(groupTarget, outLength, group, sums, j, end - j);
                j = end;
            }
        }
    }
};

}  // namespace axiswarp::fast

#endif  // AXISWARP_KERNELS_FAST_RESAMPLE_HPP
