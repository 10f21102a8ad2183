#include "resample/stream_plan.hpp"

#include "runtime/tool_error.hpp"

#include <algorithm>
#include <limits>
#include <string>

namespace axiswarp::tools {

StoredPlan storedPlan(const ResizePlan& upright, std::uint32_t storedWidth, std::uint32_t storedHeight,
                      int orientation) {
    if (orientation < 1 || orientation > 8)
        throw ToolError("orientation " + std::to_string(orientation) + " is not one of 1 to 8");
    // Whether the stored row 0 lands at the bottom or right, the stored
    // column 0 at the right or bottom, per orientation value.
    static constexpr bool kFlipRows[9] = {false, false, false, true, true, false, true, true, false};
    static constexpr bool kFlipCols[9] = {false, false, true, true, false, false, false, true, true};
    StoredPlan plan;
    plan.swap = orientation >= 5;
    plan.flipRows = kFlipRows[orientation];
    plan.flipCols = kFlipCols[orientation];
    const std::uint32_t uprightWidth = plan.swap ? storedHeight : storedWidth;
    const std::uint32_t uprightHeight = plan.swap ? storedWidth : storedHeight;
    if (upright.in.width != uprightWidth || upright.in.height != uprightHeight)
        throw ToolError("the resize plan is for " + std::to_string(upright.in.width) + "x" +
                        std::to_string(upright.in.height) + ", the image turned upright is " +
                        std::to_string(uprightWidth) + "x" + std::to_string(uprightHeight));
    const ResizePass& first = upright.passes[0];
    const ResizePass& second = upright.passes[1];
    if (first.dim == second.dim || (first.dim != 1 && first.dim != 2) || (second.dim != 1 && second.dim != 2))
        throw ToolError("the resize plan does not resize both dimensions once");
    const Tables& heightTables = first.dim == 1 ? first.tables : second.tables;
    const Tables& widthTables = first.dim == 1 ? second.tables : first.tables;
    const Tables& rowTables = plan.swap ? widthTables : heightTables;
    const Tables& colTables = plan.swap ? heightTables : widthTables;
    plan.rowTables = &rowTables;
    plan.colTables = &colTables;
    // Tables made on demand serve the rows pass as it is: the columns pass
    // takes its tables whole, and a reversal reads them all.
    if (colTables.columns || (plan.flipRows && rowTables.columns))
        throw ToolError("tables made on demand serve only the unflipped height pass of an upright stream");
    if (plan.flipRows) {
        plan.reversedRows = std::make_unique<const Tables>(reversedTables(rowTables, storedHeight));
        plan.rowTables = plan.reversedRows.get();
    }
    if (plan.flipCols) {
        plan.reversedCols = std::make_unique<const Tables>(reversedTables(colTables, storedWidth));
        plan.colTables = plan.reversedCols.get();
    }
    plan.rowsFirst = (first.dim == 1) != plan.swap;
    plan.outWidth = static_cast<std::uint32_t>(plan.colTables->outLength);
    plan.outHeight = static_cast<std::uint32_t>(plan.rowTables->outLength);
    return plan;
}

Tables reversedTables(const Tables& tables, std::uint64_t inLength) {
    Tables out = tables;
    const std::uint64_t K = tables.taps;
    const std::uint64_t m = tables.outLength;
    const double fillIndex = static_cast<double>(inLength + 1);
    for (std::uint64_t p = 0; p < m; ++p) {
        for (std::uint64_t t = 0; t < K; ++t) {
            const double i = tables.indices[(m - 1 - p) * K + t];
            out.weights[p * K + t] = tables.weights[(m - 1 - p) * K + t];
            // Whole numbers below 2^53: the subtraction is exact.
            out.indices[p * K + t] = tables.fillSample && i == fillIndex ? i : fillIndex - i;
        }
    }
    return out;
}

const double* groupColumns(const Tables& rowTables, std::uint64_t first, std::uint64_t count, GroupColumns& made) {
    const std::uint64_t K = rowTables.taps;
    if (!rowTables.columns) return rowTables.weights.data() + first * K;
    made.weights.resize(count * K);
    made.indices.resize(count * K);
    rowTables.columns->fill(first, count, made.weights.data(), made.indices.data());
    return made.weights.data();
}

const double* groupIndices(const Tables& rowTables, std::uint64_t first, const GroupColumns& made) {
    return rowTables.columns ? made.indices.data() : rowTables.indices.data() + first * rowTables.taps;
}

void rebasedIndices(const double* in, std::uint64_t K, std::uint64_t inRows, const WindowGroup& group, double* out) {
    const double lo = static_cast<double>(group.lo);
    const double fillIndex = static_cast<double>(group.span() + 1);
    // Whole numbers below 2^53: the subtraction is exact.
    for (std::uint64_t e = 0; e < group.count * K; ++e)
        out[e] = in[e] == static_cast<double>(inRows + 1) ? fillIndex : in[e] - lo;
}

WindowPlan windowPlan(const Tables& rowTables, std::uint64_t inRows, std::uint32_t bandRows,
                      std::uint64_t groupRows, std::uint32_t bandsAhead) {
    const std::uint64_t K = rowTables.taps;
    const std::uint64_t m = rowTables.outLength;
    const std::uint64_t n = inRows;
    const std::uint64_t R = bandRows;
    if (K == 0 || m == 0 || n == 0 || R == 0 || groupRows == 0 ||
        (!rowTables.columns && rowTables.indices.size() != K * m))
        throw ToolError("the row tables or the band height are empty");
    WindowPlan plan;
    GroupColumns made;
    for (std::uint64_t first = 0; first < m; first += groupRows) {
        WindowGroup group;
        group.first = first;
        group.count = std::min(groupRows, m - first);
        group.lo = n;
        groupColumns(rowTables, first, group.count, made);
        const double* indices = groupIndices(rowTables, first, made);
        for (std::uint64_t e = 0; e < group.count * K; ++e) {
            const double index = indices[e];
            // Range-checked before it becomes an integer.
            if (!(index >= 1.0 && index <= static_cast<double>(n + (rowTables.fillSample ? 1 : 0))))
                throw ToolError("a row index of the tables lies outside the image");
            const auto row = static_cast<std::uint64_t>(index) - 1;
            if (row == n) {
                group.fill = true;
                continue;
            }
            group.rows = true;
            group.lo = std::min(group.lo, row);
            group.hi = std::max(group.hi, row);
        }
        if (!group.rows) group.lo = 0;
        plan.maxSpan = std::max(plan.maxSpan, group.span());
        plan.groups.push_back(group);
    }

    // The smallest row any group from g on names: what the ring must still
    // hold while group g waits.
    constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
    const std::size_t G = plan.groups.size();
    std::vector<std::uint64_t> laterLo(G + 1, kNone);
    for (std::size_t g = G; g-- > 0;)
        laterLo[g] = std::min(laterLo[g + 1], plan.groups[g].rows ? plan.groups[g].lo : kNone);

    // Group g needs the band holding its last row read while groups before
    // it may still be undone: the ring holds rows laterLo[g] up to that
    // band's end.
    std::uint64_t least = R;
    for (std::size_t g = 0; g < G; ++g) {
        if (!plan.groups[g].rows) continue;
        const std::uint64_t bandEnd = std::min(n, (plan.groups[g].hi / R + 1) * R);
        least = std::max(least, bandEnd - laterLo[g]);
    }
    const std::uint64_t bands = (n + R - 1) / R;
    plan.doneBefore.assign(bands, 0);
    const std::uint64_t capacity = (least + R - 1) / R * R + R * std::uint64_t{bandsAhead};
    if (capacity >= n) {
        plan.capacity = n;
        return plan;
    }
    plan.capacity = capacity;
    plan.mirror = plan.maxSpan > 0 ? plan.maxSpan - 1 : 0;
    std::size_t g = 0;
    for (std::uint64_t b = 0; b < bands; ++b) {
        const std::uint64_t end = std::min(n, (b + 1) * R);
        if (end <= capacity) continue;
        const std::uint64_t overwritten = end - 1 - capacity;  // the last row band b overwrites
        while (g < G && laterLo[g] <= overwritten) ++g;
        plan.doneBefore[b] = g;
    }
    return plan;
}

}  // namespace axiswarp::tools
