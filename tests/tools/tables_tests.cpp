#include "resample/resample_tables.hpp"
#include "runtime/tool_error.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numbers>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

// (index, weight) pairs of one output column, 1-based j, padding included.
std::vector<std::pair<double, double>> column(const Tables& t, std::uint64_t j) {
    std::vector<std::pair<double, double>> out;
    for (std::uint64_t k = 0; k < t.taps; ++k) out.emplace_back(t.index(k, j - 1), t.weight(k, j - 1));
    return out;
}

std::vector<std::pair<double, double>> nonZero(const Tables& t, std::uint64_t j) {
    std::vector<std::pair<double, double>> out;
    for (const auto& e : column(t, j))
        if (e.second != 0.0) out.push_back(e);
    return out;
}

using Col = std::vector<std::pair<double, double>>;

// A dense, deliberately naive model of the tables: evaluate the kernel at
// every position within a generous range, fold each one separately and add.
std::map<std::int64_t, double> denseColumn(const TableRequest& request, std::uint64_t j) {
    const double s = request.scale == 0.0 ? double(request.outLength) / double(request.inLength) : request.scale;
    const bool stretch = request.filter.antialias && s < 1.0;
    const double r = stretch ? kernelSupport(request.filter.kernel) / s : kernelSupport(request.filter.kernel);
    const double u = request.scale == 0.0
                         ? double((2 * j - 1) * request.inLength + request.outLength) / double(2 * request.outLength)
                         : (double(j) - 0.5) / s + 0.5;
    const auto n = static_cast<std::int64_t>(request.inLength);
    std::map<std::int64_t, double> acc;
    for (auto p = static_cast<std::int64_t>(u - r) - 3; p <= static_cast<std::int64_t>(u + r) + 3; ++p) {
        // Each border stepped out literally, one reflection or period at a time.
        std::int64_t f = p;
        switch (request.filter.border) {
            case Border::replicate: f = std::min<std::int64_t>(std::max<std::int64_t>(p, 1), n); break;
            case Border::symmetric:
            case Border::reflect:
                while (f < 1 || f > n) f = f < 1 ? 1 - f : 2 * n + 1 - f;
                break;
            case Border::mirror:
                while (n > 1 && (f < 1 || f > n)) f = f < 1 ? 2 - f : 2 * n - f;
                if (n == 1) f = 1;
                break;
            case Border::wrap:
                while (f < 1 || f > n) f += f < 1 ? n : -n;
                break;
            case Border::constant:
                if (f < 1 || f > n) f = n + 1;  // the fill sample
                break;
        }
        // The default scale is rational: x = u - p = N/(2m), s x = N/(2n).
        const double num = double(std::int64_t((2 * j - 1) * request.inLength + request.outLength) -
                                  2 * std::int64_t(request.outLength) * p);
        const double x = request.scale == 0.0 ? num / double(2 * request.outLength) : u - double(p);
        const double sx = request.scale == 0.0 ? num / double(2 * request.inLength) : s * x;
        acc[f] += kernelValue(request.filter.kernel, stretch ? sx : x);
    }
    double total = 0.0;
    for (auto& [f, w] : acc) total += w;
    const bool dropFill = request.filter.border == Border::constant && request.filter.fill == 0.0;
    for (auto it = acc.begin(); it != acc.end();) {
        if (it->second == 0.0 || (dropFill && it->first == n + 1)) {
            it = acc.erase(it);
        } else {
            it->second /= total;
            ++it;
        }
    }
    return acc;
}

TEST(TableNames, ParseRoundTripsAndRejectsUnknownNamesListingTheValidOnes) {
    for (std::string_view name : kernelNames()) EXPECT_EQ(kernelName(parseKernel(name)), name);
    for (std::string_view name : borderNames()) EXPECT_EQ(borderName(parseBorder(name)), name);
    EXPECT_EQ(kernelNames().size(), 6u);
    try {
        parseKernel("bicubic");
        FAIL() << "no error";
    } catch (const ToolError& e) {
        const std::string msg = e.what();
        EXPECT_NE(msg.find("'bicubic'"), std::string::npos) << msg;
        EXPECT_NE(msg.find("nearest, box, triangle, cubic, lanczos2, lanczos3"), std::string::npos) << msg;
    }
    try {
        parseBorder("clamp");
        FAIL() << "no error";
    } catch (const ToolError& e) {
        EXPECT_NE(std::string(e.what()).find("symmetric, replicate, reflect, mirror, wrap, constant"),
                  std::string::npos);
    }
    EXPECT_THROW(parseKernel("Cubic"), ToolError);
}

TEST(Kernels, LanczosIsExactlyZeroAtNonZeroIntegersAndMatchesItsFormulaElsewhere) {
    for (auto [kernel, lobes] : {std::pair{Kernel::lanczos2, 2}, std::pair{Kernel::lanczos3, 3}}) {
        EXPECT_EQ(kernelValue(kernel, 0.0), 1.0);
        for (int k = 1; k <= lobes + 2; ++k) {
            EXPECT_EQ(kernelValue(kernel, k), 0.0) << k;
            EXPECT_EQ(kernelValue(kernel, -k), 0.0) << -k;
        }
        for (double x : {0.3, -0.5, 1.7, -1.25, 2.4, 2.999}) {
            const double px = std::numbers::pi * x;
            const double expect =
                std::fabs(x) < lobes ? std::sin(px) / px * std::sin(px / lobes) / (px / lobes) : 0.0;
            EXPECT_NEAR(kernelValue(kernel, x), expect, 1e-14) << x;
        }
    }
    // Knots of the others.
    EXPECT_EQ(kernelValue(Kernel::cubic, 1.0), 0.0);
    EXPECT_EQ(kernelValue(Kernel::cubic, -2.0), 0.0);
    EXPECT_EQ(kernelValue(Kernel::box, -0.5), 1.0);
    EXPECT_EQ(kernelValue(Kernel::box, 0.5), 0.0);
    EXPECT_EQ(kernelValue(Kernel::triangle, 0.25), 0.75);
}

TEST(Tables, IdentityScaleGivesOneTapOfWeightOneAtTheSamePosition) {
    for (Kernel kernel : {Kernel::nearest, Kernel::box, Kernel::triangle, Kernel::cubic,
                          Kernel::lanczos2, Kernel::lanczos3}) {
        for (std::uint64_t n : {1u, 2u, 7u, 64u}) {
            const Tables t = buildTables({n, n, 0.0, {kernel, true, Border::symmetric}});
            ASSERT_EQ(t.taps, 1u) << kernelName(kernel) << " n=" << n;
            for (std::uint64_t j = 1; j <= n; ++j) {
                EXPECT_EQ(t.index(0, j - 1), double(j));
                EXPECT_EQ(t.weight(0, j - 1), 1.0);
            }
        }
    }
}

TEST(Tables, CubicWeightsMatchHandComputedValues) {
    // s = 2: u = j/2 + 1/4; output 8 of 16 sits at 4.25.
    const Tables up = buildTables({8, 16, 0.0, {Kernel::cubic, true, Border::symmetric}});
    EXPECT_EQ(up.taps, 4u);
    EXPECT_EQ(column(up, 8), (Col{{3, -0.0703125}, {4, 0.8671875}, {5, 0.2265625}, {6, -0.0234375}}));

    // s = 1/2: u = 2j - 1/2; output 4 of 8 sits at 7.5. Antialiasing doubles the support.
    const Tables down = buildTables({16, 8, 0.0, {Kernel::cubic, true, Border::symmetric}});
    EXPECT_EQ(down.taps, 8u);
    EXPECT_EQ(column(down, 4), (Col{{4, -0.01171875},
                                    {5, -0.03515625},
                                    {6, 0.11328125},
                                    {7, 0.43359375},
                                    {8, 0.43359375},
                                    {9, 0.11328125},
                                    {10, -0.03515625},
                                    {11, -0.01171875}}));

    const Tables plain = buildTables({16, 8, 0.0, {Kernel::cubic, false, Border::symmetric}});
    EXPECT_EQ(plain.taps, 4u);
    EXPECT_EQ(column(plain, 4), (Col{{6, -0.0625}, {7, 0.5625}, {8, 0.5625}, {9, -0.0625}}));
}

TEST(Tables, BordersFoldTapsAtBothEnds) {
    // Cubic at s = 2 over n = 4: output 1 sits at 0.75 (taps -1..2), output 8
    // at 4.25 (taps 3..6). Folded taps add onto the index they land on.
    const Tables sym = buildTables({4, 8, 0.0, {Kernel::cubic, true, Border::symmetric}});
    EXPECT_EQ(nonZero(sym, 1), (Col{{1, 0.2265625 + 0.8671875}, {2, -0.0234375 - 0.0703125}}));
    EXPECT_EQ(nonZero(sym, 8), (Col{{3, -0.0703125 - 0.0234375}, {4, 0.8671875 + 0.2265625}}));

    const Tables rep = buildTables({4, 8, 0.0, {Kernel::cubic, true, Border::replicate}});
    EXPECT_EQ(nonZero(rep, 1), (Col{{1, -0.0234375 + 0.2265625 + 0.8671875}, {2, -0.0703125}}));
    EXPECT_EQ(nonZero(rep, 8), (Col{{3, -0.0703125}, {4, 0.8671875 + 0.2265625 - 0.0234375}}));

    // An explicit scale can put centres far outside: symmetric folding is
    // periodic (1,2,3,3,2,1,1,2,...), replicate clamps.
    const Tables farSym = buildTables({3, 4, 0.5, {Kernel::nearest, false, Border::symmetric}});
    const Tables farRep = buildTables({3, 4, 0.5, {Kernel::nearest, false, Border::replicate}});
    // u = 2j - 1/2, nearest positions 2, 4, 6, 8.
    EXPECT_EQ(farSym.indices, (std::vector<double>{2, 3, 1, 2}));
    EXPECT_EQ(farRep.indices, (std::vector<double>{2, 3, 3, 3}));
}

TEST(Tables, MirrorWrapAndConstantBordersAtBothEnds) {
    // The cubic taps of BordersFoldTapsAtBothEnds: output 1 at 0.75 takes
    // p = -1, 0, 1, 2; output 8 at 4.25 takes p = 3, 4, 5, 6. Each column's
    // raw weights sum to exactly 1, so merging is the only arithmetic.
    const double a = -0.0234375, b = 0.2265625, c = 0.8671875, d = -0.0703125;
    struct Case {
        Border border;
        double fill;
        Col first, last;
    };
    const std::vector<Case> cases = {
        {Border::reflect, 0.0, {{1, b + c}, {2, a + d}}, {{3, d + a}, {4, c + b}}},
        {Border::mirror, 0.0, {{1, c}, {2, b + d}, {3, a}}, {{2, a}, {3, d + b}, {4, c}}},
        {Border::wrap, 0.0, {{1, c}, {2, d}, {3, a}, {4, b}}, {{1, b}, {2, a}, {3, d}, {4, c}}},
        {Border::constant, 0.0, {{1, c}, {2, d}}, {{3, d}, {4, c}}},
        {Border::constant, -7.5, {{1, c}, {2, d}, {5, a + b}}, {{3, d}, {4, c}, {5, b + a}}},
    };
    for (const Case& k : cases) {
        const Tables t = buildTables({4, 8, 0.0, {Kernel::cubic, true, k.border, k.fill}});
        const std::string what = std::string(borderName(k.border)) + " fill " + std::to_string(k.fill);
        EXPECT_EQ(nonZero(t, 1), k.first) << what;
        EXPECT_EQ(nonZero(t, 8), k.last) << what;
        EXPECT_EQ(t.fillSample, k.fill != 0.0) << what;
    }
}

TEST(Tables, ConstantBorderFarOutsideGivesTheFillSampleOrAZeroWeight) {
    // u = 2j - 1/2 over n = 3: nearest positions 2, 4, 6, 8; only the first is inside.
    const Tables zero = buildTables({3, 4, 0.5, {Kernel::nearest, false, Border::constant, 0.0}});
    EXPECT_EQ(zero.indices, (std::vector<double>{2, 3, 3, 3}));
    EXPECT_EQ(zero.weights, (std::vector<double>{1, 0, 0, 0}));
    EXPECT_FALSE(zero.fillSample);
    const Tables fill = buildTables({3, 4, 0.5, {Kernel::nearest, false, Border::constant, 2.0}});
    EXPECT_EQ(fill.indices, (std::vector<double>{2, 4, 4, 4}));
    EXPECT_EQ(fill.weights, (std::vector<double>{1, 1, 1, 1}));
    EXPECT_TRUE(fill.fillSample);
    const Tables wrap = buildTables({3, 4, 0.5, {Kernel::nearest, false, Border::wrap}});
    EXPECT_EQ(wrap.indices, (std::vector<double>{2, 1, 3, 2}));

    // u = 4j - 3/2: output 1 (2.5) takes p = 1..4, the fill's share -1/16 left
    // out; outputs 2..4 lie wholly outside: one +0 tap on the nearest sample
    // inside, padded like any short column.
    const Tables cubic = buildTables({3, 4, 0.25, {Kernel::cubic, false, Border::constant, 0.0}});
    ASSERT_EQ(cubic.taps, 3u);
    EXPECT_EQ(column(cubic, 1), (Col{{1, -0.0625}, {2, 0.5625}, {3, 0.5625}}));
    for (std::uint64_t j = 2; j <= 4; ++j) EXPECT_EQ(column(cubic, j), (Col{{3, 0}, {3, 0}, {3, 0}})) << j;
}

TEST(Tables, NearestTiesRoundUpAndNearestNeverStretches) {
    EXPECT_EQ(buildTables({2, 1, 0.0, {Kernel::nearest, true, Border::symmetric}}).indices,
              std::vector<double>{2});  // u = 1.5
    EXPECT_EQ(buildTables({4, 2, 0.0, {Kernel::nearest, true, Border::symmetric}}).indices,
              (std::vector<double>{2, 4}));  // u = 1.5, 3.5
    EXPECT_EQ(buildTables({3, 2, 0.0, {Kernel::nearest, true, Border::symmetric}}).indices,
              (std::vector<double>{1, 3}));  // u = 1.25, 2.75
    // s = 1/6 is inexact in binary; the default scale still finds the ties.
    const Tables t = buildTables({18, 3, 0.0, {Kernel::nearest, true, Border::symmetric}});
    EXPECT_EQ(t.indices, (std::vector<double>{4, 10, 16}));  // u = 3.5, 9.5, 15.5
    EXPECT_EQ(t.taps, 1u);
    EXPECT_EQ(t.weights, (std::vector<double>{1, 1, 1}));
}

// Every kernel, border and a spread of shapes: columns sum to 1, the tables
// agree with the dense model, indices stay inside the image, and K is the
// largest number of distinct non-zero entries any column needs.
TEST(Tables, AgreeWithDenseModelAndKIsMinimal) {
    const std::vector<std::pair<std::uint64_t, std::uint64_t>> shapes = {
        {1, 1}, {1, 5}, {5, 1}, {2, 1}, {2, 3}, {7, 3}, {3, 7}, {10, 10}, {13, 4}, {4, 13}, {100, 37}, {37, 100}};
    // A constant border with fill 0 and with a fill sample (fill 1).
    std::vector<std::pair<Border, double>> borders;
    for (std::string_view name : borderNames()) borders.emplace_back(parseBorder(name), 0.0);
    borders.emplace_back(Border::constant, 1.0);
    for (Kernel kernel : {Kernel::box, Kernel::triangle, Kernel::cubic, Kernel::lanczos2, Kernel::lanczos3})
        for (auto [border, fill] : borders)
            for (bool aa : {true, false})
                for (auto [n, m] : shapes) {
                    const TableRequest request{n, m, 0.0, {kernel, aa, border, fill}};
                    const Tables t = buildTables(request);
                    const std::string what = std::string(kernelName(kernel)) + " " +
                                             std::string(borderName(border)) + " fill=" + std::to_string(fill) +
                                             " aa=" + std::to_string(aa) + " " + std::to_string(n) + "->" +
                                             std::to_string(m);
                    const double lastIndex = double(n) + (fill != 0.0 ? 1.0 : 0.0);
                    bool namesFill = false;
                    ASSERT_EQ(t.weights.size(), t.taps * m) << what;
                    ASSERT_EQ(t.indices.size(), t.taps * m) << what;
                    std::uint64_t widest = 0;
                    for (std::uint64_t j = 1; j <= m; ++j) {
                        const auto model = denseColumn(request, j);
                        widest = std::max<std::uint64_t>(widest, model.size());
                        double sum = 0.0;
                        std::map<std::int64_t, double> got;
                        for (auto [idx, w] : column(t, j)) {
                            ASSERT_GE(idx, 1.0) << what;
                            ASSERT_LE(idx, lastIndex) << what;
                            ASSERT_EQ(idx, std::floor(idx)) << what;
                            namesFill = namesFill || idx == double(n + 1);
                            sum += w;
                            if (w != 0.0) got[static_cast<std::int64_t>(idx)] += w;
                        }
                        // Dropping the fill 0 drops its share of the sum.
                        double modelSum = 0.0;
                        for (auto [idx, w] : model) modelSum += w;
                        EXPECT_NEAR(sum, modelSum, 1e-13) << what << " j=" << j;
                        ASSERT_EQ(got.size(), model.size()) << what << " j=" << j;
                        for (auto [idx, w] : model) EXPECT_NEAR(got[idx], w, 1e-13) << what << " j=" << j;
                    }
                    EXPECT_EQ(t.taps, std::max<std::uint64_t>(widest, 1)) << what;
                    EXPECT_EQ(t.fillSample, namesFill) << what;
                }
}

TEST(Tables, SingleSampleInputGivesWeightExactlyOne) {
    for (Kernel kernel : {Kernel::nearest, Kernel::box, Kernel::cubic, Kernel::lanczos3}) {
        const Tables t = buildTables({1, 9, 0.0, {kernel, true, Border::symmetric}});
        EXPECT_EQ(t.taps, 1u);
        EXPECT_EQ(t.weights, std::vector<double>(9, 1.0));
        EXPECT_EQ(t.indices, std::vector<double>(9, 1.0));
    }
}

TEST(Tables, HugeShrinkKeepsKWithinTheInput) {
    const Tables all = buildTables({100000, 1, 0.0, {Kernel::lanczos3, true, Border::symmetric}});
    EXPECT_LE(all.taps, 100000u);
    EXPECT_GT(all.taps, 90000u);
    const Tables third = buildTables({1u << 20, 3, 0.0, {Kernel::box, true, Border::replicate}});
    EXPECT_LE(third.taps, (1u << 20) / 3 + 2);
    double sum = 0.0;
    for (std::uint64_t t = 0; t < third.taps; ++t) sum += third.weight(t, 1);
    EXPECT_NEAR(sum, 1.0, 1e-9);
}

TEST(Tables, ExplicitScaleEqualToTheDefaultGivesTheSameTables) {
    const Tables a = buildTables({9, 18, 0.0, {Kernel::lanczos3, true, Border::symmetric}});
    const Tables b = buildTables({9, 18, 2.0, {Kernel::lanczos3, true, Border::symmetric}});
    EXPECT_EQ(a.taps, b.taps);
    EXPECT_EQ(a.weights, b.weights);
    EXPECT_EQ(a.indices, b.indices);
}

TEST(Tables, RefusesInvalidJobsWithAClearMessage) {
    auto message = [](const TableRequest& request) {
        try {
            buildTables(request);
        } catch (const ToolError& e) {
            return std::string(e.what());
        }
        return std::string("no error");
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_NE(message({0, 4, 0.0, {}}).find("input length is 0"), std::string::npos);
    EXPECT_NE(message({4, 0, 0.0, {}}).find("output length is 0"), std::string::npos);
    EXPECT_NE(message({kMaxTableLength + 1, 4, 0.0, {}}).find("exceeds"), std::string::npos);
    for (double scale : {-1.0, inf, -inf, nan})
        EXPECT_NE(message({4, 4, scale, {}}).find("positive finite"), std::string::npos) << scale;
    // A window thousands of times the image, and centres beyond 2^52.
    EXPECT_NE(message({10, 10, 1e-4, {Kernel::cubic, true, Border::symmetric}}).find("antialiasing off"), std::string::npos);
    EXPECT_NE(message({10, 10, 1e-300, {Kernel::cubic, false, Border::symmetric}}).find("beyond"), std::string::npos);
    // Without the stretch the same tiny scale is fine: the centres fold back.
    EXPECT_EQ(buildTables({10, 10, 1e-4, {Kernel::cubic, false, Border::symmetric}}).outLength, 10u);
}

}  // namespace

// Columns made on demand are the whole build's, in any split, for every
// kernel and border, shrinking and enlarging, and with a fill sample.
TEST(TableColumns, AnySplitGivesTheColumnsOfTheWholeBuild) {
    using namespace axiswarp::tools;
    struct Case {
        std::uint64_t n, m;
        double fill;
    };
    for (const Kernel kernel : {Kernel::nearest, Kernel::box, Kernel::cubic, Kernel::lanczos3}) {
        for (const Border border : {Border::symmetric, Border::wrap, Border::constant}) {
            for (const Case c : {Case{97, 13, 0.0}, Case{13, 41, 0.0}, Case{40, 7, 5.0}, Case{5, 5, 1.0}}) {
                TableRequest request;
                request.inLength = c.n;
                request.outLength = c.m;
                request.filter.kernel = kernel;
                request.filter.border = border;
                request.filter.fill = c.fill;
                SCOPED_TRACE(std::string(kernelName(kernel)) + " " + std::string(borderName(border)) + " " +
                             std::to_string(c.n) + "->" + std::to_string(c.m));
                const Tables whole = buildTables(request);
                const TableColumns columns(request);
                ASSERT_EQ(columns.taps(), whole.taps);
                ASSERT_EQ(columns.outLength(), whole.outLength);
                EXPECT_EQ(columns.fillSample(), whole.fillSample);
                for (const std::uint64_t group : {std::uint64_t{1}, std::uint64_t{3}, c.m}) {
                    std::vector<double> weights(group * whole.taps), indices(group * whole.taps);
                    for (std::uint64_t first = 0; first < c.m; first += group) {
                        const std::uint64_t count = std::min(group, c.m - first);
                        columns.fill(first, count, weights.data(), indices.data());
                        for (std::uint64_t e = 0; e < count * whole.taps; ++e) {
                            // Bit for bit: the same doubles, signed zeros included.
                            EXPECT_EQ(std::signbit(weights[e]), std::signbit(whole.weights[first * whole.taps + e]));
                            EXPECT_EQ(weights[e], whole.weights[first * whole.taps + e]);
                            EXPECT_EQ(indices[e], whole.indices[first * whole.taps + e]);
                        }
                    }
                }
            }
        }
    }
}
