// The host's cache of freed large blocks: reuse, its bound, and that no
// block goes to a second owner while its first still uses it.
#include <zuhost/standin_host.hpp>

#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using namespace zuhost;

struct Range {
    const unsigned char* begin;
    std::uint64_t bytes;
};

bool overlap(const Range& a, const Range& b) {
    return a.begin < b.begin + b.bytes && b.begin < a.begin + a.bytes;
}

class BlockCache : public ::testing::Test {
protected:
    void SetUp() override {
        bound_ = blockCacheBound();
        setBlockCacheBound(std::uint64_t{256} << 20);
        emptyBlockCache();
        before_ = liveCounts();
    }
    void TearDown() override {
        EXPECT_EQ(liveCounts(), before_) << "arrays or blocks leaked";
        setBlockCacheBound(bound_);
    }

private:
    std::uint64_t bound_ = 0;
    Counts before_;
};

// Sizes in bytes of uint8 arrays: just above the large-block threshold, a
// few pages more than 1 MiB, and an odd size.
const std::uint64_t kSizes[] = {std::uint64_t{256} << 10, (std::uint64_t{1} << 20) + 3 * 4096,
                                (std::uint64_t{4} << 20) + 7};

TEST_F(BlockCache, EqualSizesReuseTheBlockFreedLast) {
    for (const std::uint64_t bytes : kSizes) {
        emptyBlockCache();  // of the last size's arrays
        const void* first = nullptr;
        {
            ArrayPtr array = createArray(zuUint8Class, {bytes, 1});
            first = array->realData;
        }
        EXPECT_EQ(blockCacheState().blocks, 1u) << bytes;
        ArrayPtr again = createArray(zuUint8Class, {bytes, 1});
        EXPECT_EQ(again->realData, first) << bytes;
        EXPECT_EQ(blockCacheState(), BlockCacheState{}) << bytes;
        // A scratch block of the size, once given back, serves the next array too.
        void* scratch = zuMalloc(bytes);
        zuFree(scratch);
        EXPECT_EQ(createArray(zuUint8Class, {bytes, 1})->realData, scratch) << bytes;
    }
}

TEST_F(BlockCache, ABlockIsNeverHandedOutWhileAnArrayStillUsesIt) {
    for (const std::uint64_t bytes : kSizes) {
        emptyBlockCache();
        ArrayPtr owned = createArray(zuUint8Class, {bytes, 1});
        ArrayPtr view = borrowArray(zuUint8Class, std::vector<std::uint64_t>{bytes, 1}, owned->realData);
        HandedData handed = handOverData(createArray(zuUint8Class, {bytes, 1}, {.complexity = zuCOMPLEX}));
        void* scratch = zuMalloc(bytes);
        const std::vector<Range> inUse = {{static_cast<unsigned char*>(owned->realData), bytes},
                                          {static_cast<unsigned char*>(handed.realData), bytes},
                                          {static_cast<unsigned char*>(handed.imagData), bytes},
                                          {static_cast<unsigned char*>(scratch), bytes}};
        // Freed blocks of the same size wait in the cache...
        std::vector<const void*> freed;
        {
            std::vector<ArrayPtr> dropped;
            for (int n = 0; n < 3; ++n) dropped.push_back(createArray(zuUint8Class, {bytes, 1}));
            for (const ArrayPtr& array : dropped) freed.push_back(array->realData);
        }
        // ...and new arrays take those, never one in use.
        std::vector<ArrayPtr> fresh;
        int reused = 0;
        for (int n = 0; n < 6; ++n) {
            fresh.push_back(createArray(zuUint8Class, {bytes, 1}));
            const Range range{static_cast<unsigned char*>(fresh.back()->realData), bytes};
            for (const Range& used : inUse) EXPECT_FALSE(overlap(range, used)) << bytes << " bytes, array " << n;
            reused += std::count(freed.begin(), freed.end(), range.begin) > 0;
        }
        EXPECT_GT(reused, 0) << "the cache served nothing, so this test proves nothing";
        // Once NumPy (here: the caller) lets go, the block may serve again.
        releaseData(handed.imagData);
        EXPECT_EQ(createArray(zuUint8Class, {bytes, 1})->realData, handed.imagData);
        releaseData(handed.realData);
        zuFree(scratch);
    }
}

TEST_F(BlockCache, BeyondTheBoundTheOldestBlocksGoBack) {
    const std::uint64_t block = std::uint64_t{1} << 20;  // maps 1 MiB and one page
    struct Case {
        std::uint64_t bound;
        std::uint64_t kept;  // blocks left after five are freed
    };
    const Case cases[] = {{0, 0}, {block, 0}, {3 * block, 2}, {64 * block, 5}};
    for (const Case& c : cases) {
        setBlockCacheBound(c.bound);
        std::vector<ArrayPtr> arrays;
        for (int n = 0; n < 5; ++n) arrays.push_back(createArray(zuUint8Class, {block, 1}));
        const void* newest = arrays.back()->realData;
        for (ArrayPtr& array : arrays) array.reset();  // freed first to last
        const BlockCacheState state = blockCacheState();
        EXPECT_EQ(state.blocks, c.kept) << "bound " << c.bound;
        EXPECT_LE(state.bytes, c.bound);
        if (c.kept > 0) {
            EXPECT_EQ(createArray(zuUint8Class, {block, 1})->realData, newest);
        }
        emptyBlockCache();
        EXPECT_EQ(blockCacheState(), BlockCacheState{});
    }
}

TEST_F(BlockCache, ABlockFarLargerThanTheRequestIsNotUsed) {
    const void* large = createArray(zuUint8Class, {std::uint64_t{8} << 20, 1})->realData;
    ArrayPtr smaller = createArray(zuUint8Class, {std::uint64_t{6} << 20, 1});
    EXPECT_NE(smaller->realData, large);
    ArrayPtr nearly = createArray(zuUint8Class, {(std::uint64_t{8} << 20) - 4096 * 5, 1});
    EXPECT_EQ(nearly->realData, large);
}

TEST_F(BlockCache, ReusedDataIsPoisonedAgainWhenAskedFor) {
    const bool was = poisonNewArrays();
    setPoisonNewArrays(true);
    const std::uint64_t bytes = kSizes[1];
    const void* first = nullptr;
    {
        ArrayPtr array = createArray(zuUint8Class, {bytes, 1});
        std::memset(array->realData, 0x3C, bytes);
        first = array->realData;
    }
    ArrayPtr again = createArray(zuUint8Class, {bytes, 1});
    ASSERT_EQ(again->realData, first);
    const auto* data = static_cast<const std::uint8_t*>(again->realData);
    EXPECT_EQ(std::count(data, data + bytes, kPoisonByte), static_cast<std::ptrdiff_t>(bytes));
    setPoisonNewArrays(was);
}

// The death test forks and runs the statement in the child ("fast" style):
// the "threadsafe" style executes the test program again, which a test run
// under qemu-user cannot do (the emulator is not part of the program's path).
// Each test runs in a process of its own, so no thread is alive at the fork.
TEST_F(BlockCache, ABlockGivenBackTwiceStopsTheProcess) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_DEATH(
        {
            void* block = zuMalloc(kSizes[0]);
            zuFree(block);
            zuFree(block);
        },
        "not live");
}

}  // namespace
