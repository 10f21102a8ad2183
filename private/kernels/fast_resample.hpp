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
#include <type_traits>

namespace axiswarp::fast {

template <class V, class T>
struct Resampler {
    using u64 = std::uint64_t;
    using D = typename V::D;
    static constexpr u64 W = V::lanes;

    // ------------------------------------------------------------------
    // Tuning, from the benchmark jobs in bench/ (docs/performance.md) on a
    // 2-core AVX2 server VM; the figures quoted are from those runs.
    //
    // Dimension 2: vectors of rows per block, each its own sum. Each tap costs
    // one broadcast and, per vector, a load, a multiplication and an
    // addition; the independent sums keep several additions in flight to
    // cover their latency (4 vectors: 16 rows with AVX2, 8 with SSE2).
    static constexpr u64 dim2Vectors = 4;
    // Without a tile, dimension 2 works on strips of rows, all output
    // columns of a strip before the next strip, so that the K source column
    // pieces an output column reads (K times the strip) are still in L1 for
    // its neighbours, which read mostly the same columns. Sized by K: a fixed
    // 4 KiB strip was best with K = 12 (J3) but cut the K = 1 copy (J5) into
    // pieces that cost twice the whole columns.
    static constexpr u64 dim2DirectWorkingSet = 32768;
    // Integer samples cost a widening and a conversion per load, which the
    // direct loop pays again for every tap that reads the sample (K L / N
    // times). From 4 taps on they are converted once into a tile of doubles
    // (strips of rows by a window of source columns) that all output columns
    // of a chunk read; this halved the uint8 passes of J1 and J2. single and
    // double load at nearly the cost of a tile read, and with 1 or 2 taps the
    // copy does not pay back, so those stay direct (J3, J4, J5 were slower
    // through the tile).
    static constexpr bool tileDim2(u64 taps) noexcept { return !std::is_floating_point_v<T> && taps >= 4; }
    static constexpr u64 dim2TileVectors = 8;
    static constexpr u64 dim2StripRows = 32;
    static constexpr u64 dim2PrefetchStrips = 2;
    static constexpr u64 dim2TileColumns = 64;
    static constexpr u64 dim2ChunkSamples = 64;
    static constexpr u64 dim2IndexCapacity = 2048;
    // Dimension 1: columns processed together (lanes across columns) and a
    // tile of 2048 doubles (16 KiB, well inside L1) holding their rows. With
    // integer samples and 4 or more taps, 4 vectors of columns (16 with AVX2)
    // with 2 samples at a time keep 8 independent sums per tap and halve the
    // broadcasts per product: J1 and J2 ran 25-40% faster than with 2
    // vectors. With 1 or 2 taps, or floating-point samples, 4 vectors were
    // slower (J4, J5: twice as many column streams in and out for little
    // arithmetic), so they keep 2.
    static constexpr bool wideDim1(u64 taps) noexcept { return !std::is_floating_point_v<T> && taps >= 4; }
    static constexpr u64 dim1TileDoubles = 2048;
    // Output samples of one column finished per tile fill; their sums wait
    // in a small tile until they are stored column by column.
    static constexpr u64 dim1ChunkSamples = 64;
    // Samples computed side by side from one tile: with 2 vectors of columns,
    // going from 1 to 2 took J1's dimension-1 pass from 27.6 to 23.6 ms and
    // J2's from 74 to 44 ms.
    static constexpr u64 dim1Interleave = 2;
    // Taps gathered at a time where no tile fits (row tails in dimension 2,
    // samples whose taps spread over more than a tile in dimension 1).
    static constexpr u64 gatherTaps = 32;

    static constexpr u64 minU(u64 a, u64 b) noexcept { return a < b ? a : b; }
    static constexpr double toDouble(T element) noexcept { return static_cast<double>(element); }

    // Smallest and one past the largest offset of one sample's taps.
    static void tapSpan(const u64* o, u64 taps, u64& lo, u64& hi) noexcept {
        for (u64 t = 0; t < taps; ++t) {
            lo = o[t] < lo ? o[t] : lo;
            hi = o[t] + 1 > hi ? o[t] + 1 : hi;
        }
    }

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

    // Output columns first .. first+count-1 straight from the source, for
    // samples whose taps spread over more columns than a tile holds.
    static void dim2Direct(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                           const double* weights, u64 taps, const u64* offsets, u64 first, u64 count) noexcept {
        constexpr u64 block = dim2Vectors * W;
        const u64 stripBlocks = dim2DirectWorkingSet / sizeof(T) / (taps > 0 ? taps : 1) / block;
        const u64 strip = (stripBlocks > 0 ? stripBlocks : 1) * block;
        for (u64 p = 0; p < planes; ++p) {
            for (u64 r0 = 0; r0 < rows; r0 += strip) {
                const u64 stripRows = minU(strip, rows - r0);
                for (u64 j = first; j < first + count; ++j) {
                    const double* w = weights + j * taps;
                    const u64* o = offsets + j * taps;
                    const u64 sourceBase = p * rows * cols + r0;
                    const u64 targetBase = p * rows * outLength + j * rows + r0;
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

    // A run of output columns whose taps name source columns within
    // dim2TileColumns of each other: the first at element offset `lo`.
    struct Dim2Chunk {
        u64 first, count, lo, columns;
    };

    // Extends a chunk from output column `first` while its taps stay within
    // one tile, at most dim2ChunkSamples columns and dim2IndexCapacity taps.
    // Returns a chunk of columns 0 when even `first` alone does not fit.
    static Dim2Chunk planDim2Chunk(u64 first, u64 rows, u64 outLength, const u64* offsets, u64 taps) noexcept {
        const u64 widest = (dim2TileColumns - 1) * rows;  // largest offset difference a tile holds
        u64 lo = ~u64{0};
        u64 hi = 0;
        tapSpan(offsets + first * taps, taps, lo, hi);
        if (taps > dim2IndexCapacity || (hi > lo && hi - 1 - lo > widest)) return Dim2Chunk{first, 1, 0, 0};
        u64 end = first + 1;
        while (end < outLength && end - first < dim2ChunkSamples && (end - first + 1) * taps <= dim2IndexCapacity) {
            u64 nextLo = lo;
            u64 nextHi = hi;
            tapSpan(offsets + end * taps, taps, nextLo, nextHi);
            if (nextHi > nextLo && nextHi - 1 - nextLo > widest) break;
            lo = nextLo;
            hi = nextHi;
            ++end;
        }
        // K = 0 leaves the span empty: a tile of no columns.
        return hi > lo ? Dim2Chunk{first, end - first, lo, (hi - 1 - lo) / rows + 1} : Dim2Chunk{first, end - first, 0, 0};
    }

    // Rows r0 .. r0+rowCount-1 of the chunk's source columns in plane p, as
    // doubles, column c at tile[c * dim2StripRows]; rows up to the next
    // multiple of W are zero so that the last vector reads defined values.
    static void fillDim2Tile(double* tile, const T* source, u64 planeStart, u64 rows, const Dim2Chunk& chunk, u64 r0,
                             u64 rowCount) noexcept {
        for (u64 c = 0; c < chunk.columns; ++c) {
            const T* column = source + (planeStart + chunk.lo + c * rows + r0);
            double* into = tile + c * dim2StripRows;
            u64 i = 0;
            for (; rowCount - i >= W; i += W) V::store(into + i, V::load(column + i));
            for (; i < rowCount; ++i) into[i] = toDouble(column[i]);
            for (; i % W != 0; ++i) into[i] = 0.0;
        }
        // The tile reads dozens of columns a few dozen bytes at a time, more
        // streams than the hardware prefetcher follows; without asking for
        // the strip after next the fill waited on memory at every column
        // (40% of J1's dimension-2 pass).
        constexpr u64 lineElements = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
        const u64 from = r0 + dim2PrefetchStrips * dim2StripRows;
        const u64 to = minU(from + dim2StripRows, rows);
        for (u64 c = 0; c < chunk.columns; ++c) {
            for (u64 row = from; row < to; row += lineElements) {
                V::prefetch(source + (planeStart + chunk.lo + c * rows + row));
            }
        }
    }

    // `count` vectors of rows from the tile for one output column; `index`
    // holds each tap's tile column start.
    template <u64 count>
    static void dim2TileBlock(const double* tile, const std::uint32_t* index, const double* w, u64 taps,
                              D (&acc)[count]) noexcept {
        for (u64 u = 0; u < count; ++u) acc[u] = V::zero();
        for (u64 t = 0; t < taps; ++t) {
            const D weight = V::broadcast(w[t]);
            const double* column = tile + index[t];
            for (u64 u = 0; u < count; ++u) acc[u] = V::add(acc[u], V::mul(V::load(column + u * W), weight));
        }
    }

    static void dim2(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                     const double* weights, u64 taps, const u64* offsets) noexcept {
        constexpr u64 block = dim2TileVectors * W;
        alignas(64) double tile[dim2TileColumns * dim2StripRows];
        std::uint32_t index[dim2IndexCapacity];
        if (rows == 0 || planes == 0) return;
        if (!tileDim2(taps)) {
            dim2Direct(source, rows, cols, planes, target, outLength, weights, taps, offsets, 0, outLength);
            return;
        }
        for (u64 first = 0; first < outLength;) {
            const Dim2Chunk chunk = planDim2Chunk(first, rows, outLength, offsets, taps);
            first += chunk.count;
            if (chunk.columns == 0 && taps > 0) {
                dim2Direct(source, rows, cols, planes, target, outLength, weights, taps, offsets, chunk.first, 1);
                continue;
            }
            // Offsets are whole columns: one division per tap and chunk, none
            // in the loops below.
            for (u64 e = 0; e < chunk.count * taps; ++e) {
                index[e] = static_cast<std::uint32_t>((offsets[chunk.first * taps + e] - chunk.lo) / rows * dim2StripRows);
            }
            for (u64 p = 0; p < planes; ++p) {
                for (u64 r0 = 0; r0 < rows; r0 += dim2StripRows) {
                    const u64 rowCount = minU(dim2StripRows, rows - r0);
                    fillDim2Tile(tile, source, p * rows * cols, rows, chunk, r0, rowCount);
                    for (u64 s = 0; s < chunk.count; ++s) {
                        const u64 j = chunk.first + s;
                        const double* w = weights + j * taps;
                        const std::uint32_t* ix = index + s * taps;
                        T* out = target + (p * rows * outLength + j * rows + r0);
                        u64 i = 0;
                        for (; rowCount - i >= block; i += block) {
                            D acc[dim2TileVectors];
                            dim2TileBlock<dim2TileVectors>(tile + i, ix, w, taps, acc);
                            for (u64 u = 0; u < dim2TileVectors; ++u) V::store(out + i + u * W, acc[u]);
                        }
                        for (; i < rowCount; i += W) {
                            D acc[1];
                            dim2TileBlock<1>(tile + i, ix, w, taps, acc);
                            if (rowCount - i >= W) {
                                V::store(out + i, acc[0]);
                            } else {
                                T stored[W];
                                V::store(stored, acc[0]);
                                for (u64 l = 0; l < rowCount - i; ++l) out[i + l] = stored[l];
                            }
                        }
                    }
                }
            }
        }
    }

    template <u64 dim1Vectors>
    struct Dim1 {
        static constexpr u64 dim1Columns = dim1Vectors * W;
        static constexpr u64 dim1TileRows = dim1TileDoubles / dim1Columns;

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
        template <bool full>
        static void fillTile(double* tile, const Dim1Group& group, u64 lo, u64 hi) noexcept {
            u64 r = lo;
            for (; hi - r >= W; r += W) {
                for (u64 b = 0; b < dim1Vectors; ++b) {
                    D lanes[W];
                    for (u64 k = 0; k < W; ++k) {
                        const u64 c = b * W + k;
                        lanes[k] = full || c < group.columns ? V::load(group.at(c, r)) : V::zero();
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
        template <bool full>
        static void flushSums(T* target, u64 outLength, const Dim1Group& group, const double* sums, u64 j,
                              u64 count) noexcept {
            u64 s = 0;
            for (; count - s >= W; s += W) {
                for (u64 b = 0; b < dim1Vectors; ++b) {
                    D lanes[W];
                    for (u64 k = 0; k < W; ++k) lanes[k] = V::load(sums + ((s + k) * dim1Columns + b * W));
                    V::transpose(lanes);
                    for (u64 k = 0; k < W && (full || b * W + k < group.columns); ++k) {
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


        // A run of output samples whose taps fit in one tile (rows lo .. hi-1), or
        // a single sample whose taps do not (gather).
        struct Chunk {
            u64 first, count, lo, hi;
            bool gather;
        };

        // Splits samples from `first` on into at most `capacity` chunks; returns
        // how many. The tables are the same for every column, so the split is
        // made once per call (per `capacity` chunks), not once per column group:
        // with short taps, scanning the table per group cost as much as the sums.
        static u64 planChunks(Chunk* chunks, u64 capacity, u64 first, u64 outLength, const u64* offsets,
                              u64 taps) noexcept {
            u64 n = 0;
            u64 j = first;
            while (j < outLength && n < capacity) {
                u64 lo = ~u64{0};
                u64 hi = 0;
                tapSpan(offsets + j * taps, taps, lo, hi);
                if (hi > lo && hi - lo > dim1TileRows) {
                    chunks[n++] = Chunk{j, 1, 0, 0, true};
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
                chunks[n++] = Chunk{j, end - j, lo, hi, false};
                j = end;
            }
            return n;
        }

        // Samples s .. s+count-1 of a chunk from its tile, their sums into the
        // sums tile. Several samples at once give independent addition chains.
        template <u64 count>
        static void dim1Samples(const double* tile, double* sums, const Chunk& chunk, u64 s, const double* weights,
                                u64 taps, const u64* offsets) noexcept {
            const double* w = weights + (chunk.first + s) * taps;
            const u64* o = offsets + (chunk.first + s) * taps;
            D acc[count][dim1Vectors];
            for (u64 n = 0; n < count; ++n) {
                for (u64 u = 0; u < dim1Vectors; ++u) acc[n][u] = V::zero();
            }
            for (u64 t = 0; t < taps; ++t) {
                for (u64 n = 0; n < count; ++n) {
                    const D weight = V::broadcast(w[n * taps + t]);
                    const double* row = tile + (o[n * taps + t] - chunk.lo) * dim1Columns;
                    for (u64 u = 0; u < dim1Vectors; ++u) {
                        acc[n][u] = V::add(acc[n][u], V::mul(V::load(row + u * W), weight));
                    }
                }
            }
            for (u64 n = 0; n < count; ++n) {
                for (u64 u = 0; u < dim1Vectors; ++u) V::store(sums + ((s + n) * dim1Columns + u * W), acc[n][u]);
            }
        }

        static void dim1Chunk(const Chunk& chunk, double* tile, double* sums, const Dim1Group& group, T* groupTarget,
                              u64 outLength, const double* weights, u64 taps, const u64* offsets) noexcept {
            if (chunk.gather) {
                gatherSample(sums, group, weights + chunk.first * taps, offsets + chunk.first * taps, taps);
                flushSums<false>(groupTarget, outLength, group, sums, chunk.first, 1);
                return;
            }
            // A group of all columns, the common case, has no lane tests.
            const bool full = group.columns == dim1Columns;
            if (chunk.hi > chunk.lo) {
                if (full) {
                    fillTile<true>(tile, group, chunk.lo, chunk.hi);
                } else {
                    fillTile<false>(tile, group, chunk.lo, chunk.hi);
                }
            }
            u64 s = 0;
            for (; chunk.count - s >= dim1Interleave; s += dim1Interleave) {
                dim1Samples<dim1Interleave>(tile, sums, chunk, s, weights, taps, offsets);
            }
            for (; s < chunk.count; ++s) dim1Samples<1>(tile, sums, chunk, s, weights, taps, offsets);
            if (full) {
                flushSums<true>(groupTarget, outLength, group, sums, chunk.first, chunk.count);
            } else {
                flushSums<false>(groupTarget, outLength, group, sums, chunk.first, chunk.count);
            }
        }

        static void run(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                         const double* weights, u64 taps, const u64* offsets) noexcept {
            constexpr u64 planCapacity = 128;
            alignas(64) double tile[dim1TileRows * dim1Columns];
            alignas(64) double sums[dim1ChunkSamples * dim1Columns];
            Chunk chunks[planCapacity];
            const u64 columns = cols * planes;
            if (columns == 0) return;
            for (u64 first = 0; first < outLength;) {
                const u64 planned = planChunks(chunks, planCapacity, first, outLength, offsets, taps);
                for (u64 c0 = 0; c0 < columns; c0 += dim1Columns) {
                    const Dim1Group group{source, c0 * rows, rows, minU(dim1Columns, columns - c0)};
                    T* const groupTarget = target + c0 * outLength;
                    for (u64 k = 0; k < planned; ++k) {
                        dim1Chunk(chunks[k], tile, sums, group, groupTarget, outLength, weights, taps, offsets);
                    }
                }
                first = chunks[planned - 1].first + chunks[planned - 1].count;
            }
        }
    };

    // ==================================================================
    // Dimension 1 with one tap: lanes are consecutive output samples of one
    // column, read straight from the column (one contiguous load where the
    // lanes' taps name consecutive rows, as at scale 1, else one load per
    // lane) and stored contiguously, with no transposition into and out of a
    // tile, which at K = 1 is nearly all of the tile path's work. Measured
    // (J5, single): 5.8 ms against the tile's 7.3 ms. Measured slower, so not
    // taken: K = 2 (J4, int16, whose taps need the per-lane loads: 11.7
    // against 8.9 ms). Other types are not measured and keep the tile.
    static constexpr bool directDim1(u64 taps) noexcept { return std::is_same_v<T, float> && taps == 1; }
    // Columns in step: one read of the lanes' weights and rows serves them
    // all, and their streams overlap their misses. One column at a time ran
    // at 12-17 ms (the table reads and a single stream), 16 columns at 17 ms.
    static constexpr u64 directDim1Columns = 8;
    // Each column's next lines are asked for ahead: 5.8 ms against 6.5 ms
    // without, at 8 columns (128 bytes ahead: 6.5 ms).
    static constexpr u64 directDim1PrefetchBytes = 256;

    // Whether lane l's tap names row o[0] + l for every lane.
    static bool consecutiveRows(const u64* o) noexcept {
        for (u64 l = 1; l < W; ++l) {
            if (o[l] != o[0] + l) return false;
        }
        return true;
    }

    static void dim1Direct(const T* source, u64 rows, u64 columns, T* target, u64 outLength, const double* weights,
                           const u64* offsets) noexcept {
        const u64 vectorEnd = outLength / W * W;
        for (u64 c0 = 0; c0 < columns; c0 += directDim1Columns) {
            const u64 n = minU(directDim1Columns, columns - c0);
            const T* column = source + c0 * rows;
            T* out = target + c0 * outLength;
            for (u64 j = 0; j < vectorEnd; j += W) {
                const u64* o = offsets + j;
                const D weight = V::load(weights + j);
                const bool consecutive = consecutiveRows(o);
                for (u64 c = 0; c < n; ++c) {
                    const T* from = column + c * rows;
                    V::prefetch(reinterpret_cast<const char*>(from + o[0]) + directDim1PrefetchBytes);
                    const D x = consecutive ? V::load(from + o[0]) : V::gather(from, o);
                    V::store(out + (c * outLength + j), V::add(V::zero(), V::mul(x, weight)));
                }
            }
        }
        if (vectorEnd == outLength) return;
        // The last samples, fewer than W: the missing lanes take zero samples
        // and weights, computed and discarded.
        for (u64 c = 0; c < columns; ++c) {
            const T* from = source + c * rows;
            alignas(64) double x[W];
            alignas(64) double w[W];
            for (u64 l = 0; l < W; ++l) {
                const bool live = vectorEnd + l < outLength;
                x[l] = live ? toDouble(from[offsets[vectorEnd + l]]) : 0.0;
                w[l] = live ? weights[vectorEnd + l] : 0.0;
            }
            T stored[W];
            V::store(stored, V::add(V::zero(), V::mul(V::load(x), V::load(w))));
            for (u64 l = 0; vectorEnd + l < outLength; ++l) target[c * outLength + vectorEnd + l] = stored[l];
        }
    }

    static void dim1(const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                     const double* weights, u64 taps, const u64* offsets) noexcept {
        if (directDim1(taps)) {
            dim1Direct(source, rows, cols * planes, target, outLength, weights, offsets);
            return;
        }
        if (wideDim1(taps)) {
            Dim1<4>::run(source, rows, cols, planes, target, outLength, weights, taps, offsets);
        } else {
            Dim1<2>::run(source, rows, cols, planes, target, outLength, weights, taps, offsets);
        }
    }
};

}  // namespace axiswarp::fast

#endif  // AXISWARP_KERNELS_FAST_RESAMPLE_HPP
