#include "imagefile/codec_support.hpp"

#include <cstdio>
#include <limits>

namespace axiswarp::tools {

void failCodec(std::string_view name, const std::string& problem) {
    throw ToolError(std::string(name) + ": " + problem);
}

void warnReading(const ImageReadOptions& options, std::string_view name, const std::string& problem) {
    const std::string text = std::string(name) + ": " + problem;
    if (options.warning) {
        options.warning(text);
    } else {
        std::fprintf(stderr, "warning: %s\n", text.c_str());
    }
}

void checkPixelLimit(std::string_view name, std::uint64_t width, std::uint64_t height,
                     const ImageReadOptions& options, std::uint64_t fileBytes) {
    if (width == 0 || height == 0)
        failCodec(name, "the image has a zero extent (" + std::to_string(width) + "x" +
                       std::to_string(height) + ")");
    // width and height are below 2^32 each, so the product cannot wrap.
    const std::uint64_t pixels = width * height;
    if (pixels > options.maxPixels)
        throw LimitError(LimitError::Kind::imagePixels,
                         std::string(name) + ": the image is " + std::to_string(width) + "x" +
                             std::to_string(height) + " = " + std::to_string(pixels) +
                             " pixels, more than the limit of " + std::to_string(options.maxPixels));
    // fileBytes * maxPixelsPerByte is compared by division, which cannot wrap.
    if (pixels > kPixelsFreeOfRatio && options.maxPixelsPerByte != 0 &&
        (fileBytes == 0 || (pixels - 1) / fileBytes >= options.maxPixelsPerByte))
        throw LimitError(LimitError::Kind::pixelsPerByte,
                         std::string(name) + ": the image is " + std::to_string(width) + "x" +
                             std::to_string(height) + " = " + std::to_string(pixels) + " pixels from a file of " +
                             std::to_string(fileBytes) + " bytes, more than " +
                             std::to_string(options.maxPixelsPerByte) +
                             " pixels per byte, which no ordinary image of that size reaches (a decompression "
                             "bomb?)");
}

// Size of an interleaved buffer of `rowBytes` by `height`, refused when it
// does not fit memory arithmetic.
std::size_t bufferBytes(std::string_view name, std::uint64_t rowBytes, std::uint64_t height) {
    if (rowBytes != 0 && height > std::numeric_limits<std::size_t>::max() / rowBytes)
        failCodec(name, "the image is too large to hold in memory");
    return static_cast<std::size_t>(rowBytes * height);
}


void validateForEncoding(const Image& image, std::string_view name) {
    if (image.width == 0 || image.height == 0)
        failCodec(name, "cannot write an image with a zero extent");
    if (image.channels < 1 || image.channels > 4)
        failCodec(name, "cannot write an image with " + std::to_string(image.channels) +
                            " channels (1 to 4 are supported)");
    if (image.empty()) failCodec(name, "the image holds no samples");
    if (image.sampleType() != SampleType::uint8 && image.sampleType() != SampleType::uint16)
        failCodec(name, "cannot write " + std::string(sampleTypeName(image.sampleType())) +
                            " samples: this format stores 8- or 16-bit unsigned integers");
}

void validateLayoutForEncoding(const PageLayout& page, std::string_view name) {
    if (page.width == 0 || page.height == 0) failCodec(name, "cannot write an image with a zero extent");
    if (page.channels < 1 || page.channels > 4)
        failCodec(name, "cannot write an image with " + std::to_string(page.channels) +
                            " channels (1 to 4 are supported)");
    if (page.type != SampleType::uint8 && page.type != SampleType::uint16)
        failCodec(name, "cannot write " + std::string(sampleTypeName(page.type)) +
                            " samples: this format stores 8- or 16-bit unsigned integers");
}

void storeBand(Image& image, const unsigned char* band, std::size_t rowBytes, std::uint32_t first,
               std::uint32_t count) {
    const PlaneGeometry g = geometryOf(image);
    image.visitSamples([&](auto samples) {
        using T = typename decltype(samples)::value_type;
        bandToPlanes(reinterpret_cast<const T*>(band), rowBytes / sizeof(T), first, count, g,
                     samples.data());
    });
}

}  // namespace axiswarp::tools
