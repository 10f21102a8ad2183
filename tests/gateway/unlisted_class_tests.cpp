// An image whose numeric-data flag is set but whose class the module has no
// kernels for passes the argument checks, gets its output created in its own
// class, and is then refused by the class dispatch with the module's error,
// not with one of the host's, leaving nothing behind.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "host_arrays.hpp"
#include "module_fixture.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::ModuleTest;

struct UnlistedCase {
    const char* name;
    zuClassID classID;
    double dim;
};

class UnlistedImageClass : public ModuleTest, public ::testing::WithParamInterface<UnlistedCase> {};

TEST_P(UnlistedImageClass, EndsWithTheClassError) {
    ArrayPtr image = createArray(GetParam().classID, {3, 2}, {.numeric = ArrayOptions::Numeric::Set});
    std::memset(image->realData, 0, 6 * std::max<std::size_t>(elementSize(GetParam().classID), 1));
    ArrayPtr weights = axiswarp::testing::makeDoubles({1, 2}, {1.0, 1.0});
    ArrayPtr indices = axiswarp::testing::makeDoubles({1, 2}, {1.0, 2.0});
    ArrayPtr dim = createScalar(GetParam().dim);

    CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), dim.get()});
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.identifier, "Ovela:axisWarp:invalidInputClass");
    EXPECT_EQ(outcome.message, "Input image must be numeric or logical.");
    EXPECT_EQ(outcome.output, nullptr);
}

const UnlistedCase kUnlistedCases[] = {
    {"Unlisted4", zuClassID{4}, 1.0},          {"Unlisted16", zuClassID{16}, 2.0},
    {"Unlisted0", zuClassID{0}, 1.0},    {"Unlisted1", zuClassID{1}, 2.0},
    {"Unlisted2", zuClassID{2}, 1.0},      {"Unlisted5", zuClassID{5}, 2.0},
    {"BeyondThePlainRange", 200, 1.0},   {"Negative", -3, 2.0},
};

INSTANTIATE_TEST_SUITE_P(Classes, UnlistedImageClass, ::testing::ValuesIn(kUnlistedCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
