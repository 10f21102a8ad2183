// Both kernel families against the reference model, bit for bit, over random
// tables for all ten element types; plus hand-worked cases that pin down the
// layout and the summation order independently of the model.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kernels/resample_dim1.hpp"
#include "kernels/resample_dim2.hpp"
#include "reference_resample.hpp"

namespace axiswarp {
namespace {

template <class T>
std::string describe(T value) {
    std::ostringstream out;
    if constexpr (std::is_floating_point_v<T>) {
        out << ::testing::PrintToString(value) << " (bits " << std::hex
            << std::bit_cast<std::conditional_t<sizeof(T) == 8, std::uint64_t, std::uint32_t>>(value) << ")";
    } else if constexpr (std::is_signed_v<T>) {
        out << static_cast<std::int64_t>(value);
    } else {
        out << static_cast<std::uint64_t>(value);
    }
    return out.str();
}

// ---------------------------------------------------------------------------
// Random problems.

struct Shape {
    std::uint64_t rows, cols, planes;
};

// Extents of 0 and 1 in every position, odd sizes, and sizes that leave the
// dimension-1 columns and dimension-2 rows at different lengths.
constexpr Shape kShapes[] = {{0, 3, 2}, {1, 1, 1}, {5, 0, 2}, {4, 3, 0}, {7, 5, 3},
                             {1, 9, 1}, {16, 1, 2}, {3, 17, 2}, {2, 4, 1}};
// Below, at and around one and two blocks of eight output columns.
constexpr std::uint64_t kOutLengths[] = {0, 1, 7, 8, 9, 15, 16, 17};
constexpr std::uint64_t kMaxTaps = 20;
constexpr std::size_t kGuard = 8;  // target elements past the end that must stay untouched

class Random {
public:
    explicit Random(std::uint64_t seed) : engine_(seed) {}
    std::uint64_t bits() { return engine_(); }
    // Uniform enough on [0, n) for test data; n > 0.
    std::uint64_t below(std::uint64_t n) { return engine_() % n; }
    bool chance(unsigned percent) { return below(100) < percent; }
    // A double in [-1, 1) with a full 53-bit significand.
    double unit() { return static_cast<double>(static_cast<std::int64_t>(engine_()) >> 10) * 0x1p-53; }

private:
    std::mt19937_64 engine_;
};

// With `special` false, floating-point elements are finite (but may still
// overflow a sum); otherwise infinities and NaN appear often enough that most
// long sums are not finite.
template <class T>
T randomElement(Random& random, bool special) {
    using Limits = std::numeric_limits<T>;
    if constexpr (std::is_floating_point_v<T>) {
        switch (random.below(16) + (special ? 0 : 3)) {
            case 0: return Limits::infinity();
            case 1: return -Limits::infinity();
            case 2: return Limits::quiet_NaN();
            case 3: return -0.0;
            case 4: return Limits::denorm_min() * static_cast<T>(random.below(1000));
            case 5: return Limits::max() * static_cast<T>(random.unit());
            case 6: return static_cast<T>(random.below(512));
            default: return static_cast<T>(random.unit() * 1000.0);
        }
    } else {
        switch (random.below(8)) {
            case 0: return Limits::min();
            case 1: return Limits::max();
            case 2: return static_cast<T>(Limits::max() - static_cast<T>(random.below(3000)));
            case 3: return static_cast<T>(Limits::min() + static_cast<T>(random.below(3000)));
            case 4: return static_cast<T>(random.below(20));
            // 2^53 +- a little and 2^63 +- a little for 64-bit types, where loads round;
            // plain truncated bits for the narrower ones.
            case 5: return static_cast<T>((std::uint64_t{1} << 53) + random.below(64) - 32);
            case 6: return static_cast<T>((std::uint64_t{1} << 63) + random.below(8192) - 4096);
            default: return static_cast<T>(random.bits());
        }
    }
}

// Mostly finite weights of a magnitude picked per problem, so that integer
// types see both in-range and saturating sums; zeros (also on infinite
// samples), and with `special` weights that make the sum infinite or NaN.
double randomWeight(Random& random, double scale, bool special) {
    switch (random.below(64) + (special ? 0 : 4)) {
        case 0: return std::numeric_limits<double>::infinity();
        case 1: return -std::numeric_limits<double>::infinity();
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return 1e300;
        case 4: case 5: case 6: case 7: return 0.0;
        case 8: return -0.0;
        case 9: case 10: return 1.0;
        case 11: return -1.0;
        case 12: return 0.5;
        default: return random.unit() * scale;
    }
}

struct Problem {
    Shape shape;
    std::uint64_t outLength;
    std::uint64_t taps;
    int dim;
};

std::string describe(const Problem& problem) {
    std::ostringstream out;
    out << "dim " << problem.dim << ", M N P = " << problem.shape.rows << ' ' << problem.shape.cols << ' '
        << problem.shape.planes << ", L = " << problem.outLength << ", K = " << problem.taps;
    return out.str();
}

template <class T>
::testing::AssertionResult runAndCompare(const Problem& problem, Random& random) {
    const Shape& s = problem.shape;
    const std::uint64_t along = problem.dim == 1 ? s.rows : s.cols;
    const std::uint64_t step = problem.dim == 1 ? 1 : s.rows;  // offset of one position along the dimension

    const bool special = random.chance(50);
    std::vector<T> source(s.rows * s.cols * s.planes);
    for (T& element : source) element = randomElement<T>(random, special);

    const std::uint64_t entries = problem.taps * problem.outLength;
    const double scales[] = {0x1p-30, 0x1p-8, 1.0, 0x1p20, 0x1p60};
    const double scale = scales[random.below(5)];
    std::vector<double> weights(entries);
    std::vector<std::uint64_t> offsets(entries);
    for (std::uint64_t e = 0; e < entries; ++e) {
        weights[e] = randomWeight(random, scale, special);
        // Unsorted, and repeats are frequent with short columns.
        offsets[e] = random.below(along) * step;
    }

    const std::uint64_t outCount =
        problem.dim == 1 ? problem.outLength * s.cols * s.planes : s.rows * problem.outLength * s.planes;
    std::vector<T> actual(outCount + kGuard);
    std::memset(actual.data(), 0xA5, actual.size() * sizeof(T));
    const std::vector<T> untouched = actual;
    std::vector<T> expected(outCount);

    // Empty vectors may hand out null data, as the host may for empty arrays.
    const ResizeJob<T> job{source.data(),     actual.data(), s.rows,         s.cols,         s.planes,
                           problem.outLength, problem.taps,  offsets.data(), weights.data(), problem.dim};
    if (problem.dim == 1) {
        resampleDim1<T>(job);
    } else {
        resampleDim2<T>(job);
    }
    reference::referenceResample<T>(problem.dim, source.data(), s.rows, s.cols, s.planes, expected.data(),
                                    problem.outLength, weights.data(), problem.taps, offsets.data());

    for (std::uint64_t n = 0; n < outCount; ++n) {
        if (!reference::identicalSamples(actual[n], expected[n])) {
            return ::testing::AssertionFailure() << describe(problem) << ": element " << n << " is "
                                                 << describe(actual[n]) << ", expected " << describe(expected[n]);
        }
    }
    if (std::memcmp(actual.data() + outCount, untouched.data() + outCount, kGuard * sizeof(T)) != 0) {
        return ::testing::AssertionFailure() << describe(problem) << ": wrote past the end of the target";
    }
    return ::testing::AssertionSuccess();
}

template <class T>
class ResampleKernels : public ::testing::Test {
protected:
    void compareAll(int dim) {
        Random random(0x5eed0000u + static_cast<std::uint64_t>(dim) * 977u + sizeof(T) * 31u +
                      (std::is_signed_v<T> ? 7u : 0u) + (std::is_floating_point_v<T> ? 3u : 0u));
        int compared = 0;
        for (const Shape& shape : kShapes) {
            const std::uint64_t along = dim == 1 ? shape.rows : shape.cols;
            for (const std::uint64_t outLength : kOutLengths) {
                for (std::uint64_t taps = 0; taps <= kMaxTaps; ++taps) {
                    // An extent of 0 along the dimension admits no valid offset.
                    if (along == 0 && taps > 0) continue;
                    ASSERT_TRUE(runAndCompare<T>(Problem{shape, outLength, taps, dim}, random));
                    ++compared;
                }
            }
        }
        EXPECT_GT(compared, 1000);
    }
};

using ElementTypes = ::testing::Types<double, single, uint8, uint16, uint32, uint64, int8, int16, int32, int64>;
TYPED_TEST_SUITE(ResampleKernels, ElementTypes);

TYPED_TEST(ResampleKernels, Dim1MatchesReference) { this->compareAll(1); }
TYPED_TEST(ResampleKernels, Dim2MatchesReference) { this->compareAll(2); }

// ---------------------------------------------------------------------------
// Single output samples through both kernels.

struct Tap {
    double sample;
    double weight;
};

// One output sample from K taps, each reading its own source element: along
// dimension 1 a single column of K elements, along dimension 2 a single row
// of K columns. Returns the sample from each kernel.
template <class T>
std::pair<T, T> oneSampleBothKernels(const std::vector<Tap>& taps) {
    const std::uint64_t k = taps.size();
    std::vector<T> source;
    std::vector<double> weights;
    std::vector<std::uint64_t> offsets;
    for (std::uint64_t t = 0; t < k; ++t) {
        source.push_back(static_cast<T>(taps[t].sample));
        weights.push_back(taps[t].weight);
        offsets.push_back(t);  // dim 1: row t; dim 2: column t of a one-row image
    }
    T byDim1{};
    T byDim2{};
    resampleDim1<T>({source.data(), &byDim1, k, 1, 1, 1, k, offsets.data(), weights.data(), 1});
    resampleDim2<T>({source.data(), &byDim2, 1, k, 1, 1, k, offsets.data(), weights.data(), 2});
    return {byDim1, byDim2};
}

template <class T>
void expectBoth(const std::vector<Tap>& taps, T expected) {
    const auto [byDim1, byDim2] = oneSampleBothKernels<T>(taps);
    EXPECT_TRUE(reference::identicalSamples(byDim1, expected)) << "dim 1 gave " << describe(byDim1);
    EXPECT_TRUE(reference::identicalSamples(byDim2, expected)) << "dim 2 gave " << describe(byDim2);
}

TEST(ResampleKnownValues, TapsAreAddedInOrder) {
    // Adding the four ones before 2^53 would give 2^53 + 4.
    expectBoth<double>({{1.0, 0x1p53}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}}, 0x1p53);
    // And in the other direction the ones accumulate before the big tap.
    expectBoth<double>({{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}, {1.0, 0x1p53}}, 0x1p53 + 4.0);
    // One group of four, in order: 1 + 2^53 rounds to 2^53, so does the next + 1, and
    // - 2^53 leaves 0. Pairing the products first, (1 + 2^53) + (1 - 2^53), gives 1.
    expectBoth<double>({{1.0, 1.0}, {1.0, 0x1p53}, {1.0, 1.0}, {-1.0, 0x1p53}}, 0.0);
}

// A fused multiply-add keeps the exact product; the separate multiplication
// rounds it. Each case cancels a rounded product against a previous tap, so
// only the unfused chain gives 0. The pair sits in the tail loop, inside an
// unrolled group, and after a group.
TEST(ResampleKnownValues, ProductsAreRoundedBeforeAdding) {
    // (1 + 2^-29)(1 + 2^-31) = 1 + 2^-29 + 2^-31 + 2^-60; the 2^-60 is lost in rounding.
    const Tap cancel = {-(1.0 + 0x1p-29 + 0x1p-31), 1.0};
    const Tap product = {1.0 + 0x1p-29, 1.0 + 0x1p-31};
    const Tap nothing = {0.0, 0.0};
    expectBoth<double>({cancel, product}, 0.0);
    expectBoth<double>({nothing, nothing, cancel, product}, 0.0);
    expectBoth<double>({nothing, nothing, nothing, nothing, nothing, cancel, product}, 0.0);

    // (2^27 + 1)^2 = 2^54 + 2^28 + 1; the 1 is lost. Fused, the int32 output would be 1.
    const Tap cancelInt = {-134217728.0, 134217730.0};  // exactly -(2^54 + 2^28)
    const Tap productInt = {134217729.0, 134217729.0};
    expectBoth<int32>({cancelInt, productInt}, 0);
    expectBoth<int32>({nothing, nothing, cancelInt, productInt}, 0);
    expectBoth<int64>({nothing, nothing, nothing, nothing, nothing, cancelInt, productInt}, 0);
}

TEST(ResampleKnownValues, SumStartsFromPositiveZero) {
    expectBoth<double>({{-0.0, 1.0}, {0.0, -1.0}, {-0.0, 1.0}, {-0.0, 2.0}, {-0.0, 1.0}}, 0.0);
    expectBoth<single>({{-0.0, 1.0}}, 0.0f);
    expectBoth<double>({}, 0.0);
}

TEST(ResampleKnownValues, NonFiniteProducts) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    constexpr double nan = std::numeric_limits<double>::quiet_NaN();
    // A zero weight is not skipped: 0 * inf is NaN.
    expectBoth<double>({{5.0, 1.0}, {inf, 0.0}}, nan);
    expectBoth<single>({{-inf, 0.0}, {5.0, 1.0}}, std::numeric_limits<float>::quiet_NaN());
    expectBoth<uint8>({{3.0, inf}, {3.0, -inf}}, 0);
    expectBoth<int32>({{3.0, nan}}, std::numeric_limits<int32>::min());
    expectBoth<uint16>({{1.0, inf}}, 65535);
    expectBoth<int16>({{1.0, -inf}}, -32768);
    // Finite products whose sum overflows.
    expectBoth<double>({{1e300, 1e300}, {-1e300, 1e300}}, nan);
}

TEST(ResampleKnownValues, IntegerSumsSaturateAndRound) {
    expectBoth<uint8>({{200.0, 1.0}, {200.0, 1.0}}, 255);
    expectBoth<uint8>({{200.0, -1.0}, {200.0, -1.0}}, 0);
    // 0/1 bytes of a logical image under half weights.
    expectBoth<uint8>({{1.0, 0.5}, {0.0, 0.5}}, 1);
    expectBoth<uint8>({{1.0, 0.25}, {0.0, 0.25}}, 0);
    expectBoth<int8>({{-5.0, 0.5}}, -3);
    expectBoth<int64>({{0x1p62, 2.0}}, std::numeric_limits<int64>::max());
    expectBoth<int64>({{-0x1p62, 2.0}, {-1.0, 1.0}}, std::numeric_limits<int64>::min());
}

// No taps: every output is the store of +0.0, and the tables and source are
// never touched (null pointers here would fault if they were).
TEST(ResampleKnownValues, ZeroTapsReadNothing) {
    std::vector<double> target(2 * 3 * 2, std::numeric_limits<double>::quiet_NaN());
    resampleDim1<double>({nullptr, target.data(), 4, 3, 2, 2, 0, nullptr, nullptr, 1});
    for (const double value : target) EXPECT_EQ(std::bit_cast<std::uint64_t>(value), 0u);
    std::vector<int8> narrow(4 * 3 * 2, int8{99});
    resampleDim2<int8>({nullptr, narrow.data(), 4, 5, 2, 3, 0, nullptr, nullptr, 2});
    for (const int8 value : narrow) EXPECT_EQ(value, 0);
}

// Hand-worked three-dimensional layouts, so that the reference model's own
// indexing is checked too. Element (i, j, p) of the source holds 100p + 10j + i.
TEST(ResampleKnownValues, ThreeDimensionalLayout) {
    const auto fill = [](std::uint64_t rows, std::uint64_t cols, std::uint64_t planes) {
        std::vector<double> image;
        for (std::uint64_t p = 0; p < planes; ++p)
            for (std::uint64_t j = 0; j < cols; ++j)
                for (std::uint64_t i = 0; i < rows; ++i) image.push_back(100.0 * p + 10.0 * j + i);
        return image;
    };
    // Output sample 0 = e(2) + 2 e(0), sample 1 = (e(1) + e(1)) / 2, in every column.
    const std::vector<double> weights = {1.0, 2.0, 0.5, 0.5};

    const std::vector<double> image1 = fill(3, 2, 2);
    const std::vector<std::uint64_t> offsets1 = {2, 0, 1, 1};
    const std::vector<double> expected1 = {2, 1, 32, 11, 302, 101, 332, 111};
    std::vector<double> byKernel1(8);
    std::vector<double> byReference1(8);
    resampleDim1<double>({image1.data(), byKernel1.data(), 3, 2, 2, 2, 2, offsets1.data(), weights.data(), 1});
    reference::referenceResampleDim1<double>(image1.data(), 3, 2, 2, byReference1.data(), 2, weights.data(), 2,
                                             offsets1.data());
    EXPECT_EQ(byKernel1, expected1);
    EXPECT_EQ(byReference1, expected1);

    // Along dimension 2 the offsets are whole columns of 2 rows.
    const std::vector<double> image2 = fill(2, 3, 2);
    const std::vector<std::uint64_t> offsets2 = {4, 0, 2, 2};
    const std::vector<double> expected2 = {20, 23, 10, 11, 320, 323, 110, 111};
    std::vector<double> byKernel2(8);
    std::vector<double> byReference2(8);
    resampleDim2<double>({image2.data(), byKernel2.data(), 2, 3, 2, 2, 2, offsets2.data(), weights.data(), 2});
    reference::referenceResampleDim2<double>(image2.data(), 2, 3, 2, byReference2.data(), 2, weights.data(), 2,
                                             offsets2.data());
    EXPECT_EQ(byKernel2, expected2);
    EXPECT_EQ(byReference2, expected2);
}

}  // namespace
}  // namespace axiswarp
