// An image whose numeric-data flag is set but whose class the module has no
// kernels for passes the argument checks, gets its output created in its own
// class, and is then refused by the class dispatch with the module's error,
// not with one of the host's, leaving nothing behind and the first output
// slot unwritten. The class is refused before any index is judged: no kernel
// runs for such a class, so its table is never read through.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "host_arrays.hpp"
#include "module_fixture.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::ModuleTest;

constexpr const char* kClassId = "Ovela:axisWarp:invalidInputClass";
constexpr const char* kClassMsg = "Input image must be numeric or logical.";
constexpr const char* kIndexId = "Ovela:axisWarp:indexOutOfRange";

struct UnlistedCase {
    const char* name;
    zuClassID classID;
    double dim;
};

// Tables for an image of M = 3, N = 2: in range along both dimensions, past
// both extents, NaN, and below 1.
struct TableCase {
    const char* name;
    std::vector<double> indices;  // 1-by-2
};

const TableCase kTables[] = {
    {"InRange", {1.0, 2.0}},
    {"PastTheExtent", {1.0, 4.0}},
    {"NaN", {std::numeric_limits<double>::quiet_NaN(), 1.0}},
    {"Zero", {0.0, 1.0}},
};

class UnlistedImageClass : public ModuleTest, public ::testing::WithParamInterface<UnlistedCase> {};

TEST_P(UnlistedImageClass, EndsWithTheClassErrorWhateverTheIndices) {
    ArrayPtr image = createArray(GetParam().classID, {3, 2}, {.numeric = ArrayOptions::Numeric::Set});
    std::memset(image->realData, 0, 6 * std::max<std::size_t>(elementSize(GetParam().classID), 1));
    ArrayPtr weights = axiswarp::testing::makeDoubles({1, 2}, {1.0, 1.0});
    ArrayPtr dim = createScalar(GetParam().dim);
    for (const TableCase& table : kTables) {
        SCOPED_TRACE(table.name);
        ArrayPtr indices = axiswarp::testing::makeDoubles({1, 2}, table.indices);
        CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), dim.get()});
        EXPECT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.identifier, kClassId);
        EXPECT_EQ(outcome.message, kClassMsg);
        EXPECT_FALSE(outcome.firstSlotWritten);
    }
}

const UnlistedCase kUnlistedCases[] = {
    {"Unlisted4", zuClassID{4}, 1.0},          {"Unlisted16", zuClassID{16}, 2.0},
    {"Unlisted0", zuClassID{0}, 1.0},    {"Unlisted1", zuClassID{1}, 2.0},
    {"Unlisted2", zuClassID{2}, 1.0},      {"Unlisted5", zuClassID{5}, 2.0},
    {"BeyondThePlainRange", 200, 1.0},   {"Negative", -3, 2.0},
};

INSTANTIATE_TEST_SUITE_P(Classes, UnlistedImageClass, ::testing::ValuesIn(kUnlistedCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The other side of the order: for a listed class the same out-of-range
// tables end with the index error, so the class check above is not simply
// hiding every index error.
class ListedImageClass : public ModuleTest {};

TEST_F(ListedImageClass, OutOfRangeIndicesStillEndWithTheIndexError) {
    for (const zuClassID classID : {zuDoubleClass, zuLogicalClass, zuInt64Class}) {
        ArrayPtr image = createArray(classID, {3, 2});
        std::memset(image->realData, 0, 6 * elementSize(classID));
        ArrayPtr weights = axiswarp::testing::makeDoubles({1, 2}, {1.0, 1.0});
        for (const double dim : {1.0, 2.0}) {
            ArrayPtr d = createScalar(dim);
            for (const TableCase& table : kTables) {
                SCOPED_TRACE(::testing::Message() << className(classID) << " dim " << dim << " " << table.name);
                ArrayPtr indices = axiswarp::testing::makeDoubles({1, 2}, table.indices);
                CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), d.get()});
                const bool inRange = std::string(table.name) == "InRange";
                EXPECT_EQ(outcome.failed, !inRange);
                if (!inRange) {
                    EXPECT_EQ(outcome.identifier, kIndexId);
                    EXPECT_FALSE(outcome.firstSlotWritten);
                } else {
                    EXPECT_TRUE(outcome.firstSlotWritten);
                }
            }
        }
    }
}

}  // namespace
