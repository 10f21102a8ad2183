#include "resample/resize_pipeline.hpp"

#include "resample/double_samples.hpp"
#include "resample/module_calls.hpp"
#include "resample/table_arrays.hpp"
#include "runtime/tool_error.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace axiswarp::tools {

namespace {

constexpr std::uint64_t kMaxLength = (std::uint64_t{1} << 31) - 1;  // PNG's own limit

std::string sizeText(std::uint64_t width, std::uint64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

// One part of a split pass: the module reads `source` (a view of part of the
// pass's input) and writes its output into `target`, part of the pass's output.
struct PassPart {
    std::uint64_t sourceElement = 0;  // first element of the part in the input
    std::uint64_t targetElement = 0;  // first element of its output
    std::uint64_t rows = 0;           // the part's input extents
    std::uint64_t cols = 0;
    std::uint64_t firstOut = 0;       // output samples of the tables it uses
    std::uint64_t outCount = 0;
};

std::vector<PassPart> splitPass(const ResizePass& pass, std::uint64_t rows, std::uint64_t cols,
                                std::uint64_t channels, unsigned parts) {
    std::vector<PassPart> split;
    const std::uint64_t L = pass.tables.outLength;
    if (pass.dim == 1) {
        // Along columns, planes are only more columns: M by N*C.
        const std::uint64_t columns = cols * channels;
        const std::uint64_t n = std::min<std::uint64_t>(parts, columns);
        for (std::uint64_t p = 0; p < n; ++p) {
            const std::uint64_t c0 = columns * p / n, c1 = columns * (p + 1) / n;
            split.push_back({c0 * rows, c0 * L, rows, c1 - c0, 0, L});
        }
    } else {
        // Each plane by groups of output columns: a group of output columns
        // of one plane is one contiguous run of the output.
        const std::uint64_t groups = std::min<std::uint64_t>(
            std::max<std::uint64_t>(1, (parts + channels - 1) / channels), L);
        for (std::uint64_t k = 0; k < channels; ++k) {
            for (std::uint64_t g = 0; g < groups; ++g) {
                const std::uint64_t l0 = L * g / groups, l1 = L * (g + 1) / groups;
                split.push_back({k * rows * cols, k * rows * L + l0 * rows, rows, cols, l0, l1 - l0});
            }
        }
    }
    return split;
}

// The pass's input with one more sample along pass.dim holding the fill of
// its plane (planeFill[k], a value of the input's class): the fill sample
// that tables of a constant border with a non-zero fill name as index n + 1.
zuhost::ArrayPtr withFillSample(const zuArray& input, int dim, std::uint64_t rows, std::uint64_t cols,
                                std::uint64_t channels, const std::vector<double>& planeFill) {
    const zuClassID classID = input.classID();
    const std::size_t element = zuhost::elementSize(classID);
    const std::uint64_t newRows = dim == 1 ? rows + 1 : rows;
    const std::uint64_t newCols = dim == 1 ? cols : cols + 1;
    zuhost::ArrayPtr out = zuhost::createArray(classID, hostExtents(newRows, newCols, channels));
    const auto* from = static_cast<const unsigned char*>(input.realData);
    auto* to = static_cast<unsigned char*>(out->realData);
    const std::optional<SampleType> type = sampleTypeOf(classID);
    if (!type) throw ToolError(std::string("a fill sample for a ") + zuhost::className(classID) + " array");
    for (std::uint64_t k = 0; k < channels; ++k) {
        unsigned char fill[sizeof(double)];
        withSampleType(*type, [&](auto zero) {
            const auto value = static_cast<decltype(zero)>(planeFill[k]);  // exact: a value of the class
            std::memcpy(fill, &value, sizeof value);
        });
        if (dim == 1) {
            // A column-major plane: each column gets one more sample at its end.
            for (std::uint64_t c = 0; c < cols; ++c) {
                std::memcpy(to, from, rows * element);
                std::memcpy(to + rows * element, fill, element);
                from += rows * element;
                to += newRows * element;
            }
        } else {
            // The plane as it is, then one more column.
            std::memcpy(to, from, rows * cols * element);
            from += rows * cols * element;
            to += rows * cols * element;
            for (std::uint64_t r = 0; r < rows; ++r, to += element) std::memcpy(to, fill, element);
        }
    }
    return out;
}

// One pass along pass.dim; `rows`, `cols` and `channels` describe its input.
// Tables that name a fill sample get an extended copy of the input (the only
// case in which a pass copies its input).
zuhost::ArrayPtr callPass(const zuhost::Module& module, const zuArray& passInput,
                          const ResizePass& pass, std::uint64_t rows, std::uint64_t cols,
                          std::uint64_t channels, const std::vector<double>& planeFill, WorkerPool* pool) {
    zuhost::ArrayPtr extended;
    if (pass.tables.fillSample) {
        extended = withFillSample(passInput, pass.dim, rows, cols, channels, planeFill);
        (pass.dim == 1 ? rows : cols) += 1;
    }
    const zuArray& input = extended ? *extended : passInput;
    const std::uint64_t outRows = pass.dim == 1 ? pass.tables.outLength : rows;
    const std::uint64_t outCols = pass.dim == 1 ? cols : pass.tables.outLength;
    const std::vector<std::uint64_t> expected = hostExtents(outRows, outCols, channels);
    const std::uint64_t work = pass.tables.taps * outRows * outCols * channels;
    const unsigned parts = pool != nullptr ? partsForPass(work, pool->threads()) : 1;
    const zuhost::ArrayPtr dim = zuhost::createScalar(pass.dim);

    if (parts <= 1) {
        const TableArrays tables = tableArrays(pass.tables, 0, UINT64_MAX, true);
        const zuArray* args[] = {&input, tables.weights.get(), tables.indices.get(), dim.get()};
        return checkedOutput(module.call(args), input, expected);
    }

    const zuClassID classID = input.classID();
    const std::size_t element = zuhost::elementSize(classID);
    zuhost::ArrayPtr result = zuhost::createArray(classID, expected);
    auto* source = static_cast<unsigned char*>(input.realData);
    auto* target = static_cast<unsigned char*>(result->realData);
    const std::vector<PassPart> split = splitPass(pass, rows, cols, channels, parts);
    pool->run(split.size(), [&](std::size_t p) {
        const PassPart& part = split[p];
        const TableArrays tables = tableArrays(pass.tables, part.firstOut, part.outCount, true);
        zuhost::ArrayOptions view;
        view.borrowedReal = source + part.sourceElement * element;
        const zuhost::ArrayPtr in = zuhost::createArray(classID, {part.rows, part.cols}, view);
        const std::uint64_t partRows = pass.dim == 1 ? pass.tables.outLength : part.rows;
        const std::uint64_t partCols = pass.dim == 1 ? part.cols : part.outCount;
        callInPlace(module, *in, *tables.weights, *tables.indices, *dim, hostExtents(partRows, partCols, 1),
                    target + part.targetElement * element);
    });
    return result;
}

Image resizeInClass(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                    double fill, WorkerPool* pool) {
    const zuArray* input = &image.hostArray();
    zuhost::ArrayPtr array;
    std::uint64_t rows = image.height;
    std::uint64_t cols = image.width;
    const std::vector<double> planeFill(image.channels, fill);
    for (const ResizePass& pass : plan.passes) {
        array = callPass(module, *input, pass, rows, cols, image.channels, planeFill, pool);
        input = array.get();
        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
    }
    return Image::adopt(std::move(array));
}

template <class T>
Image resizeInDouble(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                     bool alpha, bool linear, double fill, WorkerPool* pool) {
    const std::span<const T> samples = image.samples<T>();
    const std::uint64_t channels = image.channels;
    const std::uint64_t alphaPlane = channels - 1;
    const std::uint64_t colourPlanes = alpha ? channels - 1 : channels;

    zuhost::ArrayPtr array =
        zuhost::createArray(zuDoubleClass, hostExtents(image.height, image.width, channels));
    double* data = static_cast<double*>(array->realData);
    const std::uint64_t plane = std::uint64_t{image.height} * image.width;
    for (std::uint64_t k = 0; k < channels; ++k) {
        // Alpha is a coverage, never a light level: it is not decoded.
        const SampleDecoder<T> decode(linear && k < colourPlanes);
        const T* from = samples.data() + k * plane;
        double* to = data + k * plane;
        for (std::uint64_t p = 0; p < plane; ++p) to[p] = decode(from[p]);
    }
    if (alpha) {
        // For samples of up to 16 bits both factors are integers below 2^16
        // (or a linear value and such an integer), so the premultiplied value
        // is exact or one rounding from it.
        const T* a = samples.data() + alphaPlane * plane;
        for (std::uint64_t k = 0; k < colourPlanes; ++k)
            for (std::uint64_t p = 0; p < plane; ++p) data[k * plane + p] *= static_cast<double>(a[p]);
    }
    const std::vector<double> planeFill =
        doubleFill<T>(static_cast<T>(fill), image.channels, alpha, linear);  // exact: a value of T

    std::uint64_t rows = image.height;
    std::uint64_t cols = image.width;
    for (const ResizePass& pass : plan.passes) {
        array = callPass(module, *array, pass, rows, cols, channels, planeFill, pool);
        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
    }

    Image out = Image::allocate(plan.out.width, plan.out.height, image.channels, image.sampleType());
    T* target = out.samples<T>().data();
    const double* result = static_cast<const double*>(array->realData);
    const std::uint64_t outPlane = rows * cols;
    if (!alpha) {
        for (std::uint64_t e = 0; e < channels * outPlane; ++e) target[e] = storeResult<T>(result[e], linear);
        return out;
    }
    for (std::uint64_t p = 0; p < outPlane; ++p) {
        const double a = result[alphaPlane * outPlane + p];
        const T storedAlpha = storeSample<T>(a);
        target[alphaPlane * outPlane + p] = storedAlpha;
        // A stored alpha above 0 means a >= 1/2 for the integer types and
        // a > 0 for the floats, so the division is safe. Where nothing is
        // left to see, the colour is 0.
        for (std::uint64_t k = 0; k < colourPlanes; ++k) {
            target[k * outPlane + p] =
                storedAlpha > T{0} ? storeResult<T>(result[k * outPlane + p] / a, linear) : T{0};
        }
    }
    return out;
}

}  // namespace

ImageSize targetSize(ImageSize in, const SizeRequest& request) {
    if (in.width == 0 || in.height == 0) throw ToolError("the input image is empty");
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    // round(n * r / d) half up, at least 1; n, r < 2^32 keep 2 n r + d below 2^64.
    auto proportional = [](std::uint64_t n, std::uint64_t r, std::uint64_t d) {
        return std::max<std::uint64_t>(1, (2 * n * r + d) / (2 * d));
    };
    switch (request.mode) {
        case SizeRequest::Mode::scale: {
            const double s = request.scale;
            if (!std::isfinite(s) || !(s > 0.0))
                throw ToolError("the scale must be a positive finite number");
            const double w = std::round(in.width * s);
            const double h = std::round(in.height * s);
            if (!(w <= double(kMaxLength)) || !(h <= double(kMaxLength)))
                throw ToolError("the scale makes the output larger than " +
                                std::to_string(kMaxLength) + " pixels across");
            width = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(w));
            height = std::max<std::uint64_t>(1, static_cast<std::uint64_t>(h));
            break;
        }
        case SizeRequest::Mode::size:
            width = request.width;
            height = request.height;
            break;
        case SizeRequest::Mode::width:
            width = request.width;
            height = proportional(in.height, request.width, in.width);
            break;
        case SizeRequest::Mode::height:
            height = request.height;
            width = proportional(in.width, request.height, in.height);
            break;
    }
    if (width == 0 || height == 0) throw ToolError("the output size must not be 0");
    if (width > kMaxLength || height > kMaxLength || width * height > kMaxOutputPixels) {
        throw ToolError("an output of " + sizeText(width, height) + " pixels exceeds the limit of " +
                        std::to_string(kMaxOutputPixels) + " pixels");
    }
    return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

ResizePlan planResize(ImageSize in, ImageSize out, const FilterChoice& filter, bool heightOnDemand) {
    auto request = [&](std::uint32_t n, std::uint32_t m) {
        TableRequest request;
        request.inLength = n;
        request.outLength = m;
        request.filter = filter;
        return request;
    };
    auto tables = [&](std::uint32_t n, std::uint32_t m) { return buildTables(request(n, m)); };
    auto onDemand = [&](std::uint32_t n, std::uint32_t m) {
        auto columns = std::make_shared<const TableColumns>(request(n, m));
        Tables made;
        made.taps = columns->taps();
        made.outLength = columns->outLength();
        made.fillSample = columns->fillSample();
        made.columns = std::move(columns);
        return made;
    };
    ResizePass rows{1, heightOnDemand ? onDemand(in.height, out.height) : tables(in.height, out.height)};
    ResizePass cols{2, tables(in.width, out.width)};
    // Compare out.height / in.height with out.width / in.width exactly.
    const bool rowsFirst = std::uint64_t{out.height} * in.width <= std::uint64_t{out.width} * in.height;
    ResizePlan plan{in, out, {}, filter.fill};
    plan.passes = rowsFirst ? std::array<ResizePass, 2>{std::move(rows), std::move(cols)}
                            : std::array<ResizePass, 2>{std::move(cols), std::move(rows)};
    return plan;
}

double heldFill(double fill, SampleType type) {
    return withSampleType(type, [&](auto zero) {
        using T = decltype(zero);
        const T held = storeSample<T>(fill);
        if constexpr (std::is_integral_v<T>) {
            if (static_cast<double>(held) != fill) {
                char text[32];
                const auto end = std::to_chars(text, text + sizeof text, fill).ptr;
                throw ToolError("the fill " + std::string(text, end) + " is not a value of " +
                                std::string(sampleTypeName(type)) + " samples (a whole number from " +
                                std::to_string(std::numeric_limits<T>::lowest()) + " to " +
                                std::to_string(std::numeric_limits<T>::max()) + ")");
            }
        }
        return static_cast<double>(held);
    });
}

bool hasAlpha(const Image& image) noexcept { return image.channels == 2 || image.channels == 4; }

bool hasAlpha(std::uint32_t channels, const ResampleOptions& options) noexcept {
    return !options.noAlpha && (channels == 2 || channels == 4);
}

bool usesDoublePath(const Image& image, const ResampleOptions& options) noexcept {
    return usesDoublePath(image.sampleType(), image.channels, options);
}

bool usesDoublePath(SampleType type, std::uint32_t channels, const ResampleOptions& options) noexcept {
    if (options.linear || hasAlpha(channels, options)) return true;
    // A double image's own class path already is the double path.
    return options.precise && type != SampleType::float64;
}

Image resizeImage(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                  const ResampleOptions& options, WorkerPool* pool) {
    if (image.width != plan.in.width || image.height != plan.in.height)
        throw ToolError("the image is " + sizeText(image.width, image.height) +
                        ", the resize plan is for " + sizeText(plan.in.width, plan.in.height));
    if (image.empty()) throw ToolError("the image holds no samples");
    const SampleType type = image.sampleType();
    if (options.linear && isSigned(type) && !isFloat(type))
        throw ToolError("linear light needs unsigned integer or float samples, and the image has " +
                        std::string(sampleTypeName(type)) + " samples");
    const double fill = plan.fill != 0.0 ? heldFill(plan.fill, type) : 0.0;
    if (!usesDoublePath(image, options)) return resizeInClass(module, image, plan, fill, pool);
    return withSampleType(type, [&](auto zero) {
        return resizeInDouble<decltype(zero)>(module, image, plan, hasAlpha(image.channels, options), options.linear,
                                              fill, pool);
    });
}

Image resize(const zuhost::Module& module, const Image& image, ImageSize out,
             const ResampleOptions& options, WorkerPool* pool) {
    const ImageSize in{image.width, image.height};
    return resizeImage(module, image, planResize(in, out, options.filter), options, pool);
}

unsigned partsForPass(std::uint64_t work, unsigned threads) noexcept {
    // A module call costs some microseconds of setup (its offset table, the
    // host's records); a part of 2^20 tap-samples takes about a millisecond,
    // so below that a split gains nothing. Two parts per thread let the
    // threads even out parts of unequal speed.
    constexpr std::uint64_t kMinPartWork = std::uint64_t{1} << 20;
    if (threads <= 1 || work < 2 * kMinPartWork) return 1;
    return static_cast<unsigned>(std::min<std::uint64_t>(2 * threads, work / kMinPartWork));
}

}  // namespace axiswarp::tools
