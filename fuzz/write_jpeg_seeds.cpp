// Writes the JPEG seeds of the image fuzzer (fuzz/corpus/jpeg) with the tool
// library's own encoder: small gray and colour images at a few qualities.
// Usage: write_jpeg_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "image_io.hpp"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    const std::filesystem::path directory(argv[1]);
    std::filesystem::create_directories(directory);
    struct Seed {
        const char* name;
        std::uint32_t width, height, channels;
        int quality;
    };
    const Seed seeds[] = {
        {"gray_8x8_q90", 8, 8, 1, 90},
        {"rgb_16x9_q75", 16, 9, 3, 75},
        {"rgb_3x17_q20", 3, 17, 3, 20},
        {"gray_1x1_q100", 1, 1, 1, 100},
    };
    for (const Seed& seed : seeds) {
        auto image = axiswarp::tools::Image::blank(seed.width, seed.height, seed.channels, 8);
        for (std::uint32_t c = 0; c < seed.channels; ++c) {
            for (std::uint32_t j = 0; j < seed.width; ++j) {
                for (std::uint32_t i = 0; i < seed.height; ++i) image.set(i, j, c, (i * 31 + j * 17 + c * 90) % 256);
            }
        }
        axiswarp::tools::ImageWriteOptions options;
        options.jpegQuality = seed.quality;
        const auto bytes = axiswarp::tools::encodeJpeg(image, seed.name, options);
        std::ofstream out(directory / seed.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}
