// The streaming resize against the whole-image resize through the built
// module: the same bytes for every sample path, pass order, border,
// orientation, band height and thread count; failures stop it cleanly.
#include "imagefile/orientation.hpp"
#include "resample/resize_pipeline.hpp"
#include "resample/stream_plan.hpp"
#include "resample/stream_resize.hpp"

#include "module_fixture.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;
using axiswarp::testing::ModuleTest;

// Planar image -> the rows interleaved as a stream carries them.
std::vector<unsigned char> interleaved(const Image& image) {
    const std::size_t sample = static_cast<std::size_t>(image.bitDepth() / 8);
    std::vector<unsigned char> out(image.byteCount());
    const auto* planar = reinterpret_cast<const unsigned char*>(image.bytes().data());
    for (std::uint32_t r = 0; r < image.height; ++r)
        for (std::uint32_t x = 0; x < image.width; ++x)
            for (std::uint32_t c = 0; c < image.channels; ++c)
                std::memcpy(&out[((std::size_t{r} * image.width + x) * image.channels + c) * sample],
                            planar + image.offset(r, x, c) * sample, sample);
    return out;
}

Image randomImage(std::uint32_t width, std::uint32_t height, std::uint32_t channels, SampleType type,
                  unsigned seed) {
    Image image = Image::allocate(width, height, channels, type);
    std::mt19937 random(seed);
    image.visitSamples([&](auto samples) {
        using T = typename decltype(samples)::value_type;
        for (T& s : samples) {
            if constexpr (std::is_floating_point_v<T>)
                s = static_cast<T>(std::uniform_real_distribution<double>(-0.25, 1.25)(random));
            else
                s = static_cast<T>(std::uniform_int_distribution<long long>(
                    std::numeric_limits<T>::lowest(), std::numeric_limits<T>::max())(random));
        }
        // Some fully transparent and some opaque pixels in images with alpha.
        if (channels == 2 || channels == 4) {
            const std::size_t plane = std::size_t{width} * height;
            for (std::size_t p = 0; p < plane; p += 5) samples[(channels - 1) * plane + p] = T{0};
        }
    });
    return image;
}

std::vector<unsigned char> streamed(const zuhost::Module& module, const Image& stored, int orientation,
                                    const ResizePlan& plan, const ResampleOptions& options, WorkerPool* pool,
                                    std::uint32_t bandRows) {
    const std::vector<unsigned char> in = interleaved(stored);
    const std::size_t rowBytes = in.size() / stored.height;
    std::size_t readAt = 0;
    std::vector<unsigned char> out;
    resizeStream(
        module, {stored.width, stored.height, stored.channels, stored.sampleType()}, orientation, plan, options,
        pool, bandRows,
        [&](unsigned char* band, std::uint32_t rows) {
            ASSERT_LE(readAt + rows * rowBytes, in.size()) << "the stream read past the last row";
            std::memcpy(band, in.data() + readAt, rows * rowBytes);
            readAt += rows * rowBytes;
        },
        [&](const unsigned char* band, std::uint32_t rows) {
            const std::size_t bytes = std::size_t{rows} * plan.out.width * stored.channels * (stored.bitDepth() / 8);
            out.insert(out.end(), band, band + bytes);
        });
    EXPECT_EQ(readAt, in.size()) << "the stream did not read every row";
    return out;
}

struct StreamCase {
    const char* name;
    SampleType type;
    std::uint32_t width, height, channels;
    ImageSize out;
    FilterChoice filter;
    bool precise = false;
    bool linear = false;
};

using K = Kernel;
using B = Border;
const StreamCase kCases[] = {
    {"rgb8 width shrinks more", SampleType::uint8, 37, 129, 3, {8, 60}, {K::cubic, true, B::symmetric, 0}},
    {"gray16 height shrinks more", SampleType::uint16, 31, 140, 1, {20, 30}, {K::lanczos3, true, B::symmetric, 0}},
    {"rgba8 upscaled", SampleType::uint8, 25, 33, 4, {50, 47}, {K::triangle, true, B::replicate, 0}},
    {"float32 precise", SampleType::float32, 30, 30, 3, {13, 11}, {K::cubic, true, B::reflect, 0}},
    {"rgb8 linear", SampleType::uint8, 40, 26, 3, {17, 9}, {K::lanczos2, true, B::symmetric, 0}, false, true},
    {"int16 gray alpha", SampleType::int16, 19, 44, 2, {7, 20}, {K::cubic, true, B::mirror, 0}},
    {"gray8 constant fill", SampleType::uint8, 33, 27, 1, {12, 10}, {K::cubic, true, B::constant, 200}},
    {"rgba16 fill precise", SampleType::uint16, 27, 131, 4, {40, 53}, {K::lanczos3, true, B::constant, 1000}, true},
    {"rgb8 fill upscaled", SampleType::uint8, 9, 12, 3, {31, 29}, {K::cubic, true, B::constant, 7}},
    {"rgb8 wrap", SampleType::uint8, 21, 34, 3, {10, 15}, {K::cubic, true, B::wrap, 0}},
    {"float64 box", SampleType::float64, 40, 30, 1, {11, 29}, {K::box, true, B::symmetric, 0}},
    {"int8 nearest", SampleType::int8, 23, 35, 3, {30, 6}, {K::nearest, true, B::symmetric, 0}},
    {"uint32 precise", SampleType::uint32, 26, 22, 1, {9, 21}, {K::lanczos3, false, B::replicate, 0}, true},
    {"int32 two rows", SampleType::int32, 17, 2, 1, {5, 9}, {K::cubic, true, B::symmetric, 0}},
};

struct BandRun {
    std::uint32_t bandRows;
    unsigned threads;
};
const BandRun kRuns[] = {{1, 1}, {7, 2}, {16, 3}, {5, 3}, {64, 2}};

class StreamResize : public ModuleTest {};

TEST_F(StreamResize, GivesTheBytesOfTheWholeImageResize) {
    WorkerPool pools[] = {WorkerPool(1), WorkerPool(2), WorkerPool(3)};
    unsigned seed = 1;
    for (const StreamCase& c : kCases) {
        const Image stored = randomImage(c.width, c.height, c.channels, c.type, seed++);
        ResampleOptions options;
        options.filter = c.filter;
        options.precise = c.precise;
        options.linear = c.linear;
        for (int orientation = 1; orientation <= 8; ++orientation) {
            const Image upright = orientUpright(stored, orientation);
            const ResizePlan plan = planResize({upright.width, upright.height}, c.out, c.filter);
            const std::vector<unsigned char> expected =
                interleaved(resizeImage(module(), upright, plan, options, nullptr));
            for (const BandRun& run : kRuns) {
                SCOPED_TRACE(std::string(c.name) + ", orientation " + std::to_string(orientation) + ", bands of " +
                             std::to_string(run.bandRows) + ", " + std::to_string(run.threads) + " threads");
                EXPECT_TRUE(streamed(module(), stored, orientation, plan, options, &pools[run.threads - 1],
                                     run.bandRows) == expected);
            }
        }
    }
}

TEST_F(StreamResize, AFailureMidStreamIsRethrownOnce) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    const Image stored = randomImage(64, 200, 3, SampleType::uint8, 99);
    const ResizePlan plan = planResize({64, 200}, {16, 50}, {});
    for (const unsigned threads : {1u, 2u, 3u}) {
        for (const bool inSink : {false, true}) {
            SCOPED_TRACE(std::to_string(threads) + " threads, failing in the " + (inSink ? "sink" : "source"));
            WorkerPool pool(threads);
            int bandsRead = 0;
            int rowsWritten = 0;
            auto source = [&](unsigned char* band, std::uint32_t rows) {
                if (!inSink && bandsRead == 5) throw std::runtime_error("decoding stopped at row 40");
                ++bandsRead;
                std::memset(band, 17, std::size_t{rows} * 64 * 3);
            };
            auto sink = [&](const unsigned char*, std::uint32_t rows) {
                if (inSink && rowsWritten >= 10) throw std::runtime_error("the disk is full");
                rowsWritten += static_cast<int>(rows);
            };
            try {
                resizeStream(module(), {64, 200, 3, SampleType::uint8}, 1, plan, {}, &pool, 8, source, sink);
                ADD_FAILURE() << "no exception";
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), inSink ? "the disk is full" : "decoding stopped at row 40");
            }
            if (!inSink) {
                EXPECT_EQ(bandsRead, 5) << "the source was called after it failed";
            }
            EXPECT_LT(rowsWritten, 50);
        }
    }
}

TEST_F(StreamResize, AModuleFailureIsAHostError) {
    // A module that hands back its input makes an output of the wrong shape.
    const zuhost::Module echo(AXISWARP_ECHO_MODULE);
    const ResizePlan plan = planResize({20, 30}, {10, 10}, {});
    WorkerPool pool(2);
    auto source = [](unsigned char* band, std::uint32_t rows) { std::memset(band, 0, std::size_t{rows} * 20); };
    auto sink = [](const unsigned char*, std::uint32_t) {};
    EXPECT_THROW(resizeStream(echo, {20, 30, 1, SampleType::uint8}, 1, plan, {}, &pool, 4, source, sink),
                 zuhost::HostError);
}

TEST(StreamWindow, TheRingDoesNotGrowWithTheHeight) {
    struct Case {
        Kernel kernel;
        std::uint64_t n, m;
    };
    for (const Case c : {Case{K::cubic, 2000, 500}, Case{K::lanczos3, 4000, 500}, Case{K::triangle, 300, 900}}) {
        std::uint64_t capacity = 0;
        for (const std::uint64_t scale : {1u, 4u, 16u}) {
            TableRequest request;
            request.inLength = c.n * scale;
            request.outLength = c.m * scale;
            request.filter.kernel = c.kernel;
            const WindowPlan plan = windowPlan(buildTables(request), c.n * scale, 16, 4, 3);
            EXPECT_LT(plan.capacity, c.n) << "the ring holds the whole image";
            if (capacity != 0) {
                EXPECT_EQ(plan.capacity, capacity) << c.n * scale << " rows";
            }
            capacity = plan.capacity;
        }
    }
}

}  // namespace
