// A call given an output placement writes its result into the caller's
// memory, which lets several calls fill disjoint parts of one array. The
// host must hand that memory to the output exactly when it fits, never free
// it, and leave it alone when the call fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host_arrays.hpp"
#include "module_fixture.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::makeDoubles;
using axiswarp::testing::makeTyped;
using axiswarp::testing::ModuleTest;
using axiswarp::testing::realValues;

class OutputPlacementTest : public ModuleTest {};

TEST_F(OutputPlacementTest, TheOutputLandsInPlacedMemoryOnlyWhenItFits) {
    // A 3-by-2 int16 image along dimension 1 to 2 rows: output 2-by-2.
    const std::vector<std::int16_t> samples{1, 2, 3, 10, 20, 30};
    ArrayPtr image = makeTyped<std::int16_t>({3, 2}, samples);
    ArrayPtr weights = makeDoubles({1, 2}, {1, 1});
    ArrayPtr indices = makeDoubles({1, 2}, {3, 1});
    ArrayPtr dim = createScalar(1);
    const zuArray* args[] = {image.get(), weights.get(), indices.get(), dim.get()};
    const std::vector<std::int16_t> expected{3, 1, 30, 10};

    struct Case {
        const char* what;
        std::uint64_t bytes;
        bool complex;
        bool placed;
    };
    const Case cases[] = {
        {"exact size", 8, false, true},
        {"one element short", 6, false, false},
        {"one element over", 10, false, false},
        {"complex placement for a real output", 8, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::int16_t> real(8, -1), imag(8, -1);
        const OutputPlacement placement{real.data(), c.complex ? imag.data() : nullptr, c.bytes};
        CallOutcome outcome = module().call(args, placement);
        ASSERT_FALSE(outcome.failed) << outcome.message;
        ASSERT_NE(outcome.output, nullptr);
        EXPECT_EQ(outcome.output->realData == real.data(), c.placed);
        EXPECT_EQ(realValues<std::int16_t>(*outcome.output), expected);
        outcome.output.reset();
        // Placed memory outlives the output and holds the result; memory the
        // output did not take is untouched.
        const std::vector<std::int16_t> left(real.begin(), real.begin() + 4);
        EXPECT_EQ(left, c.placed ? expected : std::vector<std::int16_t>(4, -1));
        EXPECT_EQ(imag, std::vector<std::int16_t>(8, -1));
    }
}

TEST_F(OutputPlacementTest, AFailedCallLeavesPlacedMemoryAndCountsAsTheyWere) {
    ArrayPtr image = makeTyped<std::uint8_t>({3, 2}, {1, 2, 3, 4, 5, 6});
    ArrayPtr weights = makeDoubles({1, 2}, {1, 1});
    ArrayPtr indices = makeDoubles({1, 2}, {4, 1});  // 4 is past the 3 rows
    ArrayPtr dim = createScalar(1);
    const zuArray* args[] = {image.get(), weights.get(), indices.get(), dim.get()};
    std::vector<std::uint8_t> real(4, 7);
    const CallOutcome outcome = module().call(args, OutputPlacement{real.data(), nullptr, 4});
    EXPECT_TRUE(outcome.failed);
    EXPECT_EQ(outcome.identifier, "Ovela:axisWarp:indexOutOfRange");
    EXPECT_EQ(outcome.output, nullptr);
    // Failing before any sample is written, the call leaves the memory as it was.
    EXPECT_EQ(real, std::vector<std::uint8_t>(4, 7));
}

}  // namespace
