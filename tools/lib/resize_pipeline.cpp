#include "resize_pipeline.hpp"

#include "tool_error.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace axiswarp::tools {

namespace {

constexpr std::uint64_t kMaxLength = (std::uint64_t{1} << 31) - 1;  // PNG's own limit

std::string quoted(std::string_view text) { return "'" + std::string(text) + "'"; }

// Digits only: no sign, no spaces, no exponent.
bool parseWhole(std::string_view text, std::uint64_t& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::string sizeText(std::uint64_t width, std::uint64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

std::vector<std::uint64_t> hostExtents(std::uint64_t rows, std::uint64_t cols,
                                       std::uint64_t channels) {
    // The host drops trailing singleton extents beyond the second.
    if (channels == 1) return {rows, cols};
    return {rows, cols, channels};
}

zuhost::ArrayPtr tableArray(const std::vector<double>& values, std::uint64_t taps,
                            std::uint64_t outLength) {
    zuhost::ArrayPtr array = zuhost::createArray(zuDoubleClass, {taps, outLength});
    std::memcpy(array->realData, values.data(), values.size() * sizeof(double));
    return array;
}

// One module call along pass.dim; `rows`, `cols` and `channels` describe the
// array that must come back.
zuhost::ArrayPtr callPass(const zuhost::Module& module, const zuArray& input,
                          const ResizePass& pass, std::uint64_t rows, std::uint64_t cols,
                          std::uint64_t channels) {
    const zuhost::ArrayPtr weights = tableArray(pass.tables.weights, pass.tables.taps,
                                                pass.tables.outLength);
    const zuhost::ArrayPtr indices = tableArray(pass.tables.indices, pass.tables.taps,
                                                pass.tables.outLength);
    const zuhost::ArrayPtr dim = zuhost::createScalar(pass.dim);
    zuhost::CallOutcome outcome = module.call({&input, weights.get(), indices.get(), dim.get()});
    if (outcome.failed) throw zuhost::HostError(outcome.identifier, outcome.message);
    if (!outcome.output)
        throw zuhost::HostError("", "the module returned without setting its first output");
    const zuArray& output = *outcome.output;
    const std::vector<std::uint64_t> expected = hostExtents(rows, cols, channels);
    if (output.classID() != input.classID() || output.isComplex() ||
        zuhost::extents(output) != expected) {
        throw zuhost::HostError("", std::string("the module returned a ") +
                                      zuhost::className(output.classID()) +
                                      " array of the wrong class or shape");
    }
    return std::move(outcome.output);
}

// The module's own rounding: add one half and truncate, saturating.
template <class T>
T roundSample(double value) {
    constexpr double top = std::numeric_limits<T>::max();
    if (!(value >= 0.0)) return 0;  // negatives and NaN
    if (value >= top) return std::numeric_limits<T>::max();
    return static_cast<T>(value + 0.5);
}

template <class T>
Image resizeInClass(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                    const std::vector<T>& samples) {
    constexpr zuClassID classID = sizeof(T) == 1 ? zuUint8Class : zuUint16Class;
    zuhost::ArrayPtr array =
        zuhost::createArray(classID, hostExtents(image.height, image.width, image.channels));
    std::memcpy(array->realData, samples.data(), samples.size() * sizeof(T));

    std::uint64_t rows = image.height;
    std::uint64_t cols = image.width;
    for (const ResizePass& pass : plan.passes) {
        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
        array = callPass(module, *array, pass, rows, cols, image.channels);
    }

    Image out = Image::blank(plan.out.width, plan.out.height, image.channels, image.bitDepth());
    auto& target = std::get<std::vector<T>>(out.samples);
    std::memcpy(target.data(), array->realData, target.size() * sizeof(T));
    return out;
}

template <class T>
Image resizeInDouble(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                     const std::vector<T>& samples) {
    const std::uint64_t channels = image.channels;
    const bool alpha = hasAlpha(image);
    const std::uint64_t alphaPlane = channels - 1;
    const std::uint64_t colourPlanes = alpha ? channels - 1 : channels;

    zuhost::ArrayPtr array =
        zuhost::createArray(zuDoubleClass, hostExtents(image.height, image.width, channels));
    double* data = static_cast<double*>(array->realData);
    const std::uint64_t plane = std::uint64_t{image.height} * image.width;
    for (std::uint64_t k = 0; k < channels; ++k) {
        for (std::uint64_t p = 0; p < plane; ++p) {
            double value = samples[k * plane + p];
            // Both factors are integers below 2^16, so the product is exact.
            if (alpha && k < colourPlanes) value *= samples[alphaPlane * plane + p];
            data[k * plane + p] = value;
        }
    }

    std::uint64_t rows = image.height;
    std::uint64_t cols = image.width;
    for (const ResizePass& pass : plan.passes) {
        (pass.dim == 1 ? rows : cols) = pass.tables.outLength;
        array = callPass(module, *array, pass, rows, cols, channels);
    }

    Image out = Image::blank(plan.out.width, plan.out.height, image.channels, image.bitDepth());
    auto& target = std::get<std::vector<T>>(out.samples);
    const double* result = static_cast<const double*>(array->realData);
    const std::uint64_t outPlane = rows * cols;
    if (!alpha) {
        for (std::uint64_t e = 0; e < channels * outPlane; ++e) target[e] = roundSample<T>(result[e]);
        return out;
    }
    for (std::uint64_t p = 0; p < outPlane; ++p) {
        const double a = result[alphaPlane * outPlane + p];
        const T roundedAlpha = roundSample<T>(a);
        target[alphaPlane * outPlane + p] = roundedAlpha;
        // A rounded alpha of at least 1 means a >= 1/2, so the division is safe.
        for (std::uint64_t k = 0; k < colourPlanes; ++k) {
            target[k * outPlane + p] =
                roundedAlpha == 0 ? T{0} : roundSample<T>(result[k * outPlane + p] / a);
        }
    }
    return out;
}

}  // namespace

double parseScale(std::string_view text, std::string_view option) {
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    double value = 0.0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
        !std::isfinite(value) || !(value > 0.0)) {
        throw ToolError(std::string(option) + ": expected a positive number such as 0.5 or 2, not " +
                        quoted(text));
    }
    return value;
}

std::uint32_t parseLength(std::string_view text, std::string_view option) {
    std::uint64_t value = 0;
    if (!parseWhole(text, value) || value == 0 || value > kMaxLength) {
        throw ToolError(std::string(option) + ": expected a whole number of pixels from 1 to " +
                        std::to_string(kMaxLength) + ", not " + quoted(text));
    }
    return static_cast<std::uint32_t>(value);
}

ImageSize parseSize(std::string_view text, std::string_view option) {
    const std::size_t x = text.find_first_of("xX");
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    if (x == std::string_view::npos || !parseWhole(text.substr(0, x), width) ||
        !parseWhole(text.substr(x + 1), height) || width == 0 || height == 0 ||
        width > kMaxLength || height > kMaxLength) {
        throw ToolError(std::string(option) +
                        ": expected WIDTHxHEIGHT in whole pixels, such as 640x480, not " +
                        quoted(text));
    }
    return {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
}

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

ResizePlan planResize(ImageSize in, ImageSize out, const ResampleOptions& options) {
    auto tables = [&](std::uint32_t n, std::uint32_t m) {
        TableRequest request;
        request.inLength = n;
        request.outLength = m;
        request.kernel = options.kernel;
        request.antialias = options.antialias;
        request.border = options.border;
        return buildTables(request);
    };
    ResizePass rows{1, tables(in.height, out.height)};
    ResizePass cols{2, tables(in.width, out.width)};
    // Compare out.height / in.height with out.width / in.width exactly.
    const bool rowsFirst = std::uint64_t{out.height} * in.width <= std::uint64_t{out.width} * in.height;
    ResizePlan plan{in, out, {}};
    plan.passes = rowsFirst ? std::array<ResizePass, 2>{std::move(rows), std::move(cols)}
                            : std::array<ResizePass, 2>{std::move(cols), std::move(rows)};
    return plan;
}

bool hasAlpha(const Image& image) noexcept { return image.channels == 2 || image.channels == 4; }

bool usesDoublePath(const Image& image, bool precise) noexcept {
    return precise || hasAlpha(image);
}

Image resizeImage(const zuhost::Module& module, const Image& image, const ResizePlan& plan,
                  bool precise) {
    if (image.width != plan.in.width || image.height != plan.in.height)
        throw ToolError("the image is " + sizeText(image.width, image.height) +
                        ", the resize plan is for " + sizeText(plan.in.width, plan.in.height));
    if (image.sampleCount() == 0 ||
        std::visit([](const auto& v) { return v.size(); }, image.samples) != image.sampleCount())
        throw ToolError("the image's samples do not match its size");
    const bool inDouble = usesDoublePath(image, precise);
    return std::visit(
        [&](const auto& samples) {
            return inDouble ? resizeInDouble(module, image, plan, samples)
                            : resizeInClass(module, image, plan, samples);
        },
        image.samples);
}

}  // namespace axiswarp::tools
