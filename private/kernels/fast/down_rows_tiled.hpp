// Dimension 2 through a tile of doubles: lanes down rows, as in
// DownRowsDirect, but each integer sample is converted once. The direct loop
// pays a widening and a conversion for every tap that reads a sample (K L / N
// times per sample); here a strip of rows of a window of source columns is
// converted into a tile that every output column of a chunk then reads.
// Used for integer samples from 4 taps on (the choice is in
// strategy_choice.hpp), with DownRowsDirect for output columns whose taps
// spread wider than a tile.

template <class T>
struct DownRowsTiled {
    // Rows of a strip, and source columns of a tile: 64 columns of 32 rows of
    // doubles is 16 KiB, well inside L1 with the target lines beside it.
    static constexpr u64 stripRows = 32;
    static constexpr u64 tileColumns = 64;
    // Vectors of rows per output column in one block, each its own sum: one
    // strip of rows, at most 8 vectors (the SSE2 level has 16 registers).
    static constexpr u64 blockVectors = minU(8, stripRows / W);
    // The fill reads dozens of columns a few dozen bytes at a time, more
    // streams than the hardware prefetcher follows, so the strip after next
    // is asked for while this one is converted.
    static constexpr u64 prefetchStrips = 2;
    // Output columns per chunk, and table entries whose tile positions a
    // chunk keeps.
    static constexpr u64 chunkColumns = 64;
    static constexpr u64 indexCapacity = 2048;

    static_assert(stripRows % W == 0 && blockVectors > 0);

    // A run of output columns whose taps name source columns within
    // tileColumns of each other. The window is kept in element offsets, as
    // the table holds them: its source columns start at lo, lo + M, ... below
    // hi, and tile column c holds the one at lo + c*M.
    struct Chunk {
        u64 first, count, lo, hi;
    };

    // Extends a chunk from output column `first` while its taps stay within
    // one tile. Returns an empty window when even `first` alone does not fit
    // (with K > 0).
    static Chunk plan(const ResizeJob<T>& pass, u64 first) noexcept {
        const u64 taps = pass.taps;
        const u64 widest = (tileColumns - 1) * pass.rows;  // largest offset difference a tile holds
        u64 lo = ~u64{0};
        u64 hi = 0;
        tapSpan(pass.offsets + first * taps, taps, lo, hi);
        if (taps > indexCapacity || (hi > lo && hi - 1 - lo > widest)) return Chunk{first, 1, 0, 0};
        u64 end = first + 1;
        while (end < pass.outLength && end - first < chunkColumns && (end - first + 1) * taps <= indexCapacity) {
            u64 nextLo = lo;
            u64 nextHi = hi;
            tapSpan(pass.offsets + end * taps, taps, nextLo, nextHi);
            if (nextHi > nextLo && nextHi - 1 - nextLo > widest) break;
            lo = nextLo;
            hi = nextHi;
            ++end;
        }
        // K = 0 leaves the span empty: a tile of no columns.
        return hi > lo ? Chunk{first, end - first, lo, hi} : Chunk{first, end - first, 0, 0};
    }

    // Rows r0 .. r0+rowCount-1 of the chunk's source columns in the plane
    // starting at planeStart, as doubles, column c at tile[c * stripRows];
    // rows up to the next multiple of W are zero so that the last vector
    // reads defined values.
    static void fill(double* tile, const ResizeJob<T>& pass, u64 planeStart, const Chunk& chunk, u64 r0,
                     u64 rowCount) noexcept {
        const u64 rows = pass.rows;
        double* into = tile;
        for (u64 at = chunk.lo; at < chunk.hi; at += rows, into += stripRows) {
            const T* column = pass.source + (planeStart + at + r0);
            u64 i = 0;
            for (; rowCount - i >= W; i += W) Vec::store(into + i, Vec::load(column + i));
            if (i < rowCount) Vec::store(into + i, loadFirst(column + i, rowCount - i));
        }
        constexpr u64 lineElements = 64 / sizeof(T) > 0 ? 64 / sizeof(T) : 1;
        const u64 from = r0 + prefetchStrips * stripRows;
        const u64 to = minU(from + stripRows, rows);
        for (u64 at = chunk.lo; at < chunk.hi; at += rows) {
            for (u64 row = from; row < to; row += lineElements) {
                Vec::prefetch(pass.source + (planeStart + at + row));
            }
        }
    }

    // `count` vectors of rows from the tile for one output column; `index`
    // holds each tap's tile column start.
    template <u64 count>
    static void block(const double* tile, const std::uint32_t* index, const double* w, u64 taps,
                      D (&acc)[count]) noexcept {
        for (u64 u = 0; u < count; ++u) acc[u] = Vec::zero();
        for (u64 t = 0; t < taps; ++t) {
            const D weight = Vec::broadcast(w[t]);
            const double* column = tile + index[t];
            for (u64 u = 0; u < count; ++u) acc[u] = Vec::add(acc[u], Vec::mul(Vec::load(column + u * W), weight));
        }
    }

    static void run(const ResizeJob<T>& pass) noexcept {
        constexpr u64 rowsPerBlock = blockVectors * W;
        alignas(64) double tile[tileColumns * stripRows];
        std::uint32_t index[indexCapacity];
        const u64 rows = pass.rows;
        const u64 taps = pass.taps;
        for (u64 first = 0; first < pass.outLength;) {
            const Chunk chunk = plan(pass, first);
            first += chunk.count;
            if (chunk.hi == chunk.lo && taps > 0) {
                DownRowsDirect<T>::run(pass, chunk.first, 1);
                continue;
            }
            // Each tap's tile column, found by walking the window's columns
            // in steps of M elements from the previous tap's. Neighbouring
            // taps name neighbouring columns, so the walk is short, and the
            // offsets stay in elements: nothing undoes the table's scaling by
            // M. Every offset is lo + c*M with c below tileColumns.
            u64 column = 0;
            u64 at = chunk.lo;
            for (u64 e = 0; e < chunk.count * taps; ++e) {
                const u64 offset = pass.offsets[chunk.first * taps + e];
                for (; at < offset; at += rows) ++column;
                for (; at > offset; at -= rows) --column;
                index[e] = static_cast<std::uint32_t>(column * stripRows);
            }
            for (u64 p = 0; p < pass.planes; ++p) {
                for (u64 r0 = 0; r0 < rows; r0 += stripRows) {
                    const u64 rowCount = minU(stripRows, rows - r0);
                    fill(tile, pass, p * rows * pass.cols, chunk, r0, rowCount);
                    for (u64 s = 0; s < chunk.count; ++s) {
                        const u64 j = chunk.first + s;
                        const double* w = pass.weights + j * taps;
                        const std::uint32_t* ix = index + s * taps;
                        T* out = pass.target + (p * rows * pass.outLength + j * rows + r0);
                        u64 i = 0;
                        for (; rowCount - i >= rowsPerBlock; i += rowsPerBlock) {
                            D acc[blockVectors];
                            block<blockVectors>(tile + i, ix, w, taps, acc);
                            for (u64 u = 0; u < blockVectors; ++u) Vec::store(out + i + u * W, acc[u]);
                        }
                        for (; i < rowCount; i += W) {
                            D acc[1];
                            block<1>(tile + i, ix, w, taps, acc);
                            if (rowCount - i >= W) {
                                Vec::store(out + i, acc[0]);
                            } else {
                                storeFirst(out + i, acc[0], rowCount - i);
                            }
                        }
                    }
                }
            }
        }
    }
};
