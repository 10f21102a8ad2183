// Dimension 1 through a tile: lanes across columns. The W lanes of a vector
// are W neighbouring columns, which share every table entry. The rows a run
// of output samples needs are copied, converted to double, into a tile with
// the columns side by side (row r of the tile holds that row of all the
// group's columns), so that a tap is one contiguous load per vector. Columns
// past the last one are zero lanes, computed and never stored.

template <class T, u64 vectorsPerRow, u64 interleave>
struct AcrossColumnsTiled {
    // Columns processed together.
    static constexpr u64 groupColumns = vectorsPerRow * W;
    // The tile: 2048 doubles (16 KiB), well inside L1 beside the sums.
    static constexpr u64 tileDoubles = 2048;
    static constexpr u64 tileRows = tileDoubles / groupColumns;
    // Output samples of one column finished per tile fill; their sums wait
    // in a small tile until they are stored column by column.
    static constexpr u64 chunkSamples = 64;
    // `interleave` samples are computed side by side from one tile, for
    // independent addition chains (vectorsPerRow times this many sums per
    // tap).
    // Chunks planned at a time; the plan is made once per call for all
    // column groups (the tables are the same for every column): scanning the
    // table per group cost as much as the sums when K is small.
    static constexpr u64 planCapacity = 128;

    static_assert(tileRows >= W && chunkSamples % W == 0);

    // Element positions stay indices until an access, so that a source that
    // is never read (K = 0) may be null.
    struct Group {
        const T* source;
        u64 start;    // position of the group's first column
        u64 rows;     // M
        u64 columns;  // valid columns in the group, 1 .. groupColumns
        const T* at(u64 column, u64 row) const noexcept { return source + (start + column * rows + row); }
    };

    // Lane k of the vector is row `row` of column first + k, zero past the
    // group's last column.
    static D loadRow(const Group& group, u64 first, u64 row) noexcept {
        T lanes[W] = {};
        for (u64 k = 0; k < W && first + k < group.columns; ++k) lanes[k] = *group.at(first + k, row);
        return Vec::load(lanes);
    }

    // Rows [lo, hi) of the group's columns into the tile; W-by-W blocks are
    // loaded down each column with Vec's converting load and transposed.
    template <bool full>
    static void fill(double* tile, const Group& group, u64 lo, u64 hi) noexcept {
        u64 r = lo;
        for (; hi - r >= W; r += W) {
            for (u64 b = 0; b < vectorsPerRow; ++b) {
                D lanes[W];
                for (u64 k = 0; k < W; ++k) {
                    const u64 c = b * W + k;
                    lanes[k] = full || c < group.columns ? Vec::load(group.at(c, r)) : Vec::zero();
                }
                Vec::transpose(lanes);
                for (u64 k = 0; k < W; ++k) Vec::store(tile + ((r - lo + k) * groupColumns + b * W), lanes[k]);
            }
        }
        for (; r < hi; ++r) {
            for (u64 b = 0; b < vectorsPerRow; ++b) {
                Vec::store(tile + ((r - lo) * groupColumns + b * W), loadRow(group, b * W, r));
            }
        }
    }

    // One output sample for every column of the group, straight from the
    // source, for taps that do not fit in a tile; each tap reads element
    // o[t] + shift of a column (AcrossPlanesTiled shifts by the channel).
    static void gatherSample(double* sums, const Group& group, const double* w, const u64* o, u64 taps,
                             u64 shift = 0) noexcept {
        alignas(64) double gathered[gatherTaps * groupColumns];
        D acc[vectorsPerRow];
        for (u64 u = 0; u < vectorsPerRow; ++u) acc[u] = Vec::zero();
        for (u64 t0 = 0; t0 < taps; t0 += gatherTaps) {
            const u64 n = minU(gatherTaps, taps - t0);
            for (u64 t = 0; t < n; ++t) {
                for (u64 u = 0; u < vectorsPerRow; ++u) {
                    Vec::store(gathered + (t * groupColumns + u * W), loadRow(group, u * W, o[t0 + t] + shift));
                }
            }
            for (u64 t = 0; t < n; ++t) {
                const D weight = Vec::broadcast(w[t0 + t]);
                for (u64 u = 0; u < vectorsPerRow; ++u) {
                    acc[u] = Vec::add(acc[u], Vec::mul(Vec::load(gathered + (t * groupColumns + u * W)), weight));
                }
            }
        }
        for (u64 u = 0; u < vectorsPerRow; ++u) Vec::store(sums + u * W, acc[u]);
    }

    // Stores `count` finished samples (starting at output sample j) of every
    // column of the group: W-by-W blocks of the sums tile are transposed back
    // so that each column gets W consecutive samples in one rounding store.
    template <bool full>
    static void flush(T* target, u64 outLength, const Group& group, const double* sums, u64 j, u64 count) noexcept {
        u64 s = 0;
        for (; count - s >= W; s += W) {
            for (u64 b = 0; b < vectorsPerRow; ++b) {
                D lanes[W];
                for (u64 k = 0; k < W; ++k) lanes[k] = Vec::load(sums + ((s + k) * groupColumns + b * W));
                Vec::transpose(lanes);
                for (u64 k = 0; k < W && (full || b * W + k < group.columns); ++k) {
                    Vec::store(target + ((b * W + k) * outLength + j + s), lanes[k]);
                }
            }
        }
        for (; s < count; ++s) {
            T stored[groupColumns];
            for (u64 u = 0; u < vectorsPerRow; ++u) {
                Vec::store(stored + u * W, Vec::load(sums + (s * groupColumns + u * W)));
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

    static u64 plan(Chunk* chunks, u64 capacity, u64 first, const ResizeJob<T>& pass) noexcept {
        return planChunks(chunks, capacity, first, pass.outLength, chunkSamples, tileRows,
                          [&pass](u64 j, u64& lo, u64& hi) { tapSpan(pass.offsets + j * pass.taps, pass.taps, lo, hi); });
    }

    // Samples s .. s+count-1 of a chunk from its tile, their sums into the
    // sums tile.
    template <u64 count>
    static void samples(const double* tile, double* sums, const Chunk& chunk, u64 s, const double* weights, u64 taps,
                        const u64* offsets) noexcept {
        const double* w = weights + (chunk.first + s) * taps;
        const u64* o = offsets + (chunk.first + s) * taps;
        D acc[count][vectorsPerRow];
        for (u64 n = 0; n < count; ++n) {
            for (u64 u = 0; u < vectorsPerRow; ++u) acc[n][u] = Vec::zero();
        }
        for (u64 t = 0; t < taps; ++t) {
            for (u64 n = 0; n < count; ++n) {
                const D weight = Vec::broadcast(w[n * taps + t]);
                const double* row = tile + (o[n * taps + t] - chunk.lo) * groupColumns;
                for (u64 u = 0; u < vectorsPerRow; ++u) {
                    acc[n][u] = Vec::add(acc[n][u], Vec::mul(Vec::load(row + u * W), weight));
                }
            }
        }
        for (u64 n = 0; n < count; ++n) {
            for (u64 u = 0; u < vectorsPerRow; ++u) Vec::store(sums + ((s + n) * groupColumns + u * W), acc[n][u]);
        }
    }

    static void runChunk(const Chunk& chunk, double* tile, double* sums, const Group& group, T* groupTarget,
                         const ResizeJob<T>& pass) noexcept {
        const u64 taps = pass.taps;
        if (chunk.gather) {
            gatherSample(sums, group, pass.weights + chunk.first * taps, pass.offsets + chunk.first * taps, taps);
            flush<false>(groupTarget, pass.outLength, group, sums, chunk.first, 1);
            return;
        }
        // A group of all columns, the common case, has no lane tests.
        const bool full = group.columns == groupColumns;
        if (chunk.hi > chunk.lo) {
            if (full) {
                fill<true>(tile, group, chunk.lo, chunk.hi);
            } else {
                fill<false>(tile, group, chunk.lo, chunk.hi);
            }
        }
        u64 s = 0;
        for (; chunk.count - s >= interleave; s += interleave) {
            samples<interleave>(tile, sums, chunk, s, pass.weights, taps, pass.offsets);
        }
        for (; s < chunk.count; ++s) samples<1>(tile, sums, chunk, s, pass.weights, taps, pass.offsets);
        if (full) {
            flush<true>(groupTarget, pass.outLength, group, sums, chunk.first, chunk.count);
        } else {
            flush<false>(groupTarget, pass.outLength, group, sums, chunk.first, chunk.count);
        }
    }

    static void run(const ResizeJob<T>& pass) noexcept {
        alignas(64) double tile[tileRows * groupColumns];
        alignas(64) double sums[chunkSamples * groupColumns];
        Chunk chunks[planCapacity];
        const u64 columns = pass.cols * pass.planes;
        if (columns == 0) return;
        for (u64 first = 0; first < pass.outLength;) {
            const u64 planned = plan(chunks, planCapacity, first, pass);
            for (u64 c0 = 0; c0 < columns; c0 += groupColumns) {
                const Group group{pass.source, c0 * pass.rows, pass.rows, minU(groupColumns, columns - c0)};
                T* const groupTarget = pass.target + c0 * pass.outLength;
                for (u64 k = 0; k < planned; ++k) runChunk(chunks[k], tile, sums, group, groupTarget, pass);
            }
            first = chunks[planned - 1].first + chunks[planned - 1].count;
        }
    }
};
