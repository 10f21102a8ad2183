// Weight and index tables for resampling one dimension of an image.
//
// A job maps an input of length n onto an output of length m with scale s
// (m/n unless given). For each output sample j = 1..m the tables hold K source
// positions (1-based, stored as doubles) and K weights; the sample is the sum
// of weight times source sample over the K taps, in table order. Both tables
// are K-by-m, column-major: tap t of output j is entry j*K + t.
//
// Geometry (half-pixel centres). Input sample i covers [i - 1/2, i + 1/2) in
// 1-based input coordinates, and output sample j sits at
//     u_j = j/s + (1 - 1/s)/2 = (j - 1/2)/s + 1/2.
// With the default scale the geometry is rational, u_j = ((2j - 1) n + m)/(2m),
// and so are the kernel arguments below, x = u_j - i = N/(2m) and
// s x = N/(2n) with N = (2j - 1) n + m - 2 m i: each is one correctly rounded
// division of exact integers (while N < 2^53), so identity jobs give integer
// centres, ties are genuine ties and a source position on a zero or an edge
// of the kernel gets exactly 0. An explicit scale uses (j - 1/2)/s + 1/2 and
// s (u_j - i) in double.
//
// Kernels h(x), x = u_j - i, with support radius R:
//     box       1 for -1/2 <= x < 1/2, else 0                   R = 1/2
//     triangle  max(0, 1 - |x|)                                 R = 1
//     cubic     (a+2)|x|^3 - (a+3)|x|^2 + 1        for |x| <= 1  R = 2
//               a|x|^3 - 5a|x|^2 + 8a|x| - 4a      for 1 < |x| < 2, a = -1/2
//     lanczosN  sinc(x) sinc(x/N) for |x| < N, sinc(x) = sin(pi x)/(pi x)
//                                                                R = N (2, 3)
// sin(pi x) is reduced exactly, so lanczos is exactly 0 at non-zero integers.
// The half-open box makes an exact tie go to the higher position.
//
// nearest is not a kernel evaluation: the single tap is i = floor(u_j + 1/2)
// (a tie rounds up, like box) with weight 1, so K = 1 whatever the scale.
//
// Antialiasing: when shrinking (s < 1) and antialiasing is on, the kernel is
// stretched to h_s(x) = s h(s x) and its radius grows to R/s. The factor s in
// front cancels in the normalisation below, so the code evaluates h(s x).
// Enlarging never stretches.
//
// Taps: every integer position p with floor(u - R') <= p <= ceil(u + R')
// (R' the possibly stretched radius) is evaluated; p outside 1..n is folded
// back into the image by the border mode (shown for n = 4, samples a b c d):
//     symmetric  d c b a | a b c d | d c b a   mirrored about the outer edge
//                of the end samples, which repeat (period 2n)
//     reflect    the same as symmetric, under the name other libraries use
//     mirror     d c b | a b c d | c b a   mirrored about the end samples'
//                centres, which do not repeat (period 2n - 2; n = 1: a)
//     replicate  a a a a | a b c d | d d d d   clamped to 1 or n
//     wrap       a b c d | a b c d | a b c d   periodic (period n)
//     constant   v v v v | a b c d | v v v v   every position outside holds
//                the fill value v
// Weights of positions that fold onto the same source index are added (in
// ascending p), entries that end up exactly zero are dropped, and the rest
// are divided by their sum, so that each column sums to 1 up to rounding.
// Each column lists its source indices in ascending order. K is the largest
// number of entries any column keeps, which is the smallest K that can
// represent the job; a shorter column is padded with weight +0 taps that
// repeat its last index, so every index stays inside 1..n (1..n+1 with a
// fill sample, below).
//
// The constant border. The module applies tables to the image's own samples
// and nothing else, so the fill value has to enter as a sample:
//   - Every position outside folds onto one extra index, n + 1: the fill
//     sample, which the caller appends to the axis (the image becomes n + 1
//     long, the last sample holding v in the image's own type). Its weight is
//     the sum of the outside positions' weights and it is the column's last
//     tap. Each output is then the module's own exact sum over the extended
//     axis: the fill sample is converted, multiplied and added like any
//     other, whatever v is (NaN and infinities included).
//   - With v = 0 (either sign) the fill tap is left out, and the indices stay
//     within 1..n, so the image needs no extra sample. This is exact, not an
//     approximation: the weights of the in-range taps are the same (their
//     divisor still counts the outside weight), and the left-out term would
//     be w * 0 = +0 or -0 added last. A sum that starts from +0 can never be
//     -0 (x + -x is +0 when rounding to nearest, and +0 + -0 is +0), so adding
//     either zero leaves it unchanged, bit for bit.
//   - A column whose positions all lie outside keeps one tap of weight +0 on
//     the in-range index nearest its centre (v = 0) so that K >= 1; its output
//     is the w * x = 0 of that tap, which is exact for any finite sample but
//     NaN if that sample is NaN or infinite. The same holds for every +0
//     padding tap of every border: 0 * inf is NaN.
// Tables::fillSample says whether the indices name n + 1.
// Costs: every column evaluates at most 2R' + 3 positions and keeps at most
// min(n, 2R' + 3) entries, so building is O(K m) time and memory for any
// sensible scale. Because folding makes K <= n (n + 1 with a fill sample), a window much wider than the
// image only repeats the image; an explicit scale that asks for a window wider
// than 8n + 32 positions is refused rather than evaluated.
#ifndef AXISWARP_TOOLS_RESAMPLE_TABLES_HPP
#define AXISWARP_TOOLS_RESAMPLE_TABLES_HPP

#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

enum class Kernel { nearest, box, triangle, cubic, lanczos2, lanczos3 };
enum class Border { symmetric, replicate, reflect, mirror, wrap, constant };

// Name parsing is exact and lower case; an unknown name throws ToolError
// listing the valid names.
Kernel parseKernel(std::string_view name);
std::string_view kernelName(Kernel kernel) noexcept;
const std::vector<std::string_view>& kernelNames();  // in enum order

Border parseBorder(std::string_view name);
std::string_view borderName(Border border) noexcept;
const std::vector<std::string_view>& borderNames();

// Support radius R of the unstretched kernel (nearest: 1/2, like box).
double kernelSupport(Kernel kernel) noexcept;
// h(x) of the unstretched kernel (nearest evaluates as box).
double kernelValue(Kernel kernel, double x) noexcept;

// Largest accepted input or output length.
inline constexpr std::uint64_t kMaxTableLength = std::uint64_t{1} << 31;

// How samples are weighted: the one record of this choice, shared by table
// requests and whole-image resizing.
struct FilterChoice {
    Kernel kernel = Kernel::cubic;
    bool antialias = true;
    Border border = Border::symmetric;
    // The value of every position outside the image for Border::constant;
    // only whether it is 0 shapes the tables (0: no fill sample).
    double fill = 0.0;
};

struct TableRequest {
    std::uint64_t inLength = 0;   // n >= 1
    std::uint64_t outLength = 0;  // m >= 1
    double scale = 0.0;           // 0 selects m/n; otherwise finite and > 0
    FilterChoice filter;
};

class TableColumns;

struct Tables {
    std::uint64_t taps = 0;       // K
    std::uint64_t outLength = 0;  // m
    std::vector<double> weights;  // K*m, column-major: entry j*K + t
    std::vector<double> indices;  // K*m, 1-based source positions
    bool fillSample = false;      // some index is n + 1: the fill sample the caller appends
    // Set when the columns are made on demand (see TableColumns): weights
    // and indices are then empty, and only a streamed resize, which asks
    // for a group of columns at a time, can use the tables.
    std::shared_ptr<const TableColumns> columns;

    double weight(std::uint64_t t, std::uint64_t j) const { return weights[j * taps + t]; }
    double index(std::uint64_t t, std::uint64_t j) const { return indices[j * taps + t]; }
};

// The scale the job uses: request.scale, or m/n when it is 0.
double effectiveScale(const TableRequest& request);

// Throws ToolError for n or m of 0 or above kMaxTableLength, a negative,
// non-finite or too small scale.
Tables buildTables(const TableRequest& request);

// The same tables made a few columns at a time, for a caller that needs
// only some output samples' columns at once (a streamed resize works
// through the output rows in groups): memory for the columns asked for, not
// for all m. Every column is made by the same code as buildTables, so the
// entries are the same numbers. Making it costs one pass over every column
// (K is the longest column), and each fill() makes its columns again.
class TableColumns {
public:
    // Throws ToolError as buildTables does.
    explicit TableColumns(const TableRequest& request);
    ~TableColumns();
    TableColumns(const TableColumns&) = delete;
    TableColumns& operator=(const TableColumns&) = delete;

    std::uint64_t taps() const noexcept { return taps_; }
    std::uint64_t outLength() const noexcept;
    bool fillSample() const noexcept { return fillSample_; }
    // Columns first .. first + count - 1 (counted from 0), laid out as in
    // Tables: K weights and K indices each. Safe from several threads.
    void fill(std::uint64_t first, std::uint64_t count, double* weights, double* indices) const;

private:
    struct Maker;
    std::unique_ptr<Maker> maker_;
    mutable std::mutex mutex_;  // fill() reuses the maker's scratch space
    std::uint64_t taps_ = 0;
    bool fillSample_ = false;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_RESAMPLE_TABLES_HPP
