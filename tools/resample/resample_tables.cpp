#include "resample/resample_tables.hpp"

#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <mutex>
#include <numbers>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

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

namespace {

// One column of the tables at a time: everything buildTables derives from
// the request once, and the entries of any output sample j on demand, so
// that a whole build and a build of some columns give the same numbers.
class ColumnMaker {
public:
    explicit ColumnMaker(const TableRequest& request) : request_(request), n_(request.inLength), m_(request.outLength) {
        const std::uint64_t n = n_;
        const std::uint64_t m = m_;
        if (n == 0) refuse("the input length is 0");
        if (m == 0) refuse("the output length is 0");
        if (n > kMaxTableLength)
            refuse("the input length " + std::to_string(n) + " exceeds " + std::to_string(kMaxTableLength));
        if (m > kMaxTableLength)
            refuse("the output length " + std::to_string(m) + " exceeds " + std::to_string(kMaxTableLength));
        if (!(request.scale >= 0.0) || !std::isfinite(request.scale))
            refuse("the scale must be a positive finite number, not " + formatDouble(request.scale));

        defaultScale_ = request.scale == 0.0;
        s_ = effectiveScale(request);
        stretch_ = request.filter.antialias && s_ < 1.0 && request.filter.kernel != Kernel::nearest;
        radius_ = stretch_ ? kernelSupport(request.filter.kernel) / s_ : kernelSupport(request.filter.kernel);

        // Positions must stay exact integers in double and fit the fold
        // arithmetic; centres grow with j, so the last one bounds them all.
        if (!(centre(m) + radius_ + 1.0 < kLimit))
            refuse("the scale " + formatDouble(s_) + " places output samples beyond the input range");
        const double windowSpan = 2.0 * radius_ + 3.0;
        if (windowSpan > 8.0 * static_cast<double>(n) + 32.0)
            refuse("the scale " + formatDouble(s_) + " stretches the " +
                   std::string(kernelName(request.filter.kernel)) + " kernel over " +
                   formatDouble(std::ceil(windowSpan)) + " positions, far more than the input length " +
                   std::to_string(n) + " (use a larger scale or turn antialiasing off)");

        // With the default scale, x = u - p = N/(2m) and s x = N/(2n) for the
        // integer N = (2j - 1) n + m - 2 m p. While N stays below 2^53 the
        // argument is one correctly rounded division of exact integers, so a
        // position on a zero or an edge of the kernel lands on it exactly.
        const double bound = 2.0 * static_cast<double>(m) * (static_cast<double>(n) + 2.0 * radius_ + 4.0);
        exactArguments_ = defaultScale_ && bound < kLimit;
        argumentDenominator_ = static_cast<double>(stretch_ ? 2 * n : 2 * m);
        nn_ = static_cast<std::int64_t>(n);
        // Border::constant: every position outside folds onto the fill
        // sample n + 1, whose tap is kept only for a non-zero fill (see the
        // header).
        fillIndex_ = nn_ + 1;
        keepFill_ = request.filter.border == Border::constant && request.filter.fill != 0.0;
    }

    std::uint64_t outLength() const noexcept { return m_; }

    // The entries (index, weight) of output sample j (1-based), in tap
    // order; `namesFill` is set when one of them is the fill sample.
    void column(std::uint64_t j, std::vector<std::pair<std::int64_t, double>>& entries, bool& namesFill) {
        entries.clear();
        const std::uint64_t n = n_;
        const std::uint64_t m = m_;
        if (request_.filter.kernel == Kernel::nearest) {
            // floor(u + 1/2); with the default scale in integers, so a tie
            // cannot be lost to rounding.
            const auto p = defaultScale_ ? static_cast<std::int64_t>(((2 * j - 1) * n + 2 * m) / (2 * m))
                                         : static_cast<std::int64_t>(std::floor(centre(j) + 0.5));
            std::int64_t f = fold(p);
            double w = 1.0;
            if (f == fillIndex_) {
                if (keepFill_) {
                    namesFill = true;
                } else {
                    // Fill 0: weight +0 on the nearest sample inside.
                    f = foldReplicate(p, nn_);
                    w = 0.0;
                }
            }
            entries.emplace_back(f, w);
            return;
        }

        const double u = centre(j);
        const auto lo = static_cast<std::int64_t>(std::floor(u - radius_));
        const auto hi = static_cast<std::int64_t>(std::ceil(u + radius_));

        // Each merged entry: (index, raw weight), in ascending index.
        folded_.clear();
        if (lo >= 1 && hi <= nn_) {
            // Inside the image: no folding, each position its own index.
            acc_.assign(static_cast<std::size_t>(hi - lo + 1), 0.0);
            for (std::int64_t p = lo; p <= hi; ++p)
                acc_[static_cast<std::size_t>(p - lo)] = kernelValue(request_.filter.kernel, argument(j, u, p));
            for (std::size_t k = 0; k < acc_.size(); ++k)
                if (acc_[k] != 0.0) folded_.emplace_back(lo + static_cast<std::int64_t>(k), acc_[k]);
        } else {
            // At an edge, positions land on indices out of order (and, for
            // wrap and constant, far apart): sort by index, keeping ascending
            // p among equals, and add equal indices in that order.
            for (std::int64_t p = lo; p <= hi; ++p) {
                const double h = kernelValue(request_.filter.kernel, argument(j, u, p));
                if (h != 0.0) folded_.emplace_back(fold(p), h);
            }
            std::stable_sort(folded_.begin(), folded_.end(),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
            std::size_t kept = 0;
            for (std::size_t k = 0; k < folded_.size(); ++k) {
                if (kept > 0 && folded_[kept - 1].first == folded_[k].first) {
                    folded_[kept - 1].second += folded_[k].second;
                } else {
                    folded_[kept++] = folded_[k];
                }
            }
            folded_.resize(kept);
        }

        double total = 0.0;
        for (const auto& entry : folded_) total += entry.second;
        if (!(total > 0.0) || !std::isfinite(total))
            refuse("internal error: the kernel weights of output sample " + std::to_string(j) + " sum to " +
                   formatDouble(total));

        for (const auto& [index, h] : folded_) {
            if (h == 0.0) continue;
            if (index == fillIndex_ && !keepFill_) continue;  // w * 0 adds nothing
            const double w = h / total;
            if (w == 0.0) continue;  // a subnormal contribution lost to the division
            entries.emplace_back(index, w);
            if (index == fillIndex_) namesFill = true;
        }
        if (entries.empty()) {
            // Only the fill 0 was left: one tap of weight +0 on the sample
            // inside nearest the centre.
            const double nearest = std::clamp(std::floor(u + 0.5), 1.0, static_cast<double>(n));
            entries.emplace_back(static_cast<std::int64_t>(nearest), 0.0);
        }
    }

private:
    static constexpr double kLimit = 4503599627370496.0;  // 2^52

    // With n, m <= 2^31, (2j - 1) n + m stays below 2^63 and the quotient
    // splits into an exact integer part and a remainder below 2m <= 2^32.
    double centre(std::uint64_t j) const {
        if (defaultScale_) {
            const std::uint64_t num = (2 * j - 1) * n_ + m_;
            const std::uint64_t den = 2 * m_;
            return static_cast<double>(num / den) + static_cast<double>(num % den) / static_cast<double>(den);
        }
        return (static_cast<double>(j) - 0.5) / s_ + 0.5;
    }

    double argument(std::uint64_t j, double u, std::int64_t p) const {
        if (exactArguments_) {
            const std::int64_t num =
                static_cast<std::int64_t>((2 * j - 1) * n_ + m_) - 2 * static_cast<std::int64_t>(m_) * p;
            return static_cast<double>(num) / argumentDenominator_;
        }
        const double x = u - static_cast<double>(p);
        return stretch_ ? s_ * x : x;
    }

    std::int64_t fold(std::int64_t p) const {
        if (p >= 1 && p <= nn_) return p;
        switch (request_.filter.border) {
            case Border::symmetric:
            case Border::reflect: return foldSymmetric(p, nn_);
            case Border::mirror: return foldMirror(p, nn_);
            case Border::replicate: return foldReplicate(p, nn_);
            case Border::wrap: return foldWrap(p, nn_);
            case Border::constant: break;
        }
        return fillIndex_;
    }

    TableRequest request_;
    std::uint64_t n_;
    std::uint64_t m_;
    bool defaultScale_ = true;
    double s_ = 1.0;
    bool stretch_ = false;
    double radius_ = 0.0;
    bool exactArguments_ = false;
    double argumentDenominator_ = 1.0;
    std::int64_t nn_ = 0;
    std::int64_t fillIndex_ = 0;
    bool keepFill_ = false;
    std::vector<double> acc_;                                // raw weight per index lo..hi
    std::vector<std::pair<std::int64_t, double>> folded_;   // (index, raw weight)
};

// Column j's entries into K slots: a shorter column repeats its last index
// with weight +0, which adds nothing and reads a sample already read.
void writeColumn(const std::vector<std::pair<std::int64_t, double>>& entries, std::uint64_t taps, double* weights,
                 double* indices) {
    const std::uint64_t count = entries.size();
    for (std::uint64_t t = 0; t < count; ++t) {
        weights[t] = entries[t].second;
        indices[t] = static_cast<double>(entries[t].first);
    }
    for (std::uint64_t t = count; t < taps; ++t) {
        weights[t] = 0.0;
        indices[t] = indices[count - 1];
    }
}

}  // namespace

struct TableColumns::Maker : ColumnMaker {
    using ColumnMaker::ColumnMaker;
};

TableColumns::TableColumns(const TableRequest& request) : maker_(std::make_unique<Maker>(request)) {
    // K is the longest column, known only once every column was made.
    std::vector<std::pair<std::int64_t, double>> entries;
    for (std::uint64_t j = 1; j <= maker_->outLength(); ++j) {
        maker_->column(j, entries, fillSample_);
        taps_ = std::max<std::uint64_t>(taps_, entries.size());
    }
}

TableColumns::~TableColumns() = default;

std::uint64_t TableColumns::outLength() const noexcept { return maker_->outLength(); }

void TableColumns::fill(std::uint64_t first, std::uint64_t count, double* weights, double* indices) const {
    std::lock_guard lock(mutex_);
    std::vector<std::pair<std::int64_t, double>> entries;
    bool namesFill = false;
    for (std::uint64_t j = first; j < first + count; ++j) {
        maker_->column(j + 1, entries, namesFill);
        writeColumn(entries, taps_, weights + (j - first) * taps_, indices + (j - first) * taps_);
    }
}

Tables buildTables(const TableRequest& request) {
    ColumnMaker maker(request);
    const std::uint64_t m = request.outLength;
    Tables out;
    out.outLength = m;
    if (request.filter.kernel == Kernel::nearest) {
        // One tap per column: no count pass needed.
        out.taps = 1;
        out.weights.resize(m);
        out.indices.resize(m);
        std::vector<std::pair<std::int64_t, double>> entries;
        for (std::uint64_t j = 1; j <= m; ++j) {
            maker.column(j, entries, out.fillSample);
            writeColumn(entries, 1, &out.weights[j - 1], &out.indices[j - 1]);
        }
        return out;
    }
    // Columns are gathered first with their own lengths; K is known only at
    // the end. colStart[j] .. colStart[j+1] are column j's entries.
    std::vector<std::uint64_t> colStart(m + 1, 0);
    std::vector<std::pair<std::int64_t, double>> all;
    std::vector<std::pair<std::int64_t, double>> entries;
    std::uint64_t taps = 0;
    for (std::uint64_t j = 1; j <= m; ++j) {
        maker.column(j, entries, out.fillSample);
        all.insert(all.end(), entries.begin(), entries.end());
        colStart[j] = all.size();
        taps = std::max<std::uint64_t>(taps, entries.size());
    }
    out.taps = taps;
    out.weights.resize(taps * m);
    out.indices.resize(taps * m);
    for (std::uint64_t j = 0; j < m; ++j) {
        entries.assign(all.begin() + static_cast<std::ptrdiff_t>(colStart[j]),
                       all.begin() + static_cast<std::ptrdiff_t>(colStart[j + 1]));
        writeColumn(entries, taps, out.weights.data() + j * taps, out.indices.data() + j * taps);
    }
    return out;
}

}  // namespace axiswarp::tools
