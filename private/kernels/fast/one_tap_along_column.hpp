// Dimension 1 with one tap: lanes along the column. The W lanes of a vector
// are W consecutive output samples of one column, read straight from the
// column (one contiguous load where the lanes' taps name consecutive rows, as
// at scale 1, else one load per lane) and stored contiguously, with no
// transposition into and out of a tile, which at K = 1 is nearly all of the
// tile's work. Chosen for single images only (strategy_choice.hpp).

template <class T>
struct OneTapAlongColumn {
    // Columns in step: one read of the lanes' weights and rows serves them
    // all, and their streams overlap their misses.
    static constexpr u64 columnsInStep = 8;
    // How far ahead each column's next lines are asked for.
    static constexpr u64 prefetchBytes = 256;

    // Whether lane l's tap names row o[0] + l for every lane.
    static bool consecutiveRows(const u64* o) noexcept {
        for (u64 l = 1; l < W; ++l) {
            if (o[l] != o[0] + l) return false;
        }
        return true;
    }

    static void run(const ResizeJob<T>& pass) noexcept {
        const u64 rows = pass.rows;
        const u64 outLength = pass.outLength;
        const u64 columns = pass.cols * pass.planes;
        const u64 vectorEnd = outLength / W * W;
        for (u64 c0 = 0; c0 < columns; c0 += columnsInStep) {
            const u64 n = minU(columnsInStep, columns - c0);
            const T* column = pass.source + c0 * rows;
            T* out = pass.target + c0 * outLength;
            for (u64 j = 0; j < vectorEnd; j += W) {
                const u64* o = pass.offsets + j;
                const D weight = Vec::load(pass.weights + j);
                const bool consecutive = consecutiveRows(o);
                for (u64 c = 0; c < n; ++c) {
                    const T* from = column + c * rows;
                    // The address ahead may lie past the end of the image: it is
                    // formed as an integer, since pointer arithmetic beyond the
                    // array is undefined, and a prefetch never faults.
                    Vec::prefetch(reinterpret_cast<const void*>(
                        reinterpret_cast<std::uintptr_t>(from + o[0]) + prefetchBytes));
                    const D x = consecutive ? Vec::load(from + o[0]) : loadGathered(from, o);
                    Vec::store(out + (c * outLength + j), Vec::add(Vec::zero(), Vec::mul(x, weight)));
                }
            }
        }
        if (vectorEnd == outLength) return;
        // The last samples, fewer than W: the missing lanes take zero samples
        // and weights, computed and discarded.
        const u64 left = outLength - vectorEnd;
        const D weight = loadFirst(pass.weights + vectorEnd, left);
        for (u64 c = 0; c < columns; ++c) {
            const T* from = pass.source + c * rows;
            T lanes[W] = {};
            for (u64 l = 0; l < left; ++l) lanes[l] = from[pass.offsets[vectorEnd + l]];
            storeFirst(pass.target + (c * outLength + vectorEnd), Vec::add(Vec::zero(), Vec::mul(Vec::load(lanes), weight)),
                       left);
        }
    }
};
