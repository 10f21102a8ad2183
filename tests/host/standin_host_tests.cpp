// The stand-in host must behave as the module relies on: these tests pin the
// effects of each call and the host's own bookkeeping.
#include <zuhost/standin_host.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "host_arrays.hpp"

namespace {

using namespace zuhost;
using axiswarp::testing::makeDoubles;

class StandinHost : public ::testing::Test {
protected:
    void SetUp() override { before_ = liveCounts(); }
    void TearDown() override { EXPECT_EQ(liveCounts(), before_) << "arrays or blocks leaked"; }

private:
    Counts before_;
};

TEST_F(StandinHost, ExtentsKeepTwoAndDropTrailingOnes) {
    struct Case {
        std::vector<std::uint64_t> given, kept;
    };
    const Case cases[] = {
        {{}, {0, 0}},           {{5}, {5, 1}},          {{3, 4}, {3, 4}},
        {{3, 4, 1}, {3, 4}},    {{3, 1, 1, 1}, {3, 1}}, {{3, 4, 1, 2}, {3, 4, 1, 2}},
        {{0, 5, 1}, {0, 5}},    {{2, 3, 4}, {2, 3, 4}},
    };
    for (const Case& c : cases) {
        ArrayPtr array = createArray(zuDoubleClass, c.given);
        EXPECT_EQ(extents(*array), c.kept);
        EXPECT_EQ(zuGetNumberOfElements(array.get()), numberOfElements(*array));
    }
}

TEST_F(StandinHost, NewDataIsPoisonedWhenAskedFor) {
    // The test environment turns poisoning on; the call switches it for the
    // process, so restore what was there.
    const bool was = poisonNewArrays();
    setPoisonNewArrays(true);
    // Small arrays come from malloc, large ones from mapped pages.
    for (std::uint64_t rows : {std::uint64_t{3}, std::uint64_t{3} << 21}) {
        ArrayPtr array = createArray(zuInt16Class, {rows, 2}, {.complexity = zuCOMPLEX});
        const auto* real = static_cast<const std::uint8_t*>(array->realData);
        const auto* imag = static_cast<const std::uint8_t*>(array->imagData);
        const std::uint64_t bytes = rows * 2 * 2;
        for (std::uint64_t b : {std::uint64_t{0}, std::uint64_t{1}, bytes / 2, bytes - 1}) {
            EXPECT_EQ(real[b], kPoisonByte) << rows << " rows, byte " << b;
            EXPECT_EQ(imag[b], kPoisonByte) << rows << " rows, byte " << b;
        }
    }
    setPoisonNewArrays(was);
}

TEST_F(StandinHost, BorrowedDataIsNeitherWrittenNorFreed) {
    const bool was = poisonNewArrays();
    setPoisonNewArrays(true);
    std::vector<std::int32_t> real{1, 2, 3, 4, 5, 6};
    std::vector<std::int32_t> imag{7, 8, 9, 10, 11, 12};
    const Counts before = liveCounts();
    {
        ArrayPtr array = createArray(zuInt32Class, {2, 3},
                                     {.complexity = zuCOMPLEX, .borrowedReal = real.data(),
                                      .borrowedImag = imag.data()});
        EXPECT_EQ(array->realData, real.data());
        EXPECT_EQ(array->imagData, imag.data());
        EXPECT_EQ(liveCounts().arrays, before.arrays + 1);
    }
    // Still ours, and untouched: releasing the array did not free or fill it.
    EXPECT_EQ(real, (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(imag, (std::vector<std::int32_t>{7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(liveCounts(), before);
    // A complex array needs both blocks.
    try {
        createArray(zuInt32Class, {2, 3}, {.complexity = zuCOMPLEX, .borrowedReal = real.data()});
        ADD_FAILURE() << "a complex borrowed array without an imaginary block was made";
    } catch (const HostError& error) {
        EXPECT_EQ(error.identifier(), kBadArrayId);
    }
    setPoisonNewArrays(was);
}

TEST_F(StandinHost, ComplexityAndFlags) {
    ArrayPtr real = createArray(zuSingleClass, {2, 2});
    EXPECT_EQ(real->imagData, nullptr);
    EXPECT_FALSE(real->isComplex());
    ArrayPtr complex = createArray(zuSingleClass, {2, 2}, {.complexity = zuCOMPLEX});
    EXPECT_TRUE(complex->isComplex());
    ArrayPtr sparse = createArray(zuLogicalClass, {2, 2}, {.sparse = true});
    EXPECT_TRUE(sparse->isSparse());
    EXPECT_TRUE(sparse->isNumeric());
    ArrayPtr unlisted = createArray(zuClassID{4}, {1, 4});
    EXPECT_FALSE(unlisted->isNumeric());
    ArrayPtr forced = createArray(zuClassID{4}, {1, 4}, {.numeric = ArrayOptions::Numeric::Set});
    EXPECT_TRUE(forced->isNumeric());
    EXPECT_EQ(forced->classID(), zuClassID{4});
}

TEST_F(StandinHost, StoredIdentifiersAbove16ResolveThroughTheHost) {
    ArrayPtr alias = createArray(zuUint16Class, {2, 2}, {.storedAlias = 40});
    EXPECT_EQ(alias->storedClassID, 40);
    EXPECT_EQ(alias->classID(), zuUint16Class);
    EXPECT_EQ(zuhost::elementSize(alias->classID()), 2u);
}

TEST_F(StandinHost, GetScalarReadsTheFirstRealElement) {
    EXPECT_EQ(zuGetScalar(createScalar(2.75).get()), 2.75);
    EXPECT_EQ(zuGetScalar(createArray(zuDoubleClass, {0, 3}).get()), 0.0);
    std::vector<std::int32_t> ints{-7, 5};
    EXPECT_EQ(zuGetScalar(axiswarp::testing::makeTyped<std::int32_t>({2, 1}, ints).get()), -7.0);
    EXPECT_TRUE(std::isnan(zuGetScalar(createScalar(std::nan("")).get())));
}

TEST_F(StandinHost, GetNCountsEveryExtentAfterTheFirst) {
    EXPECT_EQ(zuGetN(createArray(zuDoubleClass, {3, 4}).get()), 4u);
    EXPECT_EQ(zuGetN(createArray(zuDoubleClass, {3, 4, 5}).get()), 20u);
    EXPECT_EQ(zuGetN(createArray(zuDoubleClass, {0, 7}).get()), 7u);
}

TEST_F(StandinHost, OverflowingSizesRaiseHostErrors) {
    const std::uint64_t huge = std::uint64_t{1} << 40;
    const std::vector<std::vector<std::uint64_t>> shapes = {
        {huge, huge},                              // element count wraps
        {std::uint64_t{1} << 62, 1},               // bytes wrap for 8-byte elements
        {std::uint64_t{1} << 50, 1},               // fits the type, beyond any memory
    };
    for (const auto& shape : shapes) {
        try {
            createArray(zuDoubleClass, shape);
            ADD_FAILURE() << "no error for shape " << shape[0] << "x" << shape[1];
        } catch (const HostError& error) {
            EXPECT_EQ(error.identifier(), kOutOfMemoryId);
        }
    }
    EXPECT_THROW(zuMalloc(std::numeric_limits<std::size_t>::max()), HostError);
}

TEST_F(StandinHost, ScratchBlocksAreCounted) {
    const Counts before = liveCounts();
    void* block = zuMalloc(64);
    EXPECT_EQ(liveCounts().blocks, before.blocks + 1);
    zuFree(block);
    zuFree(nullptr);
    EXPECT_EQ(liveCounts(), before);
}

// Arrays and blocks made on several threads at once are all counted, none
// shares memory with another, and dropping them (here, on another thread)
// brings the counts back. Large ones come from the block cache, which the
// threads fill and drain at the same time: each thread writes its own mark
// through every block it holds and finds it intact before letting go, which
// fails if the cache handed one block to two threads.
TEST_F(StandinHost, ArraysCanBeMadeAndDroppedFromManyThreads) {
    constexpr int kThreads = 4;
    constexpr int kKept = 100;
    // Small, and large ones of sizes that the cache matches with each other.
    const std::uint64_t sizes[] = {16, std::uint64_t{300} << 10, std::uint64_t{320} << 10, std::uint64_t{1} << 20};
    const Counts before = liveCounts();
    std::vector<std::vector<ArrayPtr>> arrays(kThreads);
    std::vector<std::vector<std::pair<void*, std::uint64_t>>> blocks(kThreads);
    std::vector<int> damaged(kThreads, 0);
    auto marked = [](const void* block, std::uint64_t bytes, unsigned char mark) {
        const auto* b = static_cast<const unsigned char*>(block);
        return b[0] == mark && b[bytes / 2] == mark && b[bytes - 1] == mark;
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const auto mark = static_cast<unsigned char>(t + 1);
            for (int n = 0; n < 300; ++n) {
                const std::uint64_t bytes = sizes[(n + t) % 4];
                ArrayPtr churn = createArray(zuUint8Class, {bytes, 1});
                void* block = zuMalloc(sizes[(n + t + 1) % 4]);
                std::memset(churn->realData, mark, bytes);
                std::memset(block, mark, sizes[(n + t + 1) % 4]);
                std::this_thread::yield();
                damaged[t] += !marked(churn->realData, bytes, mark) + !marked(block, sizes[(n + t + 1) % 4], mark);
                zuFree(block);
            }
            for (int n = 0; n < kKept; ++n) {
                const std::uint64_t bytes = sizes[n % 4];
                arrays[t].push_back(createArray(zuUint8Class, {bytes, 1}));
                blocks[t].push_back({zuMalloc(sizes[(n + 1) % 4]), sizes[(n + 1) % 4]});
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(damaged, std::vector<int>(kThreads, 0)) << "a block was written by two threads at once";
    EXPECT_EQ(liveCounts().arrays, before.arrays + kThreads * kKept);
    EXPECT_EQ(liveCounts().blocks, before.blocks + kThreads * kKept);
    std::vector<std::pair<const unsigned char*, std::uint64_t>> memory;
    for (int t = 0; t < kThreads; ++t) {
        for (const ArrayPtr& a : arrays[t])
            memory.emplace_back(static_cast<const unsigned char*>(a->realData), numberOfElements(*a));
        for (const auto& [block, bytes] : blocks[t]) memory.emplace_back(static_cast<unsigned char*>(block), bytes);
    }
    std::sort(memory.begin(), memory.end());
    EXPECT_NE(memory.front().first, nullptr);
    for (std::size_t i = 1; i < memory.size(); ++i) {
        EXPECT_LE(memory[i - 1].first + memory[i - 1].second, memory[i].first) << "two allocations share memory";
    }
    for (auto& kept : blocks) {
        for (const auto& entry : kept) zuFree(entry.first);
    }
    arrays.clear();
    EXPECT_EQ(liveCounts(), before);
}

TEST_F(StandinHost, ErrorRaisingThrowsTheHostError) {
    try {
        zupErrMsgIdAndTxt("Some:id", "Some message.");
        FAIL() << "zupErrMsgIdAndTxt returned";
    } catch (const HostError& error) {
        EXPECT_EQ(error.identifier(), "Some:id");
        EXPECT_EQ(error.message(), "Some message.");
    }
}

TEST_F(StandinHost, LoadingAMissingModuleNamesTheFile) {
    try {
        Module module("/nonexistent/dir/nothing.zupa64");
        FAIL() << "a missing module loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_NE(std::string(error.what()).find("/nonexistent/dir/nothing.zupa64"), std::string::npos);
    }
}

}  // namespace
