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

// Columns across the lanes of a row of the tile along dimension 1: with
// integer samples and 4 or more taps, 4 vectors of columns with 2 samples at
// a time keep 8 independent sums per tap and halve the broadcasts per
// product; otherwise 2 (twice as many column streams in and out was slower
// where there is little arithmetic per sample).
template <class T>
void resampleAlongColumns(const ResamplePass<T>& pass) noexcept {
    if (std::is_same_v<T, float> && pass.taps == 1) {
        OneTapAlongColumn<T>::run(pass);
    } else if (convertsOnce<T>(pass.taps)) {
        AcrossColumnsTiled<T, 4>::run(pass);
    } else {
        AcrossColumnsTiled<T, 2>::run(pass);
    }
}

template <class T>
void resampleAlongRows(const ResamplePass<T>& pass) noexcept {
    if (pass.rows == 0 || pass.planes == 0) return;
    if (convertsOnce<T>(pass.taps)) {
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
    return KernelTable{{entriesFor<double>(), entriesFor<single>(), entriesFor<uint8>(), entriesFor<uint16>(),
                        entriesFor<uint32>(), entriesFor<uint64>(), entriesFor<int8>(), entriesFor<int16>(),
                        entriesFor<int32>(), entriesFor<int64>()}};
}
