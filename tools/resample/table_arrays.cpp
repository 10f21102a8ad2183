#include "resample/table_arrays.hpp"

#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

namespace axiswarp::tools {

namespace {

zuhost::ArrayPtr tableArray(const std::vector<double>& values, std::uint64_t taps,
                            std::uint64_t first, std::uint64_t count, bool view) {
    // The module never writes its inputs, so lending it the tables' own
    // memory is safe for all that the host's record takes a plain pointer.
    double* start = const_cast<double*>(values.data()) + first * taps;
    if (view) {
        zuhost::ArrayOptions options;
        options.borrowedReal = start;
        return zuhost::createArray(zuDoubleClass, {taps, count}, options);
    }
    zuhost::ArrayPtr array = zuhost::createArray(zuDoubleClass, {taps, count});
    if (taps * count != 0) std::memcpy(array->realData, start, taps * count * sizeof(double));
    return array;
}

}  // namespace

TableArrays tableArrays(const Tables& tables, std::uint64_t first, std::uint64_t count, bool view) {
    if (first > tables.outLength) throw ToolError("the table range starts past the tables' end");
    count = std::min(count, tables.outLength - first);
    if (tables.weights.size() != tables.taps * tables.outLength ||
        tables.indices.size() != tables.weights.size())
        throw ToolError("the tables do not hold K times m entries");
    return {tableArray(tables.weights, tables.taps, first, count, view),
            tableArray(tables.indices, tables.taps, first, count, view)};
}

}  // namespace axiswarp::tools
