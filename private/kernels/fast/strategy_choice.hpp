// Which body runs a pass, and the level's table of entry points.

// Integer samples cost a widening and a conversion per load, which the
// direct loops pay again for every tap that reads the sample. From 4 taps on
// they go through the tiles (converted once); single and double load at
// nearly the cost of a tile read, and with fewer taps the copy does not pay
// back.
template <class T>
constexpr bool convertsOnce(u64 taps) noexcept {
    return !std::is_floating_point_v<T> && taps >= 4;
}

// Along dimension 1 with integer samples and 4 or more taps, 8 independent
// sums per tap: with up to 4 lanes, 4 vectors of columns and 2 samples at a
// time (16 columns with AVX2), which also halves the broadcasts per product;
// with 8 lanes, 2 vectors (the same 16 columns) and 4 samples, since 4
// vectors of 8 lanes (32 column streams in and out, a tile of 64 rows) were
// slower than AVX2 on the enlargements. Otherwise 2 vectors and 2 samples:
// twice as many column streams was slower where there is little arithmetic
// per sample. Measured figures are in docs/performance.md.
inline constexpr u64 wideColumnVectors = W >= 8 ? 2 : 4;
inline constexpr u64 wideInterleave = W >= 8 ? 4 : 2;

template <class T>
void resampleAlongColumns(const ResizeJob<T>& pass) noexcept {
    if (std::is_same_v<T, float> && pass.taps == 1) {
        OneTapAlongColumn<T>::run(pass);
    } else if (convertsOnce<T>(pass.taps)) {
        AcrossColumnsTiled<T, wideColumnVectors, wideInterleave>::run(pass);
    } else {
        AcrossColumnsTiled<T, 2, 2>::run(pass);
    }
}

// Along dimension 2 with at most 8 rows (pixel-interleaved images: channels
// by columns by image rows) and at least a vector of planes, lanes across
// planes: down rows such a pass would fill M of W lanes and run one short
// addition chain per output column.
template <class T>
constexpr bool interleavedPixels(const ResizeJob<T>& pass) noexcept {
    return pass.rows <= AcrossPlanesTiled<T, wideColumnVectors, wideInterleave>::widestPixel && pass.planes >= W;
}

template <class T>
void resampleAlongRows(const ResizeJob<T>& pass) noexcept {
    if (pass.rows == 0 || pass.planes == 0) return;
    if (interleavedPixels(pass)) {
        AcrossPlanesTiled<T, wideColumnVectors, wideInterleave>::run(pass);
    } else if (convertsOnce<T>(pass.taps)) {
        DownRowsTiled<T>::run(pass);
    } else {
        DownRowsDirect<T>::run(pass, 0, pass.outLength);
    }
}

// Entries for the types this level's Vec loads and stores; null for the
// others, which kernel_select serves from the scalar level.
template <class T>
constexpr PassEntries<T> entriesFor() noexcept {
    if constexpr (Vec::template serves<T>) {
        return PassEntries<T>{&resampleAlongColumns<T>, &resampleAlongRows<T>};
    } else {
        return PassEntries<T>{};
    }
}

constexpr KernelTable makeKernelTable() noexcept {
    return KernelTable::filledBy([]<class T>(std::type_identity<T>) { return entriesFor<T>(); });
}
