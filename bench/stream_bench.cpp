// One resize of a synthetic page, streamed or whole, for timing under
// /usr/bin/time (wall, user, system, peak memory). The source fills rows
// with a cheap pattern; the sink hashes the rows, so the two ways can be
// checked for the same bytes.
//
//   stream_bench stream|whole WIDTH HEIGHT CHANNELS uint8|uint16 OUT_WIDTH OUT_HEIGHT
//                KERNEL THREADS BAND_HINT [precise]
#include "image/image.hpp"
#include "resample/resize_pipeline.hpp"
#include "resample/stream_resize.hpp"
#include "runtime/worker_pool.hpp"

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace axiswarp::tools;

namespace {

// The rows of the page: 61 distinct rows in turn, made once, so that the
// source costs about what a copy costs and no pass is trivial.
constexpr std::uint64_t kDistinctRows = 61;

std::uint32_t pattern(std::uint64_t r, std::uint64_t x, std::uint64_t c) {
    r %= kDistinctRows;
    return static_cast<std::uint32_t>((r * 7 + x * 13 + c * 101 + ((r ^ x) & 63) * 3) * 2654435761u >> 16);
}

struct Hash {
    std::uint64_t value = 1469598103934665603ull;
    void add(const unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) value = (value ^ bytes[i]) * 1099511628211ull;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 11) {
        std::fprintf(stderr, "usage: %s stream|whole W H C uint8|uint16 OUT_W OUT_H KERNEL THREADS BAND_HINT [precise]\n",
                     argv[0]);
        return 2;
    }
    const bool stream = std::string(argv[1]) == "stream";
    const PageShape page{static_cast<std::uint32_t>(std::atoi(argv[2])), static_cast<std::uint32_t>(std::atoi(argv[3])),
                         static_cast<std::uint32_t>(std::atoi(argv[4])),
                         std::string(argv[5]) == "uint16" ? SampleType::uint16 : SampleType::uint8};
    const ImageSize out{static_cast<std::uint32_t>(std::atoi(argv[6])), static_cast<std::uint32_t>(std::atoi(argv[7]))};
    ResampleOptions options;
    options.filter.kernel = parseKernel(argv[8]);
    options.precise = argc > 11 && std::string(argv[11]) == "precise";
    WorkerPool pool(static_cast<unsigned>(std::atoi(argv[9])));
    const std::uint32_t hint = static_cast<std::uint32_t>(std::atoi(argv[10]));
    const zuhost::Module module(AXISWARP_MODULE_PATH);
    const ResizePlan plan = planResize({page.width, page.height}, out, options.filter);
    const std::size_t sample = page.type == SampleType::uint16 ? 2 : 1;
    Hash hash;

    if (stream) {
        const std::uint32_t bandRows = streamBandRows(page, hint);
        const std::size_t rowBytes = std::size_t{page.width} * page.channels * sample;
        std::vector<unsigned char> rowsMade(kDistinctRows * rowBytes);
        for (std::uint64_t r = 0; r < kDistinctRows; ++r)
            for (std::uint64_t i = 0; i < std::uint64_t{page.width} * page.channels; ++i) {
                const std::uint32_t v = pattern(r, i / page.channels, i % page.channels);
                if (sample == 1) rowsMade[r * rowBytes + i] = static_cast<std::uint8_t>(v);
                else reinterpret_cast<std::uint16_t*>(rowsMade.data() + r * rowBytes)[i] = static_cast<std::uint16_t>(v);
            }
        std::uint64_t row = 0;
        resizeStream(
            module, page, 1, plan, options, &pool, bandRows,
            [&](unsigned char* band, std::uint32_t rows) {
                for (std::uint32_t r = 0; r < rows; ++r, ++row)
                    std::memcpy(band + r * rowBytes, rowsMade.data() + (row % kDistinctRows) * rowBytes, rowBytes);
            },
            [&](const unsigned char* band, std::uint32_t rows) {
                hash.add(band, std::size_t{rows} * out.width * page.channels * sample);
            });
        std::printf("stream bands of %u rows: %016llx\n", bandRows, static_cast<unsigned long long>(hash.value));
        return 0;
    }

    Image image = Image::allocate(page.width, page.height, page.channels, page.type);
    image.visitSamples([&](auto samples) {
        using T = typename decltype(samples)::value_type;
        for (std::uint64_t c = 0; c < page.channels; ++c)
            for (std::uint64_t x = 0; x < page.width; ++x)
                for (std::uint64_t r = 0; r < page.height; ++r)
                    samples[image.offset(static_cast<std::uint32_t>(r), static_cast<std::uint32_t>(x),
                                         static_cast<std::uint32_t>(c))] = static_cast<T>(pattern(r, x, c));
    });
    const Image result = resizeImage(module, image, plan, options, &pool);
    const auto* bytes = reinterpret_cast<const unsigned char*>(result.bytes().data());
    for (std::uint32_t r = 0; r < result.height; ++r)
        for (std::uint32_t x = 0; x < result.width; ++x)
            for (std::uint32_t c = 0; c < result.channels; ++c) hash.add(bytes + result.offset(r, x, c) * sample, sample);
    std::printf("whole: %016llx\n", static_cast<unsigned long long>(hash.value));
    return 0;
}
