// Writes the JPEG seeds of the image fuzzer (fuzz/corpus/jpeg) with the tool
// library's own encoder: small gray and colour images at a few qualities,
// one carrying an EXIF block (orientation 6) and an ICC profile.
// Usage: write_jpeg_seeds DIRECTORY
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "imagefile/image_io.hpp"

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
        bool metadata;
    };
    const Seed seeds[] = {
        {"gray_8x8_q90", 8, 8, 1, 90, false},
        {"rgb_16x9_q75", 16, 9, 3, 75, false},
        {"rgb_3x17_q20", 3, 17, 3, 20, false},
        {"gray_1x1_q100", 1, 1, 1, 100, false},
        {"rgb_5x3_exif6_icc", 5, 3, 3, 80, true},
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
        // Little-endian EXIF, IFD0 holding Orientation 6; a profile of a
        // header and 16 bytes (only its framing matters to JPEG).
        axiswarp::tools::ImageMetadata metadata;
        const unsigned char exif[] = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0,
                                      1, 0, 0, 0, 6, 0, 0, 0, 0, 0, 0, 0};
        for (unsigned char b : exif) metadata.exif.push_back(static_cast<std::byte>(b));
        metadata.iccProfile.resize(148);
        for (std::size_t b = 0; b < metadata.iccProfile.size(); ++b)
            metadata.iccProfile[b] = static_cast<std::byte>(b * 7);
        const auto bytes =
            axiswarp::tools::encodeJpeg(image, seed.name, options, seed.metadata ? &metadata : nullptr);
        std::ofstream out(directory / seed.name, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    return 0;
}
