#include "resample/resample_tables.hpp"

#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <sstream>
#include <string>

namespace axiswarp::tools {

namespace {

const std::vector<std::string_view> kKernelNames = {"nearest",  "box",      "triangle",
                                                    "cubic",    "lanczos2", "lanczos3"};
const std::vector<std::string_view> kBorderNames = {"symmetric", "replicate", "reflect",
                                                    "mirror",    "wrap",      "constant"};

std::string joinNames(const std::vector<std::string_view>& names) {
    std::string out;
    for (std::string_view name : names) {
        if (!out.empty()) out += ", ";
        out += name;
    }
    return out;
}

// sin(pi x) with the argument reduced exactly: fmod by 2 and the reflections
// below are exact in binary floating point, so integers give exactly 0 and
// half-integers exactly +-1, which std::sin(pi * x) does not.
double sinPi(double x) {
    double sign = 1.0;
    if (x < 0.0) {
        x = -x;
        sign = -1.0;
    }
    double r = std::fmod(x, 2.0);  // [0, 2)
    if (r >= 1.0) {
        r -= 1.0;
        sign = -sign;
    }
    if (r > 0.5) r = 1.0 - r;  // [0, 1/2]
    return sign * std::sin(std::numbers::pi * r);
}

double sincLanczos(double x, double lobes) {
    if (x == 0.0) return 1.0;
    if (std::fabs(x) >= lobes) return 0.0;
    const double px = std::numbers::pi * x;
    const double pxl = std::numbers::pi * (x / lobes);
    return (sinPi(x) / px) * (sinPi(x / lobes) / pxl);
}

// Symmetric folding repeats with period 2n: ..., 2, 1 | 1, 2, ..., n | n, n-1, ...
std::int64_t foldSymmetric(std::int64_t p, std::int64_t n) {
    const std::int64_t period = 2 * n;
    std::int64_t q = (p - 1) % period;
    if (q < 0) q += period;
    return q < n ? q + 1 : period - q;
}

std::int64_t foldReplicate(std::int64_t p, std::int64_t n) {
    return std::clamp<std::int64_t>(p, 1, n);
}

// Mirrored about the end samples' centres: ..., 3, 2 | 1, 2, ..., n | n-1, ...
std::int64_t foldMirror(std::int64_t p, std::int64_t n) {
    if (n == 1) return 1;
    const std::int64_t period = 2 * n - 2;
    std::int64_t q = (p - 1) % period;
    if (q < 0) q += period;
    return q < n ? q + 1 : period + 2 - (q + 1);
}

std::int64_t foldWrap(std::int64_t p, std::int64_t n) {
    std::int64_t q = (p - 1) % n;
    if (q < 0) q += n;
    return q + 1;
}

[[noreturn]] void refuse(const std::string& what) {
    throw ToolError("resampling tables: " + what);
}

std::string formatDouble(double v) {
    std::ostringstream s;
    s.precision(17);
    s << v;
    return s.str();
}

}  // namespace

Kernel parseKernel(std::string_view name) {
    for (std::size_t k = 0; k < kKernelNames.size(); ++k)
        if (kKernelNames[k] == name) return static_cast<Kernel>(k);
    throw ToolError("unknown kernel '" + std::string(name) +
                    "' (valid kernels: " + joinNames(kKernelNames) + ")");
}

std::string_view kernelName(Kernel kernel) noexcept {
    return kKernelNames[static_cast<std::size_t>(kernel)];
}

const std::vector<std::string_view>& kernelNames() { return kKernelNames; }

Border parseBorder(std::string_view name) {
    for (std::size_t k = 0; k < kBorderNames.size(); ++k)
        if (kBorderNames[k] == name) return static_cast<Border>(k);
    throw ToolError("unknown border mode '" + std::string(name) +
                    "' (valid border modes: " + joinNames(kBorderNames) + ")");
}

std::string_view borderName(Border border) noexcept {
    return kBorderNames[static_cast<std::size_t>(border)];
}

const std::vector<std::string_view>& borderNames() { return kBorderNames; }

double kernelSupport(Kernel kernel) noexcept {
    switch (kernel) {
        case Kernel::nearest:
        case Kernel::box: return 0.5;
        case Kernel::triangle: return 1.0;
        case Kernel::cubic:
        case Kernel::lanczos2: return 2.0;
        case Kernel::lanczos3: return 3.0;
    }
    return 0.0;
}

double kernelValue(Kernel kernel, double x) noexcept {
    const double a = std::fabs(x);
    switch (kernel) {
        case Kernel::nearest:
        case Kernel::box: return (x >= -0.5 && x < 0.5) ? 1.0 : 0.0;
        case Kernel::triangle: return a < 1.0 ? 1.0 - a : 0.0;
        case Kernel::cubic:
            // Keys' cubic with a = -1/2, in Horner form: the knots at 0, 1
            // and 2 come out exactly 1, 0 and 0, and dyadic arguments give
            // exact values.
            if (a <= 1.0) return (1.5 * a - 2.5) * a * a + 1.0;
            if (a < 2.0) return ((-0.5 * a + 2.5) * a - 4.0) * a + 2.0;
            return 0.0;
        case Kernel::lanczos2: return sincLanczos(x, 2.0);
        case Kernel::lanczos3: return sincLanczos(x, 3.0);
    }
    return 0.0;
}

double effectiveScale(const TableRequest& request) {
    if (request.scale == 0.0)
        return static_cast<double>(request.outLength) / static_cast<double>(request.inLength);
    return request.scale;
}

Tables buildTables(const TableRequest& request) {
    const std::uint64_t n = request.inLength;
    const std::uint64_t m = request.outLength;
    if (n == 0) refuse("the input length is 0");
    if (m == 0) refuse("the output length is 0");
    if (n > kMaxTableLength)
        refuse("the input length " + std::to_string(n) + " exceeds " +
               std::to_string(kMaxTableLength));
    if (m > kMaxTableLength)
        refuse("the output length " + std::to_string(m) + " exceeds " +
               std::to_string(kMaxTableLength));
    if (!(request.scale >= 0.0) || !std::isfinite(request.scale))
        refuse("the scale must be a positive finite number, not " + formatDouble(request.scale));

    const bool defaultScale = request.scale == 0.0;
    const double s = effectiveScale(request);
    const bool stretch = request.filter.antialias && s < 1.0 && request.filter.kernel != Kernel::nearest;
    const double radius = stretch ? kernelSupport(request.filter.kernel) / s
                                  : kernelSupport(request.filter.kernel);

    // With n, m <= 2^31, (2j - 1) n + m stays below 2^63 and the quotient
    // splits into an exact integer part and a remainder below 2m <= 2^32.
    auto centre = [&](std::uint64_t j) -> double {
        if (defaultScale) {
            const std::uint64_t num = (2 * j - 1) * n + m;
            const std::uint64_t den = 2 * m;
            return static_cast<double>(num / den) +
                   static_cast<double>(num % den) / static_cast<double>(den);
        }
        return (static_cast<double>(j) - 0.5) / s + 0.5;
    };

    // Positions must stay exact integers in double and fit the fold arithmetic;
    // centres grow with j, so the last one bounds them all.
    const double limit = 4503599627370496.0;  // 2^52
    if (!(centre(m) + radius + 1.0 < limit))
        refuse("the scale " + formatDouble(s) + " places output samples beyond the input range");
    const double windowSpan = 2.0 * radius + 3.0;
    if (windowSpan > 8.0 * static_cast<double>(n) + 32.0)
        refuse("the scale " + formatDouble(s) + " stretches the " +
               std::string(kernelName(request.filter.kernel)) + " kernel over " +
               formatDouble(std::ceil(windowSpan)) + " positions, far more than the input length " +
               std::to_string(n) + " (use a larger scale or turn antialiasing off)");

    // With the default scale, x = u - p = N/(2m) and s x = N/(2n) for the
    // integer N = (2j - 1) n + m - 2 m p. While N stays below 2^53 the
    // argument is one correctly rounded division of exact integers, so a
    // position on a zero or an edge of the kernel lands on it exactly.
    const double bound = 2.0 * static_cast<double>(m) * (static_cast<double>(n) + 2.0 * radius + 4.0);
    const bool exactArguments = defaultScale && bound < limit;
    const double argumentDenominator = static_cast<double>(stretch ? 2 * n : 2 * m);
    auto argument = [&](std::uint64_t j, double u, std::int64_t p) -> double {
        if (exactArguments) {
            const std::int64_t num = static_cast<std::int64_t>((2 * j - 1) * n + m) -
                                     2 * static_cast<std::int64_t>(m) * p;
            return static_cast<double>(num) / argumentDenominator;
        }
        const double x = u - static_cast<double>(p);
        return stretch ? s * x : x;
    };

    const auto nn = static_cast<std::int64_t>(n);
    const Border border = request.filter.border;
    // Border::constant: every position outside folds onto the fill sample
    // n + 1, whose tap is kept only for a non-zero fill (see the header).
    const bool constant = border == Border::constant;
    const std::int64_t fillIndex = nn + 1;
    const bool keepFill = constant && request.filter.fill != 0.0;
    auto fold = [&](std::int64_t p) -> std::int64_t {
        if (p >= 1 && p <= nn) return p;
        switch (border) {
            case Border::symmetric:
            case Border::reflect: return foldSymmetric(p, nn);
            case Border::mirror: return foldMirror(p, nn);
            case Border::replicate: return foldReplicate(p, nn);
            case Border::wrap: return foldWrap(p, nn);
            case Border::constant: break;
        }
        return fillIndex;
    };

    Tables out;
    out.outLength = m;

    if (request.filter.kernel == Kernel::nearest) {
        out.taps = 1;
        out.weights.assign(m, 1.0);
        out.indices.resize(m);
        for (std::uint64_t j = 1; j <= m; ++j) {
            // floor(u + 1/2); with the default scale in integers, so a tie
            // cannot be lost to rounding.
            const auto p = defaultScale
                               ? static_cast<std::int64_t>(((2 * j - 1) * n + 2 * m) / (2 * m))
                               : static_cast<std::int64_t>(std::floor(centre(j) + 0.5));
            std::int64_t f = fold(p);
            if (f == fillIndex) {
                if (keepFill) {
                    out.fillSample = true;
                } else {
                    // Fill 0: weight +0 on the nearest sample inside.
                    f = foldReplicate(p, nn);
                    out.weights[j - 1] = 0.0;
                }
            }
            out.indices[j - 1] = static_cast<double>(f);
        }
        return out;
    }

    // Columns are gathered first with their own lengths; K is known only at
    // the end. colStart[j] .. colStart[j+1] are column j's entries.
    std::vector<std::uint64_t> colStart(m + 1, 0);
    std::vector<double> colWeights;
    std::vector<std::int64_t> colIndices;
    std::vector<double> acc;                               // raw weight per index lo..hi
    std::vector<std::pair<std::int64_t, double>> folded;   // (index, raw weight), edge columns
    std::uint64_t taps = 0;

    for (std::uint64_t j = 1; j <= m; ++j) {
        const double u = centre(j);
        const auto lo = static_cast<std::int64_t>(std::floor(u - radius));
        const auto hi = static_cast<std::int64_t>(std::ceil(u + radius));

        // Each merged entry: (index, raw weight), in ascending index.
        folded.clear();
        if (lo >= 1 && hi <= nn) {
            // Inside the image: no folding, each position its own index.
            acc.assign(static_cast<std::size_t>(hi - lo + 1), 0.0);
            for (std::int64_t p = lo; p <= hi; ++p)
                acc[static_cast<std::size_t>(p - lo)] = kernelValue(request.filter.kernel, argument(j, u, p));
            for (std::size_t k = 0; k < acc.size(); ++k)
                if (acc[k] != 0.0) folded.emplace_back(lo + static_cast<std::int64_t>(k), acc[k]);
        } else {
            // At an edge, positions land on indices out of order (and, for
            // wrap and constant, far apart): sort by index, keeping ascending
            // p among equals, and add equal indices in that order.
            for (std::int64_t p = lo; p <= hi; ++p) {
                const double h = kernelValue(request.filter.kernel, argument(j, u, p));
                if (h != 0.0) folded.emplace_back(fold(p), h);
            }
            std::stable_sort(folded.begin(), folded.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            std::size_t kept = 0;
            for (std::size_t k = 0; k < folded.size(); ++k) {
                if (kept > 0 && folded[kept - 1].first == folded[k].first) {
                    folded[kept - 1].second += folded[k].second;
                } else {
                    folded[kept++] = folded[k];
                }
            }
            folded.resize(kept);
        }

        double total = 0.0;
        for (const auto& entry : folded) total += entry.second;
        if (!(total > 0.0) || !std::isfinite(total))
            refuse("internal error: the kernel weights of output sample " + std::to_string(j) +
                   " sum to " + formatDouble(total));

        const std::uint64_t first = colWeights.size();
        for (const auto& [index, h] : folded) {
            if (h == 0.0) continue;
            if (index == fillIndex && !keepFill) continue;  // w * 0 adds nothing
            const double w = h / total;
            if (w == 0.0) continue;  // a subnormal contribution lost to the division
            colWeights.push_back(w);
            colIndices.push_back(index);
            if (index == fillIndex) out.fillSample = true;
        }
        if (colWeights.size() == first) {
            // Only the fill 0 was left: one tap of weight +0 on the sample
            // inside nearest the centre.
            const double nearest = std::clamp(std::floor(u + 0.5), 1.0, static_cast<double>(n));
            colWeights.push_back(0.0);
            colIndices.push_back(static_cast<std::int64_t>(nearest));
        }
        colStart[j] = colWeights.size();
        taps = std::max<std::uint64_t>(taps, colWeights.size() - first);
    }

    out.taps = taps;
    out.weights.assign(taps * m, 0.0);
    out.indices.resize(taps * m);
    for (std::uint64_t j = 0; j < m; ++j) {
        const std::uint64_t begin = colStart[j];
        const std::uint64_t count = colStart[j + 1] - begin;
        double* w = out.weights.data() + j * taps;
        double* idx = out.indices.data() + j * taps;
        for (std::uint64_t t = 0; t < count; ++t) {
            w[t] = colWeights[begin + t];
            idx[t] = static_cast<double>(colIndices[begin + t]);
        }
        for (std::uint64_t t = count; t < taps; ++t) idx[t] = idx[count - 1];
    }
    return out;
}

}  // namespace axiswarp::tools
