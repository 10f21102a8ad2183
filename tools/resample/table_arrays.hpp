// Resampling tables as the host arrays a module call takes.
#ifndef AXISWARP_TOOLS_TABLE_ARRAYS_HPP
#define AXISWARP_TOOLS_TABLE_ARRAYS_HPP

#include "resample/resample_tables.hpp"

#include <zuhost/standin_host.hpp>

#include <cstdint>

namespace axiswarp::tools {

struct TableArrays {
    zuhost::ArrayPtr weights;  // K-by-count double
    zuhost::ArrayPtr indices;  // K-by-count double, 1-based
};

// Output samples first .. first+count-1 of the tables (all of them by
// default) as two K-by-count double arrays. `view` makes arrays that borrow
// the tables' memory instead of copying it; the tables must then outlive
// them. Throws ToolError when the range lies outside the tables.
TableArrays tableArrays(const Tables& tables, std::uint64_t first = 0,
                        std::uint64_t count = UINT64_MAX, bool view = false);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_TABLE_ARRAYS_HPP
