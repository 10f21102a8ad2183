// A host error raised inside a call, here because the output the arguments
// describe cannot be created, ends the call like the module's own errors: no
// output, and nothing left behind in the host (the fixture checks the counts,
// the leak checker of the sanitizer build the rest).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "host_arrays.hpp"
#include "module_fixture.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::ModuleTest;

class HostErrors : public ModuleTest {};

TEST_F(HostErrors, AnOutputTheHostCannotCreateEndsTheCallWithNothingLeft) {
    constexpr std::uint64_t k20 = std::uint64_t{1} << 20, k30 = std::uint64_t{1} << 30,
                            k40 = std::uint64_t{1} << 40;
    struct Case {
        const char* what;
        std::vector<std::uint64_t> image;
        double dim;
        const char* message;
    };
    // Empty images and tables of zero taps by 2^30 columns need no memory,
    // yet describe outputs of 2^30 rows or columns.
    const Case cases[] = {
        {"element count wraps, dimension 1", {0, k40}, 1, "Array dimensions overflow the host's size type."},
        {"element count wraps, dimension 2", {k40, 0}, 2, "Array dimensions overflow the host's size type."},
        {"wraps through the planes", {0, k20, k20}, 1, "Array dimensions overflow the host's size type."},
        {"beyond any memory", {0, k20}, 1, "Requested allocation is larger than the host can provide."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArrayPtr image = createArray(zuUint8Class, c.image);
        ArrayPtr weights = createArray(zuDoubleClass, {0, k30});
        ArrayPtr indices = createArray(zuDoubleClass, {0, k30});
        ArrayPtr dim = createScalar(c.dim);
        const CallOutcome outcome = module().call({image.get(), weights.get(), indices.get(), dim.get()});
        EXPECT_TRUE(outcome.failed);
        EXPECT_EQ(outcome.identifier, kOutOfMemoryId);
        EXPECT_EQ(outcome.message, c.message);
        EXPECT_EQ(outcome.output, nullptr);
    }
}

}  // namespace
