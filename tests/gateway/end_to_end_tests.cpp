// Whole calls through the stand-in host and the built module file, compared
// with the plain reference kernels.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "host_arrays.hpp"
#include "module_fixture.hpp"
#include "reference_resample.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::makeArray;
using axiswarp::testing::makeDoubles;
using axiswarp::testing::ModuleTest;

constexpr const char* kIndexId = "Ovela:axisWarp:indexOutOfRange";
constexpr const char* kIndexMsg =
    "Indices must lie between 1 and the image's extent along the resized dimension.";

// Host extents of an M-by-N-by-P result: trailing 1s beyond the second dropped.
std::vector<std::uint64_t> hostExtents(std::uint64_t a, std::uint64_t b, std::uint64_t c) {
    if (c == 1) return {a, b};
    return {a, b, c};
}

template <class T>
std::vector<T> randomElements(std::mt19937_64& rng, std::uint64_t count, bool logical) {
    std::vector<T> values(count);
    for (T& v : values) {
        if (logical) {
            v = static_cast<T>(rng() & 1);
        } else if constexpr (std::is_floating_point_v<T>) {
            v = static_cast<T>(std::uniform_real_distribution<double>(-1000.0, 1000.0)(rng));
        } else {
            // Whole range, so that saturation is exercised as well.
            const std::uint64_t bits = rng();
            std::memcpy(&v, &bits, sizeof v);
        }
    }
    return values;
}

struct Tables {
    std::uint64_t taps, outLength;
    std::vector<double> weights, indices;
};

// Random weights and in-range, fractional, repeated, unsorted index values.
Tables randomTables(std::mt19937_64& rng, std::uint64_t taps, std::uint64_t outLength,
                    std::uint64_t extent) {
    Tables t{taps, outLength, std::vector<double>(taps * outLength), std::vector<double>(taps * outLength)};
    std::uniform_real_distribution<double> weight(-0.75, 1.25);
    std::uniform_real_distribution<double> fraction(0.0, 0.999);
    for (std::uint64_t e = 0; e < taps * outLength; ++e) {
        t.weights[e] = weight(rng);
        t.indices[e] = static_cast<double>(1 + rng() % extent) + fraction(rng);
    }
    return t;
}

// The offsets the module derives from the index values.
std::vector<std::uint64_t> offsetsOf(const Tables& t, std::uint64_t stride) {
    std::vector<std::uint64_t> offsets(t.indices.size());
    for (std::size_t e = 0; e < offsets.size(); ++e) {
        offsets[e] = (static_cast<std::uint64_t>(std::floor(t.indices[e])) - 1) * stride;
    }
    return offsets;
}

struct Shape {
    std::uint64_t rows, cols, planes;
};

// One call of the module on random data of element type T (stored as class
// `classID`), checked against the reference in every respect.
template <class T>
void checkAgainstReference(const Module& module, zuClassID classID, Shape s, int dim, bool complex,
                           std::uint64_t taps, std::uint64_t outLength, std::uint64_t seed) {
    SCOPED_TRACE(::testing::Message() << className(classID) << " " << s.rows << "x" << s.cols << "x"
                                      << s.planes << " dim " << dim << (complex ? " complex" : " real")
                                      << " K " << taps << " L " << outLength);
    std::mt19937_64 rng(seed);
    const std::uint64_t count = s.rows * s.cols * s.planes;
    const bool logical = classID == zuLogicalClass;
    const std::vector<T> real = randomElements<T>(rng, count, logical);
    const std::vector<T> imag = randomElements<T>(rng, count, logical);
    std::vector<std::uint64_t> dims = {s.rows, s.cols};
    if (s.planes != 1) dims.push_back(s.planes);
    ArrayPtr image = makeArray(classID, dims, real.data(), complex ? imag.data() : nullptr);

    const std::uint64_t extent = dim == 1 ? s.rows : s.cols;
    const Tables tables = randomTables(rng, taps, outLength, extent);
    ArrayPtr weights = makeDoubles({taps, outLength}, tables.weights);
    ArrayPtr indices = makeDoubles({taps, outLength}, tables.indices);
    ArrayPtr dimension = createScalar(static_cast<double>(dim));

    CallOutcome outcome = module.call({image.get(), weights.get(), indices.get(), dimension.get()});
    ASSERT_FALSE(outcome.failed) << outcome.identifier << ": " << outcome.message;
    ASSERT_NE(outcome.output, nullptr);
    const zuArray& out = *outcome.output;

    const zuClassID expectedClass = logical ? zuUint8Class : classID;
    EXPECT_EQ(out.classID(), expectedClass);
    EXPECT_EQ(out.isComplex(), complex);
    const Shape o = dim == 1 ? Shape{outLength, s.cols, s.planes} : Shape{s.rows, outLength, s.planes};
    ASSERT_EQ(extents(out), hostExtents(o.rows, o.cols, o.planes));

    const std::vector<std::uint64_t> offsets = offsetsOf(tables, dim == 1 ? 1 : s.rows);
    const std::uint64_t outCount = o.rows * o.cols * o.planes;
    const std::vector<const std::vector<T>*> parts =
        complex ? std::vector<const std::vector<T>*>{&real, &imag} : std::vector<const std::vector<T>*>{&real};
    for (std::size_t part = 0; part < parts.size(); ++part) {
        std::vector<T> expected(outCount);
        axiswarp::reference::referenceResample(dim, parts[part]->data(), s.rows, s.cols, s.planes,
                                               expected.data(), outLength, tables.weights.data(), taps,
                                               offsets.data());
        const std::vector<T> actual = part == 0 ? axiswarp::testing::realValues<T>(out)
                                                : axiswarp::testing::imagValues<T>(out);
        for (std::uint64_t e = 0; e < outCount; ++e) {
            if (!axiswarp::reference::identicalSamples(actual[e], expected[e])) {
                ADD_FAILURE() << (part == 0 ? "real" : "imaginary") << " element " << e << " differs";
                return;
            }
        }
    }
}

template <class T>
void checkEveryCombination(const Module& module, zuClassID classID) {
    const Shape shapes[] = {{5, 4, 1}, {3, 6, 2}, {1, 1, 1}, {9, 2, 3}};
    const std::uint64_t tapCounts[] = {0, 1, 3, 5};
    const std::uint64_t lengths[] = {0, 1, 7, 9, 17};
    std::uint64_t seed = static_cast<std::uint64_t>(classID) * 1000;
    for (const Shape& shape : shapes) {
        for (int dim : {1, 2}) {
            for (bool complex : {false, true}) {
                if (complex && classID == zuLogicalClass) continue;
                for (std::uint64_t taps : tapCounts) {
                    for (std::uint64_t length : lengths) {
                        checkAgainstReference<T>(module, classID, shape, dim, complex, taps, length, ++seed);
                    }
                }
            }
        }
    }
}

class EveryClass : public ModuleTest {};

TEST_F(EveryClass, MatchesReferenceInBothDimensionsRealAndComplex) {
    checkEveryCombination<double>(module(), zuDoubleClass);
    checkEveryCombination<float>(module(), zuSingleClass);
    checkEveryCombination<std::int8_t>(module(), zuInt8Class);
    checkEveryCombination<std::uint8_t>(module(), zuUint8Class);
    checkEveryCombination<std::int16_t>(module(), zuInt16Class);
    checkEveryCombination<std::uint16_t>(module(), zuUint16Class);
    checkEveryCombination<std::int32_t>(module(), zuInt32Class);
    checkEveryCombination<std::uint32_t>(module(), zuUint32Class);
    checkEveryCombination<std::int64_t>(module(), zuInt64Class);
    checkEveryCombination<std::uint64_t>(module(), zuUint64Class);
    checkEveryCombination<std::uint8_t>(module(), zuLogicalClass);
}

// A 4-by-3 double image whose element (i, j) is 10*i + j, resized with one
// tap of weight 1 at index 2.7 and dimension value v.
struct DimensionCase {
    double value;
    int selected;
};

class DimensionArgument : public ModuleTest, public ::testing::WithParamInterface<DimensionCase> {};

TEST_P(DimensionArgument, SelectsTheResizedDimension) {
    std::vector<double> values(12);
    for (int j = 0; j < 3; ++j)
        for (int i = 0; i < 4; ++i) values[i + 4 * j] = 10.0 * i + j;
    ArrayPtr image = makeDoubles({4, 3}, values);
    ArrayPtr weights = makeDoubles({1, 2}, {1.0, 1.0});
    ArrayPtr indices = makeDoubles({1, 2}, {2.7, 1.0});
    ArrayPtr dim = createScalar(GetParam().value);
    CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), dim.get()});
    ASSERT_FALSE(outcome.failed) << outcome.identifier;
    const auto out = axiswarp::testing::realValues<double>(*outcome.output);
    if (GetParam().selected == 1) {
        // Rows 1 and 0 of every column: index 2.7 is offset 1.
        EXPECT_EQ(extents(*outcome.output), (std::vector<std::uint64_t>{2, 3}));
        EXPECT_EQ(out, (std::vector<double>{10, 0, 11, 1, 12, 2}));
    } else {
        // Columns 1 and 0 of every row: index 2.7 is offset M.
        EXPECT_EQ(extents(*outcome.output), (std::vector<std::uint64_t>{4, 2}));
        EXPECT_EQ(out, (std::vector<double>{1, 11, 21, 31, 0, 10, 20, 30}));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Values, DimensionArgument,
    ::testing::Values(DimensionCase{1.0, 1}, DimensionCase{1.5, 1}, DimensionCase{1.9999999999999998, 1},
                      DimensionCase{0.99, 2}, DimensionCase{2.0, 2}, DimensionCase{3.0, 2},
                      DimensionCase{-1.0, 2}, DimensionCase{-0.5, 2}, DimensionCase{0.0, 2},
                      DimensionCase{std::nan(""), 2}, DimensionCase{1e300, 2},
                      DimensionCase{-1e300, 2}, DimensionCase{HUGE_VAL, 2}, DimensionCase{-HUGE_VAL, 2}));

class Extents : public ModuleTest {};

TEST_F(Extents, ZeroTapsGiveZerosOfTheClass) {
    std::vector<std::int16_t> values(6, 7);
    ArrayPtr image = axiswarp::testing::makeTyped<std::int16_t>({2, 3}, values);
    ArrayPtr weights = createArray(zuDoubleClass, {0, 4});
    ArrayPtr indices = createArray(zuDoubleClass, {0, 4});
    for (double dim : {1.0, 2.0}) {
        ArrayPtr d = createScalar(dim);
        CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
        ASSERT_FALSE(outcome.failed) << outcome.identifier;
        const std::vector<std::uint64_t> expected =
            dim == 1 ? std::vector<std::uint64_t>{4, 3} : std::vector<std::uint64_t>{2, 4};
        EXPECT_EQ(extents(*outcome.output), expected);
        for (std::int16_t v : axiswarp::testing::realValues<std::int16_t>(*outcome.output)) EXPECT_EQ(v, 0);
    }
}

TEST_F(Extents, EmptyInputsAndOutputs) {
    struct Case {
        std::vector<std::uint64_t> image;
        std::uint64_t taps, outLength;
        double dim;
        std::vector<std::uint64_t> out;
    };
    const Case cases[] = {
        {{4, 3}, 2, 0, 1, {0, 3}},       {{4, 3}, 2, 0, 2, {4, 0}},
        {{0, 5}, 1, 3, 2, {0, 3}},       {{4, 0}, 1, 3, 1, {3, 0}},
        {{4, 3, 0}, 1, 3, 1, {3, 3, 0}}, {{0, 0}, 0, 2, 1, {2, 0}},
    };
    for (const Case& c : cases) {
        ArrayPtr image = createArray(zuUint16Class, c.image);
        std::memset(image->realData, 0, numberOfElements(*image) * 2);
        // Index values that would be out of range: accepted, nothing is read.
        ArrayPtr weights = makeDoubles({c.taps, c.outLength}, std::vector<double>(c.taps * c.outLength, 1.0));
        ArrayPtr indices = makeDoubles({c.taps, c.outLength}, std::vector<double>(c.taps * c.outLength, 99.0));
        ArrayPtr d = createScalar(c.dim);
        CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
        ASSERT_FALSE(outcome.failed) << outcome.identifier;
        EXPECT_EQ(extents(*outcome.output), c.out);
    }
}

// Index values outside 1 <= x < E + 1 end the call before any kernel runs.
class IndexRange : public ModuleTest, public ::testing::WithParamInterface<std::tuple<double, int>> {};

TEST_P(IndexRange, OutOfRangeValuesAreRefused) {
    const auto [bad, dim] = GetParam();
    const std::uint64_t extent = dim == 1 ? 4 : 3;  // 4-by-3 image
    const double value = std::isnan(bad) || bad != -42.0 ? bad : static_cast<double>(extent) + 1.0;
    ArrayPtr image = createArray(zuUint8Class, {4, 3});
    std::memset(image->realData, 1, 12);
    ArrayPtr weights = makeDoubles({2, 2}, {0.5, 0.5, 0.0, 1.0});
    // The bad value is the last entry, so earlier valid ones are converted first.
    ArrayPtr indices = makeDoubles({2, 2}, {1.0, 2.0, 1.0, value});
    ArrayPtr d = createScalar(dim);
    CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.identifier, kIndexId);
    EXPECT_EQ(outcome.message, kIndexMsg);
    EXPECT_EQ(outcome.output, nullptr);
}

// -42 stands for E + 1, which depends on the dimension.
INSTANTIATE_TEST_SUITE_P(Values, IndexRange,
                         ::testing::Combine(::testing::Values(0.0, 0.999, -42.0, -1.0, std::nan(""), 1e20,
                                                              HUGE_VAL, -HUGE_VAL, -0.0),
                                            ::testing::Values(1, 2)));

TEST_F(IndexRange, LastValidIndexIsAccepted) {
    ArrayPtr image = makeDoubles({4, 3}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
    ArrayPtr weights = makeDoubles({1, 1}, {1.0});
    for (auto [dim, index, expected] : {std::tuple{1.0, 4.999, 3.0}, std::tuple{2.0, 3.999, 8.0}}) {
        ArrayPtr indices = makeDoubles({1, 1}, {index});
        ArrayPtr d = createScalar(dim);
        CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
        ASSERT_FALSE(outcome.failed) << outcome.identifier;
        EXPECT_EQ(axiswarp::testing::realValues<double>(*outcome.output).front(), expected);
    }
}

TEST_F(IndexRange, ImageWithoutExtentAlongTheDimensionAdmitsNoIndex) {
    ArrayPtr image = createArray(zuDoubleClass, {0, 3});
    ArrayPtr weights = makeDoubles({1, 2}, {1.0, 1.0});
    ArrayPtr indices = makeDoubles({1, 2}, {1.0, 1.0});
    ArrayPtr d = createScalar(1.0);
    CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
    EXPECT_EQ(outcome.identifier, kIndexId);
}

class Parts : public ModuleTest {};

TEST_F(Parts, LogicalImageEqualsUint8ImageOfTheSameBytes) {
    const std::vector<std::uint8_t> bytes = {1, 0, 1, 1, 0, 0, 1, 0, 1, 1, 1, 0};
    ArrayPtr logical = makeArray(zuLogicalClass, {3, 4}, bytes.data());
    ArrayPtr uint8 = makeArray(zuUint8Class, {3, 4}, bytes.data());
    ArrayPtr weights = makeDoubles({2, 3}, {1.0, 1.0, 0.5, 0.5, 0.25, 0.25});
    ArrayPtr indices = makeDoubles({2, 3}, {1.0, 3.0, 2.0, 1.0, 3.0, 3.0});
    for (double dim : {1.0, 2.0}) {
        ArrayPtr d = createScalar(dim);
        CallOutcome a = module().call({logical.get(), weights.get(), indices.get(), d.get()});
        CallOutcome b = module().call({uint8.get(), weights.get(), indices.get(), d.get()});
        ASSERT_FALSE(a.failed || b.failed);
        EXPECT_EQ(a.output->classID(), zuUint8Class);
        EXPECT_EQ(axiswarp::testing::realValues<std::uint8_t>(*a.output),
                  axiswarp::testing::realValues<std::uint8_t>(*b.output));
    }
    // Two taps of weight 1 over two true samples give 2: outputs are not limited to 0 and 1.
    ArrayPtr twice = makeDoubles({2, 1}, {1.0, 1.0});
    ArrayPtr first = makeDoubles({2, 1}, {1.0, 1.0});
    ArrayPtr d = createScalar(1.0);
    CallOutcome c = module().call({logical.get(), twice.get(), first.get(), d.get()});
    EXPECT_EQ(axiswarp::testing::realValues<std::uint8_t>(*c.output).front(), 2);
}

TEST_F(Parts, ComplexImageEqualsTwoRealCalls) {
    const std::vector<std::int32_t> re = {5, -7, 100000, 3, 2147483000, -2147483000};
    const std::vector<std::int32_t> im = {-1, 9, 4, 0, -2147483000, 12};
    ArrayPtr complex = axiswarp::testing::makeTyped<std::int32_t>({3, 2}, re, &im);
    ArrayPtr realPart = axiswarp::testing::makeTyped<std::int32_t>({3, 2}, re);
    ArrayPtr imagPart = axiswarp::testing::makeTyped<std::int32_t>({3, 2}, im);
    ArrayPtr weights = makeDoubles({2, 2}, {1.5, 0.75, -0.5, 2.0});
    ArrayPtr indices = makeDoubles({2, 2}, {1.0, 3.0, 2.0, 2.0});
    ArrayPtr d = createScalar(1.0);
    CallOutcome c = module().call({complex.get(), weights.get(), indices.get(), d.get()});
    CallOutcome r = module().call({realPart.get(), weights.get(), indices.get(), d.get()});
    CallOutcome i = module().call({imagPart.get(), weights.get(), indices.get(), d.get()});
    ASSERT_FALSE(c.failed || r.failed || i.failed);
    EXPECT_TRUE(c.output->isComplex());
    EXPECT_FALSE(r.output->isComplex());
    EXPECT_EQ(axiswarp::testing::realValues<std::int32_t>(*c.output),
              axiswarp::testing::realValues<std::int32_t>(*r.output));
    EXPECT_EQ(axiswarp::testing::imagValues<std::int32_t>(*c.output),
              axiswarp::testing::realValues<std::int32_t>(*i.output));
}

TEST_F(Parts, ZeroImaginaryPartStillGetsItsPass) {
    const std::vector<float> re = {1.5f, 2.5f, 3.5f, 4.5f};
    const std::vector<float> im(4, 0.0f);
    ArrayPtr image = axiswarp::testing::makeTyped<float>({2, 2}, re, &im);
    ArrayPtr weights = makeDoubles({1, 3}, {1.0, 1.0, 1.0});
    ArrayPtr indices = makeDoubles({1, 3}, {2.0, 1.0, 2.0});
    ArrayPtr d = createScalar(2.0);
    CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
    ASSERT_FALSE(outcome.failed);
    ASSERT_TRUE(outcome.output->isComplex());
    // Written zeros, not the host's poison bytes.
    for (float v : axiswarp::testing::imagValues<float>(*outcome.output)) {
        EXPECT_EQ(std::bit_cast<std::uint32_t>(v), 0u);
    }
}

}  // namespace
