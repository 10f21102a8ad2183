// Bands are produced in order on one thread and each stored once, with the
// content its produce wrote, however many threads share the work; a failing
// decode is reported and nothing runs afterwards. Decoding through a pool
// gives the samples of decoding alone.
#include "imagefile/band_pipeline.hpp"
#include "imagefile/image_io.hpp"
#include "imagefile/planar_layout.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace axiswarp::tools;

TEST(BandPipeline, EveryBandIsProducedInOrderAndStoredOnceWithItsContent) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    struct Case {
        unsigned threads;
        std::uint32_t bands;
        std::size_t bytes;
    };
    for (const Case c : {Case{1, 5, 16}, Case{2, 0, 8}, Case{2, 1, 8}, Case{2, 2, 3}, Case{2, 50, 64},
                         Case{3, 17, 1000}, Case{4, 200, 7}}) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.bands) + " bands");
        WorkerPool pool(c.threads);
        std::vector<std::atomic<int>> stored(c.bands);
        std::vector<std::uint32_t> order;
        std::thread::id producer;
        bool oneProducer = true;
        std::mutex mutex;
        bool contentOk = true;
        pipelineBands(
            &pool, c.bytes, c.bands,
            [&](std::uint32_t b, unsigned char* band) {
                if (order.empty()) producer = std::this_thread::get_id();
                oneProducer = oneProducer && producer == std::this_thread::get_id();
                order.push_back(b);
                std::memset(band, static_cast<int>(b % 251), c.bytes);
            },
            [&](std::uint32_t b, const unsigned char* band) {
                for (std::size_t k = 0; k < c.bytes; ++k)
                    if (band[k] != b % 251) {
                        std::lock_guard lock(mutex);
                        contentOk = false;
                    }
                ++stored[b];
            });
        EXPECT_TRUE(oneProducer);
        EXPECT_TRUE(contentOk);
        ASSERT_EQ(order.size(), c.bands);
        for (std::uint32_t b = 0; b < c.bands; ++b) {
            EXPECT_EQ(order[b], b);
            EXPECT_EQ(stored[b].load(), 1) << "band " << b;
        }
    }
}

TEST(BandPipeline, AFailingProduceIsRethrownAndStopsTheBands) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    for (const unsigned threads : {1u, 2u, 3u}) {
        WorkerPool pool(threads);
        std::atomic<std::uint32_t> produced{0};
        try {
            pipelineBands(
                &pool, 4, 40,
                [&](std::uint32_t b, unsigned char*) {
                    if (b == 9) throw std::runtime_error("bad band 9");
                    ++produced;
                },
                [&](std::uint32_t b, const unsigned char*) { EXPECT_LT(b, 9u); });
            ADD_FAILURE() << "no failure reported";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "bad band 9");
        }
        EXPECT_EQ(produced.load(), 9u) << threads << " threads";
    }
}

TEST(BandPipeline, DecodingWithAPoolGivesTheSamplesOfDecodingAlone) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    constexpr std::uint32_t height = 4 * kBandRows + 45;  // five bands, the last short
    Image original = Image::allocate(37, height, 3, 8);
    auto samples = original.samples8();
    for (std::size_t e = 0; e < samples.size(); ++e) samples[e] = static_cast<std::uint8_t>(e * 37 + e / height);
    const std::vector<std::byte> png = encodePng(original, "p.png");
    const std::vector<std::byte> jpg = encodeJpeg(original, "j.jpg");
    for (const unsigned threads : {2u, 3u}) {
        WorkerPool pool(threads);
        ImageReadOptions shared;
        shared.pool = &pool;
        EXPECT_TRUE(decodePng(png, "p.png", shared) == original) << threads << " threads";
        EXPECT_TRUE(decodeJpeg(jpg, "j.jpg", shared) == decodeJpeg(jpg, "j.jpg")) << threads << " threads";
    }
}

}  // namespace
