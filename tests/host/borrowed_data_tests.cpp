// Arrays over the caller's memory, and data handed from the host to a caller,
// as a host over another language's arrays uses them.
#include <zuhost/standin_host.hpp>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

namespace {

using namespace zuhost;

class HostData : public ::testing::Test {
protected:
    void SetUp() override { before_ = liveCounts(); }
    void TearDown() override { EXPECT_EQ(liveCounts(), before_) << "arrays or data blocks leaked"; }
    Counts before_;
};

TEST_F(HostData, ABorrowedArrayViewsTheCallersDataAndLeavesItAlone) {
    std::vector<double> samples{1, 2, 3, 4, 5, 6};
    const std::vector<double> imag{-1, -2, -3, -4, -5, -6};
    const std::vector<std::uint64_t> dims{2, 3, 1, 1};
    {
        ArrayPtr array = borrowArray(zuDoubleClass, dims, samples.data(), imag.data());
        EXPECT_EQ(array->realData, samples.data());
        EXPECT_EQ(array->imagData, imag.data());
        EXPECT_TRUE(array->isComplex());
        EXPECT_TRUE(array->isNumeric());
        EXPECT_EQ(extents(*array), (std::vector<std::uint64_t>{2, 3}));
        EXPECT_EQ(liveCounts().arrays, before_.arrays + 1);
    }
    // Released without freeing: the memory is still the vector's (a sanitizer
    // build would report a double free when the vector goes).
    EXPECT_EQ(samples[5], 6.0);
}

TEST_F(HostData, BorrowingRefusesSizesThatOverflowAndMissingData) {
    double one = 1.0;
    const std::uint64_t big = std::uint64_t{1} << 32;
    struct Case {
        std::vector<std::uint64_t> dims;
        const void* data;
    };
    const Case cases[] = {{{big, big, 2}, &one}, {{big, big / 4, 8}, &one}, {{1, 1}, nullptr}};
    for (const Case& c : cases) {
        EXPECT_THROW(borrowArray(zuDoubleClass, c.dims, c.data), HostError);
    }
}

TEST_F(HostData, HandedOverDataOutlivesItsRecordUntilReleased) {
    for (const zuComplexity complexity : {zuREAL, zuCOMPLEX}) {
        ArrayPtr array = createArray(zuInt16Class, {3, 2, 2}, {.complexity = complexity});
        static_cast<std::int16_t*>(array->realData)[11] = -7;
        HandedData data = handOverData(std::move(array));
        EXPECT_EQ(liveCounts().arrays, before_.arrays);
        EXPECT_EQ(liveCounts().handedOver, before_.handedOver + (complexity == zuCOMPLEX ? 2 : 1));
        EXPECT_EQ(data.classID, zuInt16Class);
        EXPECT_EQ(data.dims, (std::vector<std::uint64_t>{3, 2, 2}));
        EXPECT_EQ(static_cast<std::int16_t*>(data.realData)[11], -7);
        EXPECT_EQ(data.imagData != nullptr, complexity == zuCOMPLEX);
        releaseData(data.realData);
        releaseData(data.imagData);
    }
}

TEST_F(HostData, ABorrowedArraysDataCannotBeHandedOver) {
    float samples[4] = {};
    ArrayPtr array = borrowArray(zuSingleClass, std::vector<std::uint64_t>{2, 2}, samples);
    EXPECT_THROW(handOverData(std::move(array)), HostError);
}

TEST_F(HostData, HostErrorTextNamesTheIdentifierWhenThereIsOne) {
    EXPECT_STREQ(HostError("A:b:c", "Message.").what(), "A:b:c: Message.");
    EXPECT_STREQ(HostError("", "no output").what(), "no output");
}

}  // namespace
