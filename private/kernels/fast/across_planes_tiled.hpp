// Dimension 2 of a pixel-interleaved image (a few channels by columns by
// rows, M = 1 .. 8): lanes across planes. Lanes down rows would leave all
// but M lanes of a vector idle and run one short addition chain per output
// column. Here the W lanes of a vector are W planes (image rows), which share
// every table entry: the elements of a run of source columns of a group of
// planes are converted once into a tile with the planes side by side (tile
// row e holds element e of every plane of the group), exactly the tile that
// AcrossColumnsTiled fills for neighbouring columns, so its fill and flush
// serve here with planes for columns and M*N (M*L for the target) for the
// column length. Output element e = j*M + c of a plane reads tile rows
// o[j*K + t] + c (offsets are element offsets of whole columns): per tap one
// broadcast weight for all channels of the pixel and one contiguous load
// per vector. Planes past the last one are zero lanes, computed and never
// stored.

template <class T, u64 vectorsPerRow, u64 interleave>
struct AcrossPlanesTiled {
    using Columns = AcrossColumnsTiled<T, vectorsPerRow, interleave>;
    using Group = typename Columns::Group;
    static constexpr u64 groupPlanes = Columns::groupColumns;
    // The tile: 4096 doubles (32 KiB). Twice AcrossColumnsTiled's: a
    // shrinking table's windows overlap, and a longer run of source elements
    // per fill converts fewer of them twice. On a 32 KiB L1 it still beat
    // 2048 and matched 3072 (docs/performance.md).
    static constexpr u64 tileDoubles = 4096;
    static constexpr u64 tileRows = tileDoubles / groupPlanes;
    // Output elements (whole pixels) finished per tile fill.
    static constexpr u64 chunkElements = 64;
    // Chunks planned at a time, once per call for all groups of planes.
    static constexpr u64 planCapacity = 128;
    // The widest pixel this strategy takes (strategy_choice.hpp).
    static constexpr u64 widestPixel = 8;

    static_assert(tileRows >= 2 * widestPixel && chunkElements % W == 0 && chunkElements >= widestPixel);

    // Output pixels first .. first+count-1 whose taps, with all channels,
    // lie in elements lo .. hi-1 of a plane, or one pixel whose taps do not
    // fit a tile (gather).
    struct Chunk {
        u64 first, count, lo, hi;
        bool gather;
    };

    // Elements of a plane that output pixel j reads, all channels: its tap
    // offsets are those of channel 0.
    static void pixelSpan(const ResizeJob<T>& pass, u64 j, u64& lo, u64& hi) noexcept {
        u64 high = 0;
        tapSpan(pass.offsets + j * pass.taps, pass.taps, lo, high);
        if (high > 0) hi = high - 1 + pass.rows > hi ? high - 1 + pass.rows : hi;
    }

    static u64 plan(Chunk* chunks, u64 capacity, u64 first, const ResizeJob<T>& pass) noexcept {
        return planChunks(chunks, capacity, first, pass.outLength, chunkElements / pass.rows, tileRows,
                          [&pass](u64 j, u64& lo, u64& hi) { pixelSpan(pass, j, lo, hi); });
    }

    // Channels c0 .. c0+channels-1 of output pixels s .. s+pixels-1 of a
    // chunk from its tile, their sums into the sums tile. A pixel's channels
    // share its weights and offsets and read consecutive tile rows: one
    // broadcast and one offset per pixel and tap serve channels times
    // vectorsPerRow sums.
    template <u64 channels, u64 pixels>
    static void pixelBlock(const double* tile, double* sums, const Chunk& chunk, u64 s, u64 c0,
                           const ResizeJob<T>& pass) noexcept {
        const u64 taps = pass.taps;
        const double* w = pass.weights + (chunk.first + s) * taps;
        const u64* o = pass.offsets + (chunk.first + s) * taps;
        const double* base = tile + c0 * groupPlanes;
        D acc[pixels][channels][vectorsPerRow];
        for (u64 n = 0; n < pixels; ++n) {
            for (u64 c = 0; c < channels; ++c) {
                for (u64 u = 0; u < vectorsPerRow; ++u) acc[n][c][u] = Vec::zero();
            }
        }
        for (u64 t = 0; t < taps; ++t) {
            for (u64 n = 0; n < pixels; ++n) {
                const D weight = Vec::broadcast(w[n * taps + t]);
                const double* row = base + (o[n * taps + t] - chunk.lo) * groupPlanes;
                for (u64 c = 0; c < channels; ++c) {
                    for (u64 u = 0; u < vectorsPerRow; ++u) {
                        acc[n][c][u] = Vec::add(acc[n][c][u], Vec::mul(Vec::load(row + (c * groupPlanes + u * W)), weight));
                    }
                }
            }
        }
        for (u64 n = 0; n < pixels; ++n) {
            for (u64 c = 0; c < channels; ++c) {
                double* to = sums + ((s + n) * pass.rows + c0 + c) * groupPlanes;
                for (u64 u = 0; u < vectorsPerRow; ++u) Vec::store(to + u * W, acc[n][c][u]);
            }
        }
    }

    // Channels c0 .. c0+channels-1 of every pixel of a chunk; pixels in
    // step where few channels leave fewer than `interleave` sums per vector.
    template <u64 channels>
    static void channelRun(const double* tile, double* sums, const Chunk& chunk, u64 c0,
                           const ResizeJob<T>& pass) noexcept {
        constexpr u64 inStep = interleave > channels ? interleave / channels : 1;
        u64 s = 0;
        for (; chunk.count - s >= inStep; s += inStep) pixelBlock<channels, inStep>(tile, sums, chunk, s, c0, pass);
        for (; s < chunk.count; ++s) pixelBlock<channels, 1>(tile, sums, chunk, s, c0, pass);
    }

    // Every channel of every pixel of a chunk, in blocks of at most four
    // channels (the sums of a block stay in registers).
    static void chunkSums(const double* tile, double* sums, const Chunk& chunk, const ResizeJob<T>& pass) noexcept {
        switch (pass.rows) {
            case 1: channelRun<1>(tile, sums, chunk, 0, pass); break;
            case 2: channelRun<2>(tile, sums, chunk, 0, pass); break;
            case 3: channelRun<3>(tile, sums, chunk, 0, pass); break;
            case 4: channelRun<4>(tile, sums, chunk, 0, pass); break;
            case 5: channelRun<3>(tile, sums, chunk, 0, pass); channelRun<2>(tile, sums, chunk, 3, pass); break;
            case 6: channelRun<3>(tile, sums, chunk, 0, pass); channelRun<3>(tile, sums, chunk, 3, pass); break;
            case 7: channelRun<4>(tile, sums, chunk, 0, pass); channelRun<3>(tile, sums, chunk, 4, pass); break;
            default: channelRun<4>(tile, sums, chunk, 0, pass); channelRun<4>(tile, sums, chunk, 4, pass); break;
        }
    }

    // Every channel of one output pixel for every plane of the group,
    // straight from the source, for taps that do not fit in a tile.
    static void gatherPixel(double* sums, const Group& group, const ResizeJob<T>& pass, u64 j) noexcept {
        const u64 taps = pass.taps;
        for (u64 c = 0; c < pass.rows; ++c) {
            Columns::gatherSample(sums + c * groupPlanes, group, pass.weights + j * taps, pass.offsets + j * taps,
                                  taps, c);
        }
    }

    template <bool full>
    static void runChunk(const Chunk& chunk, double* tile, double* sums, const Group& group, T* groupTarget,
                         const ResizeJob<T>& pass) noexcept {
        const u64 count = chunk.count * pass.rows;
        const u64 planeLength = pass.rows * pass.outLength;
        if (chunk.gather) {
            gatherPixel(sums, group, pass, chunk.first);
        } else {
            if (chunk.hi > chunk.lo) Columns::template fill<full>(tile, group, chunk.lo, chunk.hi);
            chunkSums(tile, sums, chunk, pass);
        }
        Columns::template flush<full>(groupTarget, planeLength, group, sums, chunk.first * pass.rows, count);
    }

    static void run(const ResizeJob<T>& pass) noexcept {
        alignas(64) double tile[tileDoubles];
        alignas(64) double sums[chunkElements * groupPlanes];
        Chunk chunks[planCapacity];
        const u64 sourcePlane = pass.rows * pass.cols;
        const u64 targetPlane = pass.rows * pass.outLength;
        for (u64 first = 0; first < pass.outLength;) {
            const u64 planned = plan(chunks, planCapacity, first, pass);
            for (u64 p0 = 0; p0 < pass.planes; p0 += groupPlanes) {
                const Group group{pass.source, p0 * sourcePlane, sourcePlane, minU(groupPlanes, pass.planes - p0)};
                T* const groupTarget = pass.target + p0 * targetPlane;
                // A group of all planes, the common case, has no lane tests.
                if (group.columns == groupPlanes) {
                    for (u64 k = 0; k < planned; ++k) runChunk<true>(chunks[k], tile, sums, group, groupTarget, pass);
                } else {
                    for (u64 k = 0; k < planned; ++k) runChunk<false>(chunks[k], tile, sums, group, groupTarget, pass);
                }
            }
            first = chunks[planned - 1].first + chunks[planned - 1].count;
        }
    }
};
