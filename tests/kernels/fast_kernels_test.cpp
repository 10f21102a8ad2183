// The vectorised kernels against the plain reference model, bit for bit, at
// every instruction-set level this processor has: random tables for all ten
// element types and both dimensions, K from 0 to 40, and extents on either
// side of every vector width, accumulator block, row strip, column group and
// tile the kernels use; non-finite and saturating sums in every lane.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "kernels/kernel_select.hpp"
#include "reference_resample.hpp"

namespace axiswarp {
namespace {

using u64 = std::uint64_t;

std::vector<SimdLevel> availableLevels() {
    std::vector<SimdLevel> levels;
    for (int level = 0; level <= static_cast<int>(supportedSimdLevel()); ++level) {
        levels.push_back(static_cast<SimdLevel>(level));
    }
    return levels;
}

const char* levelName(SimdLevel level) {
    return level == SimdLevel::avx2 ? "avx2" : level == SimdLevel::sse2 ? "sse2" : "scalar";
}

struct Job {
    int dim;
    u64 rows, cols, planes, outLength, taps;
};

std::string describe(const Job& job, SimdLevel level) {
    std::ostringstream out;
    out << levelName(level) << ", dim " << job.dim << ", M N P = " << job.rows << ' ' << job.cols << ' '
        << job.planes << ", L = " << job.outLength << ", K = " << job.taps;
    return out.str();
}

template <class T>
std::string describe(T value) {
    std::ostringstream out;
    if constexpr (std::is_floating_point_v<T>) {
        out << ::testing::PrintToString(value);
    } else {
        out << +value;
    }
    return out.str();
}

// Runs the job at `level` and through the reference model; any difference,
// or a write past the target, fails with the first differing element.
template <class T>
::testing::AssertionResult matchesReference(SimdLevel level, const Job& job, const std::vector<T>& source,
                                            const std::vector<double>& weights, const std::vector<u64>& offsets) {
    constexpr u64 guard = 8;
    const u64 count = job.dim == 1 ? job.outLength * job.cols * job.planes : job.rows * job.outLength * job.planes;
    std::vector<T> actual(count + guard);
    std::memset(actual.data(), 0x5A, actual.size() * sizeof(T));
    const std::vector<T> untouched = actual;
    std::vector<T> expected(count);
    const auto run = job.dim == 1 ? &resampleDim1AtLevel<T> : &resampleDim2AtLevel<T>;
    run(level, source.data(), job.rows, job.cols, job.planes, actual.data(), job.outLength, weights.data(), job.taps,
        offsets.data());
    reference::referenceResample<T>(job.dim, source.data(), job.rows, job.cols, job.planes, expected.data(),
                                    job.outLength, weights.data(), job.taps, offsets.data());
    for (u64 n = 0; n < count; ++n) {
        if (!reference::identicalSamples(actual[n], expected[n])) {
            return ::testing::AssertionFailure() << describe(job, level) << ": element " << n << " is "
                                                 << describe(actual[n]) << ", expected " << describe(expected[n]);
        }
    }
    if (std::memcmp(actual.data() + count, untouched.data() + count, guard * sizeof(T)) != 0) {
        return ::testing::AssertionFailure() << describe(job, level) << ": wrote past the end of the target";
    }
    return ::testing::AssertionSuccess();
}

// ---------------------------------------------------------------------------
// Random jobs.

template <class T>
T randomElement(std::mt19937_64& random) {
    using Limits = std::numeric_limits<T>;
    const u64 pick = random() % 16;
    if constexpr (std::is_floating_point_v<T>) {
        constexpr T specials[] = {Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(), T(-0.0),
                                  Limits::max(), Limits::denorm_min()};
        if (pick < 6 && random() % 4 == 0) return specials[pick];
        return static_cast<T>(static_cast<double>(static_cast<std::int64_t>(random() >> 11)) * 0x1p-40);
    } else {
        if (pick == 0) return Limits::min();
        if (pick == 1) return Limits::max();
        return static_cast<T>(random());
    }
}

double randomWeight(std::mt19937_64& random, double scale) {
    constexpr double specials[] = {std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(), -0.0, 0.0, 1.0, 0.5, 1e300};
    const u64 pick = random() % 200;
    if (pick < 8) return specials[pick];
    return static_cast<double>(static_cast<std::int64_t>(random() >> 11)) * 0x1p-52 * scale;
}

// Offsets either anywhere along the dimension (also spread wider than any
// tile) or, like real resampling tables, a window of K neighbours that moves
// along with the output sample, clamped at the ends.
template <class T>
::testing::AssertionResult randomJob(SimdLevel level, const Job& job, std::mt19937_64& random) {
    const u64 along = job.dim == 1 ? job.rows : job.cols;
    const u64 step = job.dim == 1 ? 1 : job.rows;
    std::vector<T> source(job.rows * job.cols * job.planes);
    for (T& element : source) element = randomElement<T>(random);
    const double scales[] = {0x1p-20, 0x1p-6, 1.0, 300.0, 0x1p40};
    const double scale = scales[random() % 5];
    const bool windowed = random() % 2 == 0;
    std::vector<double> weights(job.taps * job.outLength);
    std::vector<u64> offsets(weights.size());
    for (u64 j = 0; j < job.outLength; ++j) {
        const u64 start = along * j / (job.outLength + 1);
        for (u64 t = 0; t < job.taps; ++t) {
            const u64 position = windowed ? std::min(start + t, along - 1) : random() % along;
            offsets[j * job.taps + t] = position * step;
            weights[j * job.taps + t] = randomWeight(random, scale);
        }
    }
    return matchesReference<T>(level, job, source, weights, offsets);
}

template <class T>
class FastKernels : public ::testing::Test {};

using ElementTypes = ::testing::Types<double, single, uint8, uint16, uint32, uint64, int8, int16, int32, int64>;
TYPED_TEST_SUITE(FastKernels, ElementTypes);

// Dimension 2 runs vectors of rows in blocks of 4 vectors and strips of up to
// 4096 bytes of rows; dimension 1 runs groups of 2 vectors of columns through
// tiles of 256 rows and chunks of 64 samples.
TYPED_TEST(FastKernels, RandomJobsMatchReference) {
    using T = TypeParam;
    constexpr u64 stripRows = 4096 / sizeof(T);
    const u64 dim2Rows[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, stripRows - 1, stripRows + 5};
    const u64 dim2Cols[] = {1, 2, 5, 9, 23};
    const u64 dim1Rows[] = {1, 2, 3, 5, 8, 17, 64, 255, 257, 600};
    const u64 dim1Cols[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17};
    const u64 outLengths[] = {0, 1, 3, 4, 5, 8, 9, 17, 63, 64, 65, 130};
    for (const SimdLevel level : availableLevels()) {
        std::mt19937_64 random(0xFA57u + sizeof(T) * 13u + std::is_signed_v<T> * 5u);
        for (u64 taps = 0; taps <= 40; ++taps) {
            for (u64 n = 0; n < 12; ++n) {
                const u64 planes = 1 + (n + taps) % 3;
                const u64 outLength = outLengths[(n * 5 + taps) % std::size(outLengths)];
                const Job byRows{2, dim2Rows[(n + taps * 3) % std::size(dim2Rows)], dim2Cols[n % std::size(dim2Cols)],
                                 planes, outLength, taps};
                const Job byColumns{1, dim1Rows[(n + taps) % std::size(dim1Rows)],
                                    dim1Cols[(n * 7 + taps) % std::size(dim1Cols)], planes, outLength, taps};
                for (const Job& job : {byRows, byColumns}) {
                    const u64 along = job.dim == 1 ? job.rows : job.cols;
                    if (along == 0 && taps > 0) continue;  // no valid offset exists
                    ASSERT_TRUE(randomJob<T>(level, job, random));
                }
            }
        }
    }
}

// Every element of a list in every lane, times every weight of a list: with
// the element 1 the weights are themselves the sums, so each lane meets the
// rounding halves, the bounds of each type and one step either side of them,
// the infinities, NaN and -0.0.
TYPED_TEST(FastKernels, SaturatingAndNonFiniteSumsInEveryLane) {
    using T = TypeParam;
    using Limits = std::numeric_limits<T>;
    std::vector<T> elements = {T(0), T(1), T(2), T(3), Limits::max(), Limits::lowest()};
    if constexpr (std::is_signed_v<T>) elements.push_back(T(-1));
    if constexpr (std::is_floating_point_v<T>) {
        elements.insert(elements.end(), {Limits::infinity(), -Limits::infinity(), Limits::quiet_NaN(), T(-0.0)});
    }
    std::vector<double> sums = {0.0, -0.0, 0.5, -0.5, 1.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                                0.4999999999999999, 1e300, -1e300, 3.4028235677973366e38, 3.402823669209385e38,
                                std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(), 0x1p31, 0x1p31 - 0.5, 0x1p31 + 0.5,
                                0x1p32 - 0.5, 0x1p32 - 1.5, 0x1p32, 0x1p52 + 1.0, 0x1p63, -0x1p63};
    for (const double bound : {127.0, 255.0, 32767.0, 65535.0, 2147483647.0, 4294967295.0, -128.0, -32768.0,
                               -2147483648.0}) {
        for (const double delta : {-1.0, -0.5, -0.25, 0.0, 0.25, 0.5, 1.0}) sums.push_back(bound + delta);
    }
    const u64 k = sums.size();
    for (const SimdLevel level : availableLevels()) {
        // One element per row (dimension 2) or per column (dimension 1), the
        // list repeated with a shift so that each element meets every lane.
        const u64 lines = elements.size() * 9;
        std::vector<T> byRows(lines * 2);
        for (u64 n = 0; n < lines; ++n) {
            byRows[n] = elements[(n + n / elements.size()) % elements.size()];
            byRows[lines + n] = T(1);
        }
        // Output sample j has the single tap sum j: dimension 2 reads column
        // 0 or 1 of a lines-by-2 image, dimension 1 row 0 or 1 of a 2-by-lines one.
        std::vector<double> weights(k);
        std::vector<u64> offsets2(k), offsets1(k);
        for (u64 j = 0; j < k; ++j) {
            weights[j] = sums[j];
            offsets2[j] = (j % 2) * lines;
            offsets1[j] = j % 2;
        }
        std::vector<T> byColumns(lines * 2);
        for (u64 n = 0; n < lines; ++n) {
            byColumns[2 * n] = byRows[n];
            byColumns[2 * n + 1] = T(1);
        }
        EXPECT_TRUE(matchesReference<T>(level, Job{2, lines, 2, 1, k, 1}, byRows, weights, offsets2));
        EXPECT_TRUE(matchesReference<T>(level, Job{1, 2, lines, 1, k, 1}, byColumns, weights, offsets1));
    }
}

// One tap along dimension 1 with the rows the lanes read consecutive (scale
// 1, shifted), repeated, reversed or scattered, for extents either side of
// the vector widths and of the columns run in step (8): each output block
// mixes whole vectors, the tail and a partial last group of columns, with
// random non-finite and saturating samples and weights.
TYPED_TEST(FastKernels, OneTapAlongColumnsMatchesReference) {
    using T = TypeParam;
    const u64 lengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 12, 16, 17, 33};
    const u64 columnCounts[] = {1, 2, 7, 8, 9, 17};
    for (const SimdLevel level : availableLevels()) {
        std::mt19937_64 random(0x0E7Au + sizeof(T));
        for (const u64 outLength : lengths) {
            for (int pattern = 0; pattern < 5; ++pattern) {
                const u64 rows = outLength + 2;
                std::vector<u64> offsets(outLength);
                for (u64 j = 0; j < outLength; ++j) {
                    const u64 rowsOf[] = {j, j + 2, j / 2, outLength - 1 - j, random() % rows};
                    offsets[j] = rowsOf[pattern];
                }
                // A break in an otherwise consecutive run.
                if (pattern == 1 && outLength > 5) offsets[5] = 0;
                std::vector<double> weights(outLength);
                for (double& weight : weights) weight = randomWeight(random, pattern == 2 ? 300.0 : 1.0);
                const u64 cols = columnCounts[(outLength + pattern) % std::size(columnCounts)];
                const u64 planes = 1 + pattern % 2;
                std::vector<T> source(rows * cols * planes);
                for (T& element : source) element = randomElement<T>(random);
                ASSERT_TRUE(matchesReference<T>(level, Job{1, rows, cols, planes, outLength, 1}, source, weights, offsets));
            }
        }
    }
}

// Nothing may be read when K = 0, so null source and tables must do.
TEST(FastKernelsNoTaps, NullDataIsNeverRead) {
    for (const SimdLevel level : availableLevels()) {
        std::vector<std::int16_t> dim1Out(70 * 9, 7);
        resampleDim1AtLevel<std::int16_t>(level, nullptr, 5, 9, 1, dim1Out.data(), 70, nullptr, 0, nullptr);
        for (const std::int16_t value : dim1Out) ASSERT_EQ(value, 0) << levelName(level);
        std::vector<float> dim2Out(37 * 3 * 2, 7.0f);
        resampleDim2AtLevel<float>(level, nullptr, 37, 4, 2, dim2Out.data(), 3, nullptr, 0, nullptr);
        for (const float value : dim2Out) ASSERT_EQ(std::signbit(value) ? -1.0f : value, 0.0f) << levelName(level);
    }
}

TEST(SimdLevelChoice, NamesPinALevelNoHigherThanSupported) {
    struct Case {
        const char* name;
        SimdLevel supported;
        SimdLevel expected;
    };
    const Case cases[] = {
        {"scalar", SimdLevel::avx2, SimdLevel::scalar}, {"sse2", SimdLevel::avx2, SimdLevel::sse2},
        {"avx2", SimdLevel::avx2, SimdLevel::avx2},     {"avx2", SimdLevel::sse2, SimdLevel::sse2},
        {"", SimdLevel::avx2, SimdLevel::avx2},         {"AVX2", SimdLevel::sse2, SimdLevel::sse2},
        {"avx512", SimdLevel::sse2, SimdLevel::sse2},   {"scalar", SimdLevel::sse2, SimdLevel::scalar},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(simdLevelFromName(c.name, c.supported), c.expected) << c.name;
    }
}

void setSimdVariable(const char* value) {
#ifdef _WIN32
    ::_putenv_s("AXISWARP_SIMD", value);
#else
    ::setenv("AXISWARP_SIMD", value, 1);
#endif
}

TEST(SimdLevelChoice, EnvironmentIsReadOnEveryCall) {
    const char* saved = std::getenv("AXISWARP_SIMD");
    const std::string previous = saved != nullptr ? saved : "";
    setSimdVariable("scalar");
    EXPECT_EQ(activeSimdLevel(), SimdLevel::scalar);
    setSimdVariable("no-such-level");
    EXPECT_EQ(activeSimdLevel(), supportedSimdLevel());
    setSimdVariable(previous.c_str());  // an empty value counts as unset
}

}  // namespace
}  // namespace axiswarp
