// Every malformed call is answered with the identifier and message of the
// first check it fails, and leaves nothing behind in the host.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host_arrays.hpp"
#include "module_fixture.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::ModuleTest;

struct Call {
    std::vector<ArrayPtr> owned;
    std::vector<const zuArray*> args;
    void add(ArrayPtr array) {
        args.push_back(array.get());
        owned.push_back(std::move(array));
    }
};

ArrayPtr image(std::vector<std::uint64_t> dims = {4, 3}, zuClassID cls = zuDoubleClass,
               ArrayOptions options = {}) {
    ArrayPtr a = createArray(cls, dims, options);
    std::memset(a->realData, 0, numberOfElements(*a) * std::max<std::size_t>(elementSize(cls), 1));
    if (a->imagData) std::memset(a->imagData, 0, numberOfElements(*a) * elementSize(cls));
    return a;
}

ArrayPtr table(std::vector<std::uint64_t> dims, double value = 1.0, zuClassID cls = zuDoubleClass,
               ArrayOptions options = {}) {
    ArrayPtr a = createArray(cls, dims, options);
    const std::uint64_t n = numberOfElements(*a);
    if (cls == zuDoubleClass) {
        for (std::uint64_t e = 0; e < n; ++e) static_cast<double*>(a->realData)[e] = value;
    } else {
        std::memset(a->realData, 0, n * elementSize(cls));
    }
    if (a->imagData) std::memset(a->imagData, 0, n * elementSize(cls));
    return a;
}

// A well-formed call resizing a 4-by-3 double image along dimension 1.
Call wellFormed() {
    Call call;
    call.add(image());
    call.add(table({2, 5}, 0.5));
    call.add(table({2, 5}, 1.0));
    call.add(createScalar(1.0));
    return call;
}

constexpr const char* kCountId = "Ovela:axisWarp:invalidNumInputs";
constexpr const char* kCountMsg = "Four inputs are required.";
constexpr const char* kImageId = "Ovela:axisWarp:invalidImage";
constexpr const char* kImageMsg = "First input must be a full numeric or logical array.";
constexpr const char* kDimsId = "Ovela:axisWarp:tooManyDims";
constexpr const char* kDimsMsg = "First input must be two- or three-dimensional.";
constexpr const char* kWeightsId = "Ovela:axisWarp:badWeights";
constexpr const char* kWeightsMsg = "Weights must be a full two-dimensional double array.";
constexpr const char* kIndicesId = "Ovela:axisWarp:badIndices";
constexpr const char* kIndicesMsg = "Indices must be a full two-dimensional double array.";
constexpr const char* kSizeId = "Ovela:axisWarp:sizeMismatch";
constexpr const char* kSizeMsg = "Weights and indices must be the same size.";
constexpr const char* kDimId = "Ovela:axisWarp:invalidDim";
constexpr const char* kDimMsg = "Invalid dimension is specified.";

struct ErrorCase {
    const char* name;
    std::function<void(Call&)> mutate;
    const char* identifier;
    const char* message;
};

class ArgumentValidation : public ModuleTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ArgumentValidation, FirstFailingCheckIsReported) {
    Call call = wellFormed();
    GetParam().mutate(call);
    CallOutcome outcome = module().call(call.args);
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.identifier, GetParam().identifier);
    EXPECT_EQ(outcome.message, GetParam().message);
    EXPECT_EQ(outcome.output, nullptr);
}

const ErrorCase kErrorCases[] = {
    {"NoInputs", [](Call& c) { c.args.clear(); }, kCountId, kCountMsg},
    {"ThreeInputs", [](Call& c) { c.args.pop_back(); }, kCountId, kCountMsg},
    {"FiveInputs", [](Call& c) { c.add(createScalar(1)); }, kCountId, kCountMsg},
    {"ThreeMalformedInputs",
     [](Call& c) {
         c.args.pop_back();
         c.owned[0] = image({2, 2}, zuClassID{1});
         c.args[0] = c.owned[0].get();
     },
     kCountId, kCountMsg},
    {"UnlistedClass1Image", [](Call& c) { c.args[0] = (c.owned[0] = image({2, 2}, zuClassID{1})).get(); },
     kImageId, kImageMsg},
    {"UnlistedClass4Image", [](Call& c) { c.args[0] = (c.owned[0] = image({2, 2}, zuClassID{4})).get(); },
     kImageId, kImageMsg},
    {"SparseDoubleImage",
     [](Call& c) { c.args[0] = (c.owned[0] = image({4, 3}, zuDoubleClass, {.sparse = true})).get(); },
     kImageId, kImageMsg},
    {"SparseLogicalImage",
     [](Call& c) { c.args[0] = (c.owned[0] = image({4, 3}, zuLogicalClass, {.sparse = true})).get(); },
     kImageId, kImageMsg},
    {"FourDimensionalImage", [](Call& c) { c.args[0] = (c.owned[0] = image({4, 3, 2, 2})).get(); },
     kDimsId, kDimsMsg},
    {"FourDimensionalImageWithBadWeights",
     [](Call& c) {
         c.args[0] = (c.owned[0] = image({4, 3, 2, 2})).get();
         c.args[1] = (c.owned[1] = table({2, 5}, 0, zuSingleClass)).get();
     },
     kDimsId, kDimsMsg},
    {"SingleWeights", [](Call& c) { c.args[1] = (c.owned[1] = table({2, 5}, 0, zuSingleClass)).get(); },
     kWeightsId, kWeightsMsg},
    {"ThreeDimensionalWeights", [](Call& c) { c.args[1] = (c.owned[1] = table({2, 5, 2})).get(); },
     kWeightsId, kWeightsMsg},
    {"SparseWeights",
     [](Call& c) { c.args[1] = (c.owned[1] = table({2, 5}, 1, zuDoubleClass, {.sparse = true})).get(); },
     kWeightsId, kWeightsMsg},
    {"SingleIndices", [](Call& c) { c.args[2] = (c.owned[2] = table({2, 5}, 0, zuSingleClass)).get(); },
     kIndicesId, kIndicesMsg},
    {"SparseIndices",
     [](Call& c) { c.args[2] = (c.owned[2] = table({2, 5}, 1, zuDoubleClass, {.sparse = true})).get(); },
     kIndicesId, kIndicesMsg},
    {"ThreeDimensionalIndices", [](Call& c) { c.args[2] = (c.owned[2] = table({2, 5, 2})).get(); },
     kSizeId, kSizeMsg},
    {"TransposedIndices", [](Call& c) { c.args[2] = (c.owned[2] = table({5, 2})).get(); }, kSizeId,
     kSizeMsg},
    {"IndicesOneColumnShort", [](Call& c) { c.args[2] = (c.owned[2] = table({2, 4})).get(); }, kSizeId,
     kSizeMsg},
    {"Int32Dimension", [](Call& c) { c.args[3] = (c.owned[3] = table({1, 1}, 0, zuInt32Class)).get(); },
     kDimId, kDimMsg},
    {"SparseDimension",
     [](Call& c) { c.args[3] = (c.owned[3] = table({1, 1}, 1, zuDoubleClass, {.sparse = true})).get(); },
     kDimId, kDimMsg},
    {"UnlistedClass1Dimension", [](Call& c) { c.args[3] = (c.owned[3] = image({1, 1}, zuClassID{1})).get(); },
     kDimId, kDimMsg},
};

INSTANTIATE_TEST_SUITE_P(Checks, ArgumentValidation, ::testing::ValuesIn(kErrorCases),
                         [](const auto& info) { return std::string(info.param.name); });

struct PassingCase {
    const char* name;
    std::function<void(Call&)> mutate;
};

class ArgumentsAccepted : public ModuleTest, public ::testing::WithParamInterface<PassingCase> {};

TEST_P(ArgumentsAccepted, CallReturnsAnOutput) {
    Call call = wellFormed();
    GetParam().mutate(call);
    CallOutcome outcome = module().call(call.args);
    EXPECT_FALSE(outcome.failed) << outcome.identifier << ": " << outcome.message;
    EXPECT_NE(outcome.output, nullptr);
}

const PassingCase kPassingCases[] = {
    {"WellFormed", [](Call&) {}},
    {"OneTapWeights",
     [](Call& c) {
         c.args[1] = (c.owned[1] = table({1, 5}, 1.0)).get();
         c.args[2] = (c.owned[2] = table({1, 5}, 2.0)).get();
     }},
    {"ComplexWeights",
     [](Call& c) { c.args[1] = (c.owned[1] = table({2, 5}, 0.5, zuDoubleClass, {.complexity = zuCOMPLEX})).get(); }},
    {"DimensionThree", [](Call& c) { c.args[3] = (c.owned[3] = createScalar(3.0)).get(); }},
    {"EmptyDimensionArgument", [](Call& c) { c.args[3] = (c.owned[3] = table({0, 0})).get(); }},
    // Resized along dimension 2 the output is 0-by-5 and nothing is read.
    {"EmptyImage",
     [](Call& c) {
         c.args[0] = (c.owned[0] = image({0, 5})).get();
         c.args[3] = (c.owned[3] = createScalar(2.0)).get();
     }},
    {"ThreeDimensionalImage", [](Call& c) { c.args[0] = (c.owned[0] = image({4, 3, 2})).get(); }},
    {"ImageClassStoredAsAlias",
     [](Call& c) { c.args[0] = (c.owned[0] = image({4, 3}, zuInt16Class, {.storedAlias = 33})).get(); }},
};

INSTANTIATE_TEST_SUITE_P(Checks, ArgumentsAccepted, ::testing::ValuesIn(kPassingCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
