// Dimension 2 straight from the source: lanes down rows. The W lanes of a
// vector are W consecutive rows of one output column, which share every
// table entry, so a tap is one broadcast weight and, per vector, one
// contiguous converting load, a multiplication and an addition.

template <class T>
struct DownRowsDirect {
    // Vectors of rows per block, each its own sum: the independent sums keep
    // several additions in flight to cover their latency.
    static constexpr u64 vectors = 4;
    // The rows are taken in strips, all output columns of a strip before the
    // next strip, so that the K source column pieces an output column reads
    // (K times the strip) are still in L1 for its neighbours, which read
    // mostly the same columns. The strip is sized from K so that those
    // pieces fill about this many bytes; a strip of fixed size cut the one-tap
    // copy into pieces that cost more than whole columns.
    static constexpr u64 workingSetBytes = 32768;

    // Rows a strip holds for K taps: whole blocks, at least one.
    static constexpr u64 stripRows(u64 taps) noexcept {
        constexpr u64 block = vectors * W;
        const u64 blocks = workingSetBytes / sizeof(T) / (taps > 0 ? taps : 1) / block;
        return (blocks > 0 ? blocks : 1) * block;
    }

    // `count` vectors of rows from sourceBase on, for one output column whose
    // taps are w[0..K), o[0..K).
    template <u64 count>
    static void block(const T* source, u64 sourceBase, T* target, u64 targetBase, const double* w, const u64* o,
                      u64 taps) noexcept {
        D acc[count];
        for (u64 u = 0; u < count; ++u) acc[u] = Vec::zero();
        for (u64 t = 0; t < taps; ++t) {
            const D weight = Vec::broadcast(w[t]);
            const T* column = source + (sourceBase + o[t]);
            for (u64 u = 0; u < count; ++u) acc[u] = Vec::add(acc[u], Vec::mul(Vec::load(column + u * W), weight));
        }
        for (u64 u = 0; u < count; ++u) Vec::store(target + (targetBase + u * W), acc[u]);
    }

    // The last rows of a strip, fewer than W: the padding lanes read zeros,
    // are computed and discarded.
    static void tail(const T* source, u64 sourceBase, T* target, u64 targetBase, u64 rowCount, const double* w,
                     const u64* o, u64 taps) noexcept {
        D acc = Vec::zero();
        for (u64 t = 0; t < taps; ++t) {
            const D x = loadFirst(source + (sourceBase + o[t]), rowCount);
            acc = Vec::add(acc, Vec::mul(x, Vec::broadcast(w[t])));
        }
        storeFirst(target + targetBase, acc, rowCount);
    }

    // Output columns first .. first+count-1 of every row and plane.
    static void run(const ResizeJob<T>& pass, u64 first, u64 count) noexcept {
        constexpr u64 rowsPerBlock = vectors * W;
        const u64 strip = stripRows(pass.taps);
        const u64 rows = pass.rows;
        const u64 taps = pass.taps;
        for (u64 p = 0; p < pass.planes; ++p) {
            for (u64 r0 = 0; r0 < rows; r0 += strip) {
                const u64 stripCount = minU(strip, rows - r0);
                const u64 sourceBase = p * rows * pass.cols + r0;
                for (u64 j = first; j < first + count; ++j) {
                    const double* w = pass.weights + j * taps;
                    const u64* o = pass.offsets + j * taps;
                    const u64 targetBase = p * rows * pass.outLength + j * rows + r0;
                    u64 i = 0;
                    for (; stripCount - i >= rowsPerBlock; i += rowsPerBlock) {
                        block<vectors>(pass.source, sourceBase + i, pass.target, targetBase + i, w, o, taps);
                    }
                    for (; stripCount - i >= W; i += W) {
                        block<1>(pass.source, sourceBase + i, pass.target, targetBase + i, w, o, taps);
                    }
                    if (i < stripCount) {
                        tail(pass.source, sourceBase + i, pass.target, targetBase + i, stripCount - i, w, o, taps);
                    }
                }
            }
        }
    }
};
