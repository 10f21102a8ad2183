// Conversions at the two ends of a sample, at the values where a plausible
// implementation goes wrong. Each stored value is checked for the module's
// conversion and for the reference model the other tests rely on.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <random>
#include <type_traits>
#include <vector>

#include "kernels/sample_conversion.hpp"
#include "reference_resample.hpp"

namespace axiswarp {
namespace {

template <class T>
auto widen(T value) {
    if constexpr (std::is_signed_v<T>) {
        return static_cast<std::int64_t>(value);
    } else {
        return static_cast<std::uint64_t>(value);
    }
}

template <class T>
struct StoreCase {
    double sum;
    T expected;
};

template <class T>
void expectStores(std::initializer_list<StoreCase<T>> cases) {
    for (const StoreCase<T>& c : cases) {
        T stored{};
        saturateRound(stored, c.sum);
        EXPECT_EQ(widen(stored), widen(c.expected)) << "module, sum " << ::testing::PrintToString(c.sum);
        EXPECT_EQ(widen(reference::storeSample<T>(c.sum)), widen(c.expected))
            << "reference, sum " << ::testing::PrintToString(c.sum);
    }
}

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double justBelowHalf = 0.49999999999999994;  // largest double below 0.5

TEST(SaturateRound, UnsignedRoundsHalfUp) {
    expectStores<uint8>({{0.5, 1}, {2.5, 3}, {3.5, 4}, {254.5, 255}, {0.4, 0}, {1.0, 1}, {0.0, 0}, {-0.0, 0}});
    expectStores<uint16>({{0.5, 1}, {2.5, 3}, {65533.5, 65534}, {0.4, 0}});
    expectStores<uint32>({{0.5, 1}, {2.5, 3}, {4294967293.5, 4294967294}, {0.4, 0}});
    expectStores<uint64>({{0.5, 1}, {2.5, 3}, {4503599627370495.5, 4503599627370496}, {0.4, 0}});
}

TEST(SaturateRound, UnsignedBelowZeroGivesZero) {
    expectStores<uint8>({{-0.4, 0}, {-0.5, 0}, {-1000.0, 0}, {-inf, 0}});
    expectStores<uint16>({{-0.4, 0}, {-0.5, 0}, {-1000.0, 0}, {-inf, 0}});
    expectStores<uint32>({{-0.4, 0}, {-0.5, 0}, {-1000.0, 0}, {-inf, 0}});
    expectStores<uint64>({{-0.4, 0}, {-0.5, 0}, {-1000.0, 0}, {-1e300, 0}, {-inf, 0}});
}

TEST(SaturateRound, UnsignedSaturatesAtTop) {
    expectStores<uint8>({{255.4, 255}, {255.5, 255}, {1000.0, 255}, {inf, 255}});
    expectStores<uint16>({{65534.5, 65535}, {65535.5, 65535}, {1e10, 65535}, {inf, 65535}});
    expectStores<uint32>({{4294967294.5, 4294967295u}, {4294967295.5, 4294967295u}, {inf, 4294967295u}});
}

TEST(SaturateRound, SignedRoundsHalfAwayFromZero) {
    expectStores<int8>({{0.5, 1}, {-0.5, -1}, {2.5, 3}, {-2.5, -3}, {-0.4, 0}, {-0.0, 0}, {0.4, 0}});
    expectStores<int16>({{0.5, 1}, {-0.5, -1}, {2.5, 3}, {-2.5, -3}, {-0.4, 0}, {-0.0, 0}});
    expectStores<int32>({{0.5, 1}, {-0.5, -1}, {2.5, 3}, {-2.5, -3}, {-0.4, 0}, {-0.0, 0}});
    expectStores<int64>({{0.5, 1}, {-0.5, -1}, {2.5, 3}, {-2.5, -3}, {-0.4, 0}, {-0.0, 0}});
}

TEST(SaturateRound, SignedSaturatesAtBothEnds) {
    expectStores<int8>({{126.5, 127}, {127.5, 127}, {-127.5, -128}, {-128.5, -128}, {-inf, -128}, {inf, 127}});
    expectStores<int16>({{32767.5, 32767}, {-32768.5, -32768}, {32766.5, 32767}, {-inf, -32768}, {inf, 32767}});
    expectStores<int32>({{2147483646.5, 2147483647},
                         {2147483647.5, 2147483647},
                         {-2147483648.5, -2147483647 - 1},
                         {-2147483647.5, -2147483647 - 1},
                         {inf, 2147483647}});
}

// Adding the half rounds in double arithmetic, which is the defined rule.
TEST(SaturateRound, OffsetAdditionRounds) {
    expectStores<uint8>({{justBelowHalf, 1}, {0.4999999999999999, 0}, {-justBelowHalf, 0}});
    expectStores<uint16>({{justBelowHalf, 1}, {-justBelowHalf, 0}});
    expectStores<uint32>({{justBelowHalf, 1}, {-justBelowHalf, 0}});
    expectStores<uint64>({{justBelowHalf, 1},
                          {-justBelowHalf, 0},
                          {4503599627370497.0, 4503599627370498},
                          {4503599627370498.0, 4503599627370498},
                          {9007199254740991.0, 9007199254740992}});
    expectStores<int8>({{justBelowHalf, 1}, {-justBelowHalf, -1}, {0.4999999999999999, 0}});
    expectStores<int16>({{justBelowHalf, 1}, {-justBelowHalf, -1}});
    expectStores<int32>({{justBelowHalf, 1}, {-justBelowHalf, -1}});
    expectStores<int64>({{justBelowHalf, 1},
                         {-justBelowHalf, -1},
                         {4503599627370497.0, 4503599627370498},
                         {-4503599627370497.0, -4503599627370498},
                         {4503599627370498.0, 4503599627370498},
                         {-4503599627370498.0, -4503599627370498}});
}

TEST(SaturateRound, SixtyFourBitLimits) {
    constexpr int64 int64Min = std::numeric_limits<int64>::min();
    constexpr int64 int64Max = std::numeric_limits<int64>::max();
    expectStores<int64>({{9223372036854774784.0, 9223372036854774784},
                         {9223372036854775808.0, int64Max},
                         {1e19, int64Max},
                         {inf, int64Max},
                         {-9223372036854774784.0, -9223372036854774784},
                         {-9223372036854775808.0, int64Min},
                         {-9223372036854777856.0, int64Min},
                         {-inf, int64Min}});
    constexpr uint64 uint64Max = std::numeric_limits<uint64>::max();
    expectStores<uint64>({{9223372036854775808.0, 9223372036854775808u},
                          {9223372036854777856.0, 9223372036854777856u},
                          {18446744073709549568.0, 18446744073709549568u},
                          {18446744073709551616.0, uint64Max},
                          {1e30, uint64Max},
                          {inf, uint64Max}});
}

TEST(SaturateRound, NaNStoresFixedValueForEachIntegerType) {
    expectStores<uint8>({{nan, 0}, {-nan, 0}});
    expectStores<uint16>({{nan, 0}, {-nan, 0}});
    expectStores<uint32>({{nan, 0}, {-nan, 0}});
    expectStores<uint64>({{nan, 9223372036854775808u}, {-nan, 9223372036854775808u}});
    expectStores<int8>({{nan, 0}, {-nan, 0}});
    expectStores<int16>({{nan, 0}, {-nan, 0}});
    expectStores<int32>({{nan, -2147483647 - 1}, {-nan, -2147483647 - 1}});
    expectStores<int64>({{nan, std::numeric_limits<int64>::min()}, {-nan, std::numeric_limits<int64>::min()}});
}

struct FloatStoreCase {
    double sum;
    std::uint32_t expectedBits;
};

TEST(SaturateRound, SingleRoundsOnceToNearestEven) {
    const auto bits = [](float value) { return std::bit_cast<std::uint32_t>(value); };
    const double overflowFrom = 0x1.ffffffp127;  // midpoint between the largest single and 2^128
    const std::vector<FloatStoreCase> cases = {
        {16777217.0, bits(16777216.0f)},
        {16777219.0, bits(16777220.0f)},
        {0.1, bits(0.100000001490116119384765625f)},
        {-0.0, bits(-0.0f)},
        {1e39, bits(std::numeric_limits<float>::infinity())},
        {-1e39, bits(-std::numeric_limits<float>::infinity())},
        {inf, bits(std::numeric_limits<float>::infinity())},
        {overflowFrom, bits(std::numeric_limits<float>::infinity())},
        {-overflowFrom, bits(-std::numeric_limits<float>::infinity())},
        {std::nextafter(overflowFrom, 0.0), bits(std::numeric_limits<float>::max())},
        {-std::nextafter(overflowFrom, 0.0), bits(-std::numeric_limits<float>::max())},
        {0x1p-150, bits(0.0f)},                          // half the smallest subnormal: tie to even zero
        {0x1.8p-149, bits(0x1p-148f)},                   // tie between 1 and 2 subnormal steps
        {std::nextafter(0x1p-150, 1.0), bits(0x1p-149f)},
    };
    for (const FloatStoreCase& c : cases) {
        single stored = 0.0f;
        saturateRound(stored, c.sum);
        EXPECT_EQ(bits(stored), c.expectedBits) << "module, sum " << ::testing::PrintToString(c.sum);
        EXPECT_EQ(bits(reference::storeSample<float>(c.sum)), c.expectedBits)
            << "reference, sum " << ::testing::PrintToString(c.sum);
    }
    single stored = 0.0f;
    saturateRound(stored, nan);
    EXPECT_TRUE(std::isnan(stored));
    EXPECT_TRUE(std::isnan(reference::storeSample<float>(nan)));
}

TEST(SaturateRound, DoubleStoresSumUnchanged) {
    for (const double sum : {-0.0, 0.0, inf, -inf, 0x1p-1074, -1.5, 1e308}) {
        double stored = 1.0;
        saturateRound(stored, sum);
        EXPECT_EQ(std::bit_cast<std::uint64_t>(stored), std::bit_cast<std::uint64_t>(sum));
    }
    double stored = 1.0;
    saturateRound(stored, nan);
    EXPECT_TRUE(std::isnan(stored));
}

template <class T>
struct LoadCase {
    T element;
    double expected;
};

template <class T>
void expectLoads(std::initializer_list<LoadCase<T>> cases) {
    for (const LoadCase<T>& c : cases) {
        EXPECT_EQ(toDoubleSample(c.element), c.expected) << "module, element " << c.element;
        EXPECT_EQ(reference::loadSample(c.element), c.expected) << "reference, element " << c.element;
    }
}

TEST(ToDoubleSample, Int64RoundsToNearestEven) {
    expectLoads<int64>({{9007199254740992, 9007199254740992.0},
                        {9007199254740993, 9007199254740992.0},
                        {9007199254740995, 9007199254740996.0},
                        {-9007199254740993, -9007199254740992.0},
                        {9223372036854775807, 9223372036854775808.0},
                        {std::numeric_limits<int64>::min(), -9223372036854775808.0},
                        {9223372036854774784, 9223372036854774784.0},
                        {-1, -1.0},
                        {0, 0.0}});
}

// From 2^63 on the load is two roundings, not the nearest double.
TEST(ToDoubleSample, Uint64UsesTwoStepRule) {
    expectLoads<uint64>({{9223372036854776833u, 9223372036854775808.0},
                         {16140901064495856639u, 16140901064495857664.0},
                         {9223372036854777855u, 9223372036854777856.0},
                         {9223372036854775808u, 9223372036854775808.0},
                         {18446744073709551615u, 18446744073709551616.0},
                         {18446744073709549568u, 18446744073709549568.0},
                         {9223372036854775807u, 9223372036854775808.0},
                         {9007199254740993u, 9007199254740992.0},
                         {0u, 0.0}});
}

// Widening keeps sign, exponent and every fraction bit: the double's
// fraction is the single's shifted up by 29 places, subnormals become normal
// doubles. Expected bit patterns worked out by hand from the formats.
TEST(ToDoubleSample, SingleWidensExactly) {
    struct Case {
        std::uint32_t single;
        std::uint64_t widened;
    };
    const Case cases[] = {
        {0x3DCCCCCDu, 0x3FB99999A0000000u},  // 0.1f = 0.100000001490116119384765625
        {0x80000000u, 0x8000000000000000u},  // -0.0 keeps its sign
        {0x00000001u, 0x36A0000000000000u},  // smallest subnormal, 2^-149
        {0x00800000u, 0x3810000000000000u},  // smallest normal, 2^-126
        {0x7F7FFFFFu, 0x47EFFFFFE0000000u},  // largest single
        {0x4B800001u, 0x4170000020000000u},  // 16777218: the last fraction bit survives
        {0xFF800000u, 0xFFF0000000000000u},  // -infinity
    };
    for (const Case& c : cases) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(toDoubleSample(std::bit_cast<float>(c.single))), c.widened)
            << std::hex << c.single;
    }
    EXPECT_TRUE(std::isnan(toDoubleSample(std::numeric_limits<float>::quiet_NaN())));
}

// With one tap of weight 1.0, load followed by store: every element of the 8-
// and 16-bit types (all of them) and of the 32-bit types (the extremes and a
// sample) comes back unchanged, and the 64-bit tops come back as their tops.
template <class T>
void expectRoundTrip(T element) {
    T stored{};
    saturateRound(stored, toDoubleSample(element) * 1.0);
    ASSERT_EQ(widen(stored), widen(element));
}

TEST(ToDoubleSample, RoundTripThroughOneUnitTap) {
    for (int v = 0; v <= 255; ++v) expectRoundTrip(static_cast<uint8>(v));
    for (int v = -128; v <= 127; ++v) expectRoundTrip(static_cast<int8>(v));
    for (int v = 0; v <= 65535; ++v) expectRoundTrip(static_cast<uint16>(v));
    for (int v = -32768; v <= 32767; ++v) expectRoundTrip(static_cast<int16>(v));
    std::mt19937_64 rng(20240611);
    for (int n = 0; n < 20000; ++n) {
        const std::uint64_t bits = rng();
        expectRoundTrip(static_cast<uint32>(bits));
        expectRoundTrip(static_cast<int32>(static_cast<uint32>(bits >> 32)));
    }
    for (const uint32 v : {0u, 1u, 4294967294u, 4294967295u}) expectRoundTrip(v);
    for (const int32 v : {std::numeric_limits<int32>::min(), -1, 0, std::numeric_limits<int32>::max()}) {
        expectRoundTrip(v);
    }
    for (const int64 v : {std::numeric_limits<int64>::max(), std::numeric_limits<int64>::min(), int64{-3}}) {
        expectRoundTrip(v);
    }
    for (const uint64 v : {std::numeric_limits<uint64>::max(), uint64{9223372036854777856u}, uint64{7}}) {
        expectRoundTrip(v);
    }
}

// Module and reference agree on sums crowded around the places where the
// integer rules branch: each bound, each half, and zero, a few ulps either
// side, plus the infinities.
template <class T>
class IntegerStoreAgreement : public ::testing::Test {};

using IntegerTypes = ::testing::Types<uint8, uint16, uint32, uint64, int8, int16, int32, int64>;
TYPED_TEST_SUITE(IntegerStoreAgreement, IntegerTypes);

TYPED_TEST(IntegerStoreAgreement, AroundBoundsAndHalves) {
    using T = TypeParam;
    const double lowest = static_cast<double>(std::numeric_limits<T>::min());
    const double largest = static_cast<double>(std::numeric_limits<T>::max());
    std::vector<double> centres = {0.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, lowest, largest, 0x1p52, -0x1p52,
                                   0x1p53, -0x1p53};
    for (const double bound : {lowest, largest}) {
        centres.push_back(bound - 0.5);
        centres.push_back(bound + 0.5);
        centres.push_back(bound - 1.0);
        centres.push_back(bound + 1.0);
    }
    for (const double centre : centres) {
        for (const double direction : {inf, -inf}) {
            double sum = centre;
            for (int step = 0; step < 6; ++step) {
                T stored{};
                saturateRound(stored, sum);
                ASSERT_EQ(widen(stored), widen(reference::storeSample<T>(sum)))
                    << "sum " << ::testing::PrintToString(sum);
                sum = std::nextafter(sum, direction);
            }
        }
    }
    for (const double sum : {inf, -inf, nan, 1e300, -1e300, 0x1p-1074, -0x1p-1074}) {
        T stored{};
        saturateRound(stored, sum);
        EXPECT_EQ(widen(stored), widen(reference::storeSample<T>(sum))) << "sum " << ::testing::PrintToString(sum);
    }
}

}  // namespace
}  // namespace axiswarp
