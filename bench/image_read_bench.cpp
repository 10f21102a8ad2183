// Decodes an image file and discards its rows, for /usr/bin/time to measure
// what reading costs apart from resizing and encoding:
//
//   axiswarp_read_bench stream FILE [MAX_PIXELS]   through the band reader,
//                                                  in bands of info().bandRows
//   axiswarp_read_bench whole FILE [MAX_PIXELS]    readImageFile: the whole
//                                                  planar image
//
// Prints a number made from a few samples, so that the decoded samples are
// used.
#include "imagefile/image_io.hpp"

#if __has_include("imagefile/format_registry.hpp")
#include "imagefile/format_registry.hpp"
#define AXISWARP_HAS_READERS 1
#endif

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string_view>
#include <vector>

namespace t = axiswarp::tools;

namespace {

std::uint64_t mix(std::uint64_t sum, const unsigned char* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) sum = sum * 31 + bytes[i];
    return sum;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: axiswarp_read_bench stream|whole FILE [MAX_PIXELS]\n");
        return 2;
    }
    const std::string_view mode = argv[1];
    t::ImageReadOptions options;
    options.autoOrient = false;
    if (argc == 4) options.maxPixels = std::strtoull(argv[3], nullptr, 10);
    try {
        std::uint64_t sum = 0;
        if (mode == "whole") {
            const t::ImageFile file = t::readImageFile(argv[2], options);
            for (const t::Image& page : file.pages) {
                const auto bytes = page.bytes();
                // Every 4096th byte: used, without timing a pass over the
                // whole image.
                for (std::size_t i = 0; i < bytes.size(); i += 4096) sum = sum * 31 + std::to_integer<unsigned>(bytes[i]);
            }
        } else if (mode == "stream") {
#ifdef AXISWARP_HAS_READERS
            const auto reader = t::openImageReader(t::ImageInput{argv[2], {}, argv[2]}, options);
            const t::StreamInfo& info = reader->info();
            std::vector<std::uint64_t> band((info.page.rowBytes() * info.bandRows + 7) / 8);
            for (std::uint32_t p = 0; p < info.pages; ++p) {
                if (p > 0) reader->nextPage();
                for (std::uint32_t y = 0; y < info.page.height; y += info.bandRows) {
                    const std::uint32_t rows = std::min(info.bandRows, info.page.height - y);
                    reader->readRows(reinterpret_cast<unsigned char*>(band.data()), rows);
                    sum = mix(sum, reinterpret_cast<const unsigned char*>(band.data()), 1);
                }
            }
#else
            std::fprintf(stderr, "no band readers in this build\n");
            return 2;
#endif
        } else {
            std::fprintf(stderr, "unknown mode '%s'\n", argv[1]);
            return 2;
        }
        std::printf("%016llx\n", static_cast<unsigned long long>(sum));
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
