// The tests' own model of one resize pass: plain weighted sums of the
// tables over a column-major image of doubles.
#ifndef AXISWARP_TESTS_RESIZE_MODEL_HPP
#define AXISWARP_TESTS_RESIZE_MODEL_HPP

#include "resample/resample_tables.hpp"

#include <cstdint>
#include <vector>

namespace axiswarp::testing {

// One pass of the tables as plain sums, each result stored by `store`.
template <class Store>
std::vector<double> modelPass(const std::vector<double>& in, std::uint64_t rows, std::uint64_t cols,
                              std::uint64_t channels, const tools::Tables& t, int dim, Store store) {
    const std::uint64_t outRows = dim == 1 ? t.outLength : rows;
    const std::uint64_t outCols = dim == 2 ? t.outLength : cols;
    std::vector<double> out(outRows * outCols * channels);
    for (std::uint64_t c = 0; c < channels; ++c)
        for (std::uint64_t j = 0; j < outCols; ++j)
            for (std::uint64_t i = 0; i < outRows; ++i) {
                double sum = 0.0;
                for (std::uint64_t k = 0; k < t.taps; ++k) {
                    const auto src = static_cast<std::uint64_t>(t.index(k, dim == 1 ? i : j)) - 1;
                    sum += t.weight(k, dim == 1 ? i : j) *
                           in[c * rows * cols + (dim == 1 ? j * rows + src : src * rows + i)];
                }
                out[c * outRows * outCols + j * outRows + i] = store(sum);
            }
    return out;
}

}  // namespace axiswarp::testing

#endif  // AXISWARP_TESTS_RESIZE_MODEL_HPP
