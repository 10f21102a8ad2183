// The vectorised kernels against the independent reference model, bit for
// bit, at every vector level this processor has (the scalar level is the
// plain kernels, which resample_kernels_test.cpp compares with the same
// model): random tables for all ten element types and both dimensions, K
// from 0 to 40, and extents on either side of every vector width,
// accumulator block, row strip, column group and tile the kernels use;
// non-finite and saturating sums, and the edges of every conversion, in
// every lane.
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
#include <tuple>
#include <type_traits>
#include <vector>

#include "kernels/kernel_select.hpp"
#include "reference_resample.hpp"

namespace axiswarp {
namespace {

using u64 = std::uint64_t;

// The vector levels this processor has; the scalar one where it has none.
std::vector<SimdLevel> availableLevels() {
    std::vector<SimdLevel> levels;
    for (int n = 1; n < simdLevelCount; ++n) {
        const auto level = static_cast<SimdLevel>(n);
        if (simdLevelIncludes(supportedSimdLevel(), level)) levels.push_back(level);
    }
    if (levels.empty()) levels.push_back(SimdLevel::scalar);
    return levels;
}

const char* levelName(SimdLevel level) { return simdLevelName(level); }

u64 lanesOf(SimdLevel level) {
    switch (level) {
        case SimdLevel::scalar: return 1;
        case SimdLevel::sse2: return 2;
        case SimdLevel::avx2: return 4;
        case SimdLevel::avx512: return 8;
        case SimdLevel::neon: return 2;
    }
    return 1;
}

template <class T>
void runAtLevel(SimdLevel level, int dim, const T* source, u64 rows, u64 cols, u64 planes, T* target, u64 outLength,
                const double* weights, u64 taps, const u64* offsets) {
    runPass<T>(kernelTableAt(level),
               ResizeJob<T>{source, target, rows, cols, planes, outLength, taps, offsets, weights, dim});
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
    runAtLevel<T>(level, job.dim, source.data(), job.rows, job.cols, job.planes, actual.data(), job.outLength,
                  weights.data(), job.taps, offsets.data());
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

// Rows of a strip where dimension 2 reads the source directly: whole blocks
// of 4 vectors holding about 32 KiB of source for the K taps.
u64 directStripRows(u64 taps, u64 elementSize, u64 lanes) {
    const u64 block = 4 * lanes;
    const u64 blocks = 32768 / elementSize / std::max<u64>(taps, 1) / block;
    return std::max<u64>(blocks, 1) * block;
}

// Dimension 2 runs vectors of rows in blocks of 4 vectors (direct) or up to
// 8 (through the tile), in strips of 32 rows through the tile and of
// directStripRows() without; dimension 1 runs groups of 2 or 4 vectors of
// columns through tiles of 2048 doubles and chunks of 64 samples.
TYPED_TEST(FastKernels, RandomJobsMatchReference) {
    using T = TypeParam;
    const u64 dim2Rows[] = {0, 1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 63, 65, 0, 0};
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
                // The last two row counts straddle this level's direct strip.
                const u64 pick = (n + taps * 3) % std::size(dim2Rows);
                const u64 strip = directStripRows(taps, sizeof(T), lanesOf(level));
                const u64 rows = pick + 2 == std::size(dim2Rows) ? strip - 1
                                 : pick + 1 == std::size(dim2Rows) ? strip + 5
                                                                   : dim2Rows[pick];
                const Job byRows{2, rows, dim2Cols[n % std::size(dim2Cols)], planes, outLength, taps};
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

// Pixel-interleaved images along dimension 2 (M = 1 .. 8 channels by N
// columns by P image rows, lanes across planes): plane counts either side of
// every vector width and group of planes, output lengths across chunks of
// whole pixels, K = 0 and 1, and taps either a moving window (40 taps of 8
// channels overflow a tile) or anywhere along up to 300 columns (gathered).
TYPED_TEST(FastKernels, InterleavedPixelsMatchReference) {
    using T = TypeParam;
    const u64 planeCounts[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 33};
    const u64 colCounts[] = {1, 2, 5, 40, 300};
    const u64 outLengths[] = {0, 1, 3, 9, 13, 70};
    const u64 tapCounts[] = {0, 1, 2, 3, 4, 7, 16, 40};
    for (const SimdLevel level : availableLevels()) {
        std::mt19937_64 random(0x1E7Eu + sizeof(T) * 7u + std::is_signed_v<T> * 3u);
        for (u64 rows = 1; rows <= 8; ++rows) {
            for (const u64 taps : tapCounts) {
                for (u64 n = 0; n < 4; ++n) {
                    const Job job{2, rows, colCounts[(rows + n + taps) % std::size(colCounts)],
                                  planeCounts[(rows * 3 + n * 5 + taps) % std::size(planeCounts)],
                                  outLengths[(rows * 2 + n + taps) % std::size(outLengths)], taps};
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
    // The loads that round: the nearest double for int64, two roundings from
    // 2^63 on for uint64 (not always the nearest double).
    if constexpr (std::is_same_v<T, int64>) {
        elements.insert(elements.end(), {9007199254740993, 9007199254740995, -9007199254740993,
                                         9223372036854774784, 9223372036854775807 - 1024});
    }
    if constexpr (std::is_same_v<T, uint64>) {
        elements.insert(elements.end(), {9223372036854776833u, 16140901064495856639u, 9223372036854777855u,
                                         9223372036854775808u, 18446744073709549568u, 9223372036854775807u,
                                         9007199254740993u});
    }
    std::vector<double> sums = {0.0, -0.0, 0.5, -0.5, 1.5, 2.5, -2.5, 0.49999999999999994, -0.49999999999999994,
                                0.4999999999999999, 1e300, -1e300, 3.4028235677973366e38, 3.402823669209385e38,
                                std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
                                std::numeric_limits<double>::quiet_NaN(), 0x1p31, 0x1p31 - 0.5, 0x1p31 + 0.5,
                                0x1p32 - 0.5, 0x1p32 - 1.5, 0x1p32, 0x1p52 + 1.0, 0x1p63, -0x1p63,
                                // the 64-bit bounds and the halves the offset addition rounds
                                4503599627370495.5, 4503599627370497.0, -4503599627370497.0, 4503599627370498.0,
                                9223372036854774784.0, -9223372036854774784.0, -9223372036854777856.0,
                                9223372036854777856.0, 18446744073709549568.0, 0x1p64, 1e19, 1e30};
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
        runAtLevel<std::int16_t>(level, 1, nullptr, 5, 9, 1, dim1Out.data(), 70, nullptr, 0, nullptr);
        for (const std::int16_t value : dim1Out) ASSERT_EQ(value, 0) << levelName(level);
        std::vector<float> dim2Out(37 * 3 * 2, 7.0f);
        runAtLevel<float>(level, 2, nullptr, 37, 4, 2, dim2Out.data(), 3, nullptr, 0, nullptr);
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
        {"avx512", SimdLevel::avx512, SimdLevel::avx512}, {"avx2", SimdLevel::avx512, SimdLevel::avx2},
        {"avx512", SimdLevel::avx2, SimdLevel::avx2},   {"", SimdLevel::avx512, SimdLevel::avx512},
        // aarch64: the scalar level below neon, and no x86 level; no x86
        // processor runs neon.
        {"neon", SimdLevel::neon, SimdLevel::neon},     {"scalar", SimdLevel::neon, SimdLevel::scalar},
        {"sse2", SimdLevel::neon, SimdLevel::neon},     {"avx512", SimdLevel::neon, SimdLevel::neon},
        {"", SimdLevel::neon, SimdLevel::neon},         {"NEON", SimdLevel::neon, SimdLevel::neon},
        {"neon", SimdLevel::avx512, SimdLevel::avx512}, {"neon", SimdLevel::scalar, SimdLevel::scalar},
        {"avx2", SimdLevel::scalar, SimdLevel::scalar},
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

// The level is fixed at the first use: a later change of the variable (as a
// host's setenv might make) changes nothing.
TEST(SimdLevelChoice, EnvironmentIsReadOnce) {
    const SimdLevel chosen = activeSimdLevel();
    const char* saved = std::getenv("AXISWARP_SIMD");
    const std::string previous = saved != nullptr ? saved : "";
    setSimdVariable(chosen == SimdLevel::scalar ? "sse2" : "scalar");
    EXPECT_EQ(activeSimdLevel(), chosen);
    EXPECT_EQ(&activeKernelTable(), &kernelTableAt(chosen));
    setSimdVariable(previous.c_str());  // an empty value counts as unset
}

// Every entry of every level's table is set: the levels without vectors for
// a type take the plain kernels for it.
TEST(SimdLevelChoice, EveryTableIsComplete) {
    for (int level = 0; level < simdLevelCount; ++level) {
        const KernelTable& table = kernelTableAt(static_cast<SimdLevel>(level));
        const auto expectSet = [level](const auto& entries) {
            EXPECT_NE(entries.dim1, nullptr) << simdLevelName(static_cast<SimdLevel>(level));
            EXPECT_NE(entries.dim2, nullptr) << simdLevelName(static_cast<SimdLevel>(level));
        };
        std::apply([&](const auto&... entries) { (expectSet(entries), ...); }, table.entries);
    }
}

// The widest level of an aarch64 build runs every element type in its own
// vectors: no entry falls back to the plain kernels, so the tests above
// compare NEON code, not the scalar level with itself.
TEST(SimdLevelChoice, NeonHasVectorsForEveryType) {
    if (supportedSimdLevel() != SimdLevel::neon) GTEST_SKIP() << "not an aarch64 build";
    const KernelTable& neon = kernelTableAt(SimdLevel::neon);
    const KernelTable& plain = kernelTableAt(SimdLevel::scalar);
    const auto expectOwn = [&](const auto& entries) {
        using Entries = std::remove_cvref_t<decltype(entries)>;
        const Entries& fallback = std::get<Entries>(plain.entries);
        EXPECT_NE(entries.dim1, fallback.dim1);
        EXPECT_NE(entries.dim2, fallback.dim2);
    };
    std::apply([&](const auto&... entries) { (expectOwn(entries), ...); }, neon.entries);
}

}  // namespace
}  // namespace axiswarp
