// Resizing a whole image with two calls of the module.
//
// An image of M rows and N columns is resized to M' by N' as two passes, each
// one call of the module on the host array of the image: along dimension 1
// (rows, M to M') with the tables for M -> M', and along dimension 2 (columns,
// N to N') with the tables for N -> N'. The tables always use the default
// scale m/n, so the output covers the input exactly edge to edge whatever
// rounding produced m. The pass whose ratio m/n is smaller goes first, so the
// second pass works on the smaller intermediate; equal ratios go rows first.
//
// Sample paths:
//   class path    the image's own class (uint8 ... int32, single, double)
//                 goes through both calls; the module rounds after each pass.
//   double path   the samples become doubles, both calls work in double, and
//                 the result is rounded to the image's class once at the end.
//                 Images with alpha (2 or 4 channels) always take it: colour is
//                 multiplied by alpha before resampling and divided by the
//                 resampled alpha afterwards, so fully transparent pixels,
//                 whatever colour they hold, add nothing to their neighbours.
//                 Other images take it on request (`precise`, or `linear`).
//   linear light  (`linear`) the colour samples are taken as sRGB-encoded:
//                 each is scaled to 0..1 by the type's maximum (floats are
//                 used as they are), decoded through the sRGB curve to linear
//                 light, premultiplied there, resampled, and encoded through
//                 the curve once at the end. Averaging light instead of codes
//                 keeps fine detail from darkening: a black and a white pixel
//                 average to 188 in 8 bits, not 128. Alpha is not decoded.
//                 Signed integer images are refused.
// The final rounding is the module's own rule (storeSample in image.hpp): add
// one half (minus one half below zero for signed types) and truncate,
// saturating at the type's limits, NaN giving 0; floats round to nearest. A
// pixel whose stored alpha is 0 or less gets colour 0.
#ifndef AXISWARP_TOOLS_RESIZE_PIPELINE_HPP
#define AXISWARP_TOOLS_RESIZE_PIPELINE_HPP

#include "image/image.hpp"
#include "resample/resample_tables.hpp"
#include "runtime/worker_pool.hpp"

#include <zuhost/standin_host.hpp>

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace axiswarp::tools {

struct ImageSize {
    std::uint32_t width = 0;   // N, columns
    std::uint32_t height = 0;  // M, rows
    bool operator==(const ImageSize&) const = default;
};

// How the output size is asked for.
struct SizeRequest {
    enum class Mode { scale, size, width, height };
    Mode mode = Mode::scale;
    double scale = 1.0;         // Mode::scale: every length becomes round(n * scale), at least 1
    std::uint32_t width = 0;    // Mode::size and Mode::width
    std::uint32_t height = 0;   // Mode::size and Mode::height
};

// Largest output the resizer produces, in pixels.
inline constexpr std::uint64_t kMaxOutputPixels = std::uint64_t{1} << 28;

// The output size for an input of size `in`: --width or --height alone keeps
// the aspect ratio, rounding the other length half up, at least 1. Throws
// ToolError when the result exceeds kMaxOutputPixels.
ImageSize targetSize(ImageSize in, const SizeRequest& request);

struct ResampleOptions {
    FilterChoice filter;
    bool precise = false;  // double path for images without alpha too
    bool linear = false;   // resample in linear light (sRGB decoded), on the double path
    // Every channel is colour, none alpha, whatever their count: set for
    // CMYK pages (ImageMetadata::colour), whose fourth channel is black ink.
    // By default 2 and 4 channels carry alpha last.
    bool noAlpha = false;
};

struct ResizePass {
    int dim = 1;  // 1: rows (height), 2: columns (width)
    Tables tables;
};

struct ResizePlan {
    ImageSize in;
    ImageSize out;
    std::array<ResizePass, 2> passes;  // in calling order
    double fill = 0.0;                 // the constant border's fill, for tables that name a fill sample
};

// With `heightOnDemand`, the tables of the pass along the height are made
// a group of output rows at a time (Tables::columns) instead of held whole:
// for resizeStream, whose memory then does not grow with the output height.
// resizeImage refuses such a plan.
ResizePlan planResize(ImageSize in, ImageSize out, const FilterChoice& filter, bool heightOnDemand = false);

// The fill of a constant border as samples of `type` hold it: an integer
// type needs a whole number within its range (ToolError otherwise), float32
// rounds to nearest. A pass whose tables name a fill sample (a non-zero fill)
// resizes a copy of its input with that sample appended along the pass's
// dimension, holding this value in every plane; on the double path it is
// decoded and premultiplied like an image sample of the value, so an image
// with alpha sees a fill of v in colour and alpha alike (0: transparent).
double heldFill(double fill, SampleType type);

bool hasAlpha(const Image& image) noexcept;
// Whether `channels` channels carry alpha last under these options.
bool hasAlpha(std::uint32_t channels, const ResampleOptions& options) noexcept;
// Whether resizeImage takes the double path for this image.
bool usesDoublePath(const Image& image, const ResampleOptions& options) noexcept;
// The same for an image of `channels` samples of `type`.
bool usesDoublePath(SampleType type, std::uint32_t channels, const ResampleOptions& options) noexcept;

// Runs the plan on the image. Throws zuhost::HostError for a module failure
// (or a result of the wrong class or shape, with an empty identifier),
// ToolError when the image does not match the plan.
//
// The image's own host array is the first call's input and the last call's
// output becomes the result, so on the class path nothing is copied in or
// out; the first pass's output is the only other full-size buffer. Given a
// pool, a pass large enough to gain from it is split into independent
// module calls on parts of the image, each writing its own part of the
// pass's output in place: column groups for dimension 1 (each group of
// columns is one contiguous run of memory, in and out), and for dimension 2
// the planes, each cut into groups of output columns. Every output sample is
// computed by the same arithmetic whatever the split, so the result is bit
// for bit that of one call per pass. If any part fails, the pass fails with
// the error of the first failing part, and everything it made is released.
// Only the sample path of `options` is used; the filter is the plan's.
Image resizeImage(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                  const ResampleOptions& options, WorkerPool* pool = nullptr);

// The whole job on an image in memory: the output size, the plan, the module
// calls. What the tool's resize subcommand does between decoding and encoding.
Image resize(const zuhost::Module& module, const Image& image, ImageSize out,
             const ResampleOptions& options, WorkerPool* pool = nullptr);

// The number of parts a pass of `work` tap-samples (K times output samples)
// is split into on `threads` threads: 1 below the size where another module
// call costs more than it saves.
unsigned partsForPass(std::uint64_t work, unsigned threads) noexcept;

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_RESIZE_PIPELINE_HPP
