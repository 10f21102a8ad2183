// Resizing an image as a stream of bands, in memory bounded by its width.
//
// Rows come from a source a band at a time and leave through a sink, both
// interleaved as the codecs hold pixels: sample (row r, column x, channel c)
// of a band of R rows is at (r * width + x) * channels + c, in the page's
// sample type. As a host array a band is C-by-W-by-R, so the pass along the
// columns is a call along dimension 2 of that array, and the pass along the
// rows a call along dimension 2 of the 2-D array (C*W)-by-R: the module
// reads and writes the bands in place.
//
// The output is the same bytes as resizeImage on the whole upright image
// with the same plan: the same tables, pass order and intermediate class,
// the double path (alpha, precise, linear) in double from the decoded band
// to the rounding at the end, and a constant border's fill sample as one
// more column of each row and one more row after a group's rows. How the
// rows are held (stream_plan.hpp):
//   - the first pass runs on each band as it arrives (the column pass, or
//     for a plan that goes along the rows first, only the conversion to
//     double), into a ring of rows;
//   - the rows pass runs on groups of output rows once the ring holds every
//     row their taps name, then the column pass if it comes second, then
//     the rounding; rows no later group names are overwritten by new bands.
// Memory is a few bands, the ring (the taps' reach plus a few bands) and a
// few groups of output rows: a function of the width, the taps and the band
// height, not of the height. A border that wraps names the far end of the
// image from the first rows, and its ring then holds every row.
//
// Orientation 1 and 2 stream straight through (2 reverses each output row).
// Orientations that put the stored rows in another order (3, 4: upside
// down; 5 to 8: turned) hold the whole OUTPUT page, never the input, and
// turn it once every row is made.
//
// Threads. With a pool of more than one thread, the reading of bands, their
// first pass, the groups' passes and the writing overlap, and several bands
// and groups run at once on the pool's threads. The source is called from
// one thread at a time, for bands in order, and so is the sink; at most a
// fixed number of bands and groups are in flight. A thread waits only while
// another is running a step, so nothing waits for a task no thread has
// started. The first exception from the source, the sink or a module call
// stops the stream: steps already running finish, nothing new starts, and
// it is rethrown here once every thread has left.
#ifndef AXISWARP_TOOLS_STREAM_RESIZE_HPP
#define AXISWARP_TOOLS_STREAM_RESIZE_HPP

#include "image/image.hpp"
#include "resample/resize_pipeline.hpp"
#include "runtime/tool_error.hpp"
#include "runtime/worker_pool.hpp"

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <string>
#include <functional>

namespace axiswarp::tools {

// The extents and samples of a page as stored.
struct PageShape {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;  // 1 to 4; 2 and 4 carry alpha last
    SampleType type = SampleType::uint8;
};

// Fills `band` with the next `rows` stored rows.
using RowSource = std::function<void(unsigned char* band, std::uint32_t rows)>;
// Takes the next `rows` upright output rows.
using RowSink = std::function<void(const unsigned char* band, std::uint32_t rows)>;

// Resizes the page `stored`, shown by `orientation` (1 to 8, the EXIF
// meaning), with `uprightPlan` (planResize on the upright sizes): the sink
// receives the rows of resizeImage(orientUpright(page), uprightPlan). The
// source is asked for `bandRows` rows at a time (fewer at the end). Throws
// zuhost::HostError for a module failure, ToolError when the page does not
// match the plan, and whatever the source or the sink threw.
void resizeStream(const zuhost::Module& module, const PageShape& stored, int orientation,
                  const ResizePlan& uprightPlan, const ResampleOptions& options, WorkerPool* pool,
                  std::uint32_t bandRows, const RowSource& read, const RowSink& write,
                  std::uint64_t memoryBudget = UINT64_MAX);

// Thrown by resizeStream, before any row is read, when the buffers the page
// needs (the ring of rows, the bands and groups in flight, and for turned
// orientations the whole output page) come to more than its memory budget.
class MemoryBudgetError : public ToolError {
public:
    MemoryBudgetError(std::uint64_t needed, std::uint64_t budget);
    std::uint64_t needed() const noexcept { return needed_; }

private:
    std::uint64_t needed_;
};

// A band height for the stream from a decoder's hint: a multiple of the
// hint tall enough that a module call on one band does enough work to hide
// its setup.
std::uint32_t streamBandRows(const PageShape& stored, std::uint32_t hint) noexcept;

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_STREAM_RESIZE_HPP
