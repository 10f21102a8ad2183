// What a streaming resize works out before the first row: the plan of the
// upright image carried over to the image as stored, and the window of rows
// the pass along the rows needs.
//
// Orientation. A stored image turned upright is a permutation of its
// samples, so resizing the upright image is resizing the stored one with
// the tables permuted to match, then turning the output the same way:
//   - a flip of an axis reverses the order of the tables' output columns and
//     maps each source index i to n + 1 - i (1-based; the fill sample n + 1
//     stays where it is). The taps keep their order, so every output sample
//     is the same sum of the same products, bit for bit;
//   - a transpose (orientations 5 to 8) swaps which tables go along the
//     stored rows and which along the stored columns, and with them the
//     pass order: the upright plan's first pass stays first.
//
// The window. The pass along the rows makes its output rows in groups; a
// group needs the input rows from the smallest to the largest index its
// taps name (not a fixed overlap: the tables decide). Input rows arrive in
// bands and live in a ring of `capacity` rows; a band may overwrite the
// rows of an earlier band once every group that names them is done. The
// first `mirror` slots of the ring are also kept past its end, so that any
// group's rows are one contiguous run of the ring.
#ifndef AXISWARP_TOOLS_STREAM_PLAN_HPP
#define AXISWARP_TOOLS_STREAM_PLAN_HPP

#include "resample/resize_pipeline.hpp"

#include <cstdint>
#include <memory>
#include <vector>

namespace axiswarp::tools {

struct StoredPlan {
    // The upright plan's own tables where no flip reverses them (the plan
    // must outlive this), else reversed copies held here.
    const Tables* rowTables = nullptr;  // along the stored rows (the window's pass)
    const Tables* colTables = nullptr;  // along the stored columns, within each row
    std::unique_ptr<const Tables> reversedRows;
    std::unique_ptr<const Tables> reversedCols;
    bool rowsFirst = true;     // the window's pass is the first
    std::uint32_t outWidth = 0;   // the output as stored: colTables->outLength
    std::uint32_t outHeight = 0;  // rowTables->outLength
    // How the stored output turns upright (see imagefile/orientation.hpp):
    // upright (a, b) is stored (fr(a), fc(b)), or (fr(b), fc(a)) with `swap`,
    // where fr and fc reverse the stored rows and columns when flipped.
    bool swap = false;
    bool flipRows = false;
    bool flipCols = false;
};

// Throws ToolError for an orientation outside 1..8 or a plan whose input is
// not the stored image turned upright.
StoredPlan storedPlan(const ResizePlan& upright, std::uint32_t storedWidth, std::uint32_t storedHeight,
                      int orientation);

// The tables of the same resize with input and output both reversed.
Tables reversedTables(const Tables& tables, std::uint64_t inLength);

struct WindowGroup {
    std::uint64_t first = 0;  // output rows first .. first + count - 1
    std::uint64_t count = 0;
    bool rows = false;        // some tap names an input row (not only the fill sample)
    std::uint64_t lo = 0;     // the input rows the taps name, when `rows`
    std::uint64_t hi = 0;
    bool fill = false;        // some tap names the fill sample
    std::uint64_t span() const noexcept { return rows ? hi - lo + 1 : 0; }
};

struct WindowPlan {
    std::vector<WindowGroup> groups;
    std::uint64_t capacity = 0;  // rows in the ring; a multiple of the band height, or all rows
    std::uint64_t mirror = 0;    // ring slots also kept past its end
    std::uint64_t maxSpan = 0;
    // Band b may be read once groups 0 .. doneBefore[b] - 1 are done with the ring.
    std::vector<std::uint64_t> doneBefore;
};

// Columns first .. first + count - 1 of the row tables: a view of tables
// held whole, or made into `made` for tables made on demand. groupColumns
// returns the weights, groupIndices (after it) the indices, K per column.
struct GroupColumns {
    std::vector<double> weights;
    std::vector<double> indices;
};
const double* groupColumns(const Tables& rowTables, std::uint64_t first, std::uint64_t count, GroupColumns& made);
const double* groupIndices(const Tables& rowTables, std::uint64_t first, const GroupColumns& made);

// A group's K * group.count indices `in` (into rows `inRows` long) counted
// from the group's `lo` (1-based): the rows the group's call sees. The fill
// sample becomes span() + 1, the row after them.
void rebasedIndices(const double* in, std::uint64_t K, std::uint64_t inRows, const WindowGroup& group, double* out);

// `bandsAhead` more bands than the least that lets the stream progress fit
// in the ring, so that reading can run ahead of the passes.
WindowPlan windowPlan(const Tables& rowTables, std::uint64_t inRows, std::uint32_t bandRows,
                      std::uint64_t groupRows, std::uint32_t bandsAhead);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_STREAM_PLAN_HPP
