// Fuzz target: the PNG decoder (or, built with AXISWARP_FUZZ_JPEG, the JPEG
// decoder, or with AXISWARP_FUZZ_TIFF the TIFF decoder) of the tool library,
// through libpng, libjpeg or libtiff, on arbitrary bytes.
//
// Every input must either be refused with the library's ToolError or give an
// image whose extents, channels and depth are possible for the format and
// within the pixel limit, whose sample buffer matches them, and which the
// encoder writes and the decoder reads back: bit for bit for PNG, with the
// same extents, channels and depth for the lossy JPEG. The ICC profile and
// EXIF block read must come back byte for byte (unless the encoder warned
// that it left one out), the image must turn upright by the EXIF's
// orientation, and a block whose orientation is reset must then read as
// upright.
//
// A TIFF file must give pages of one size, channel count and sample type,
// each within the limits, which come back bit for bit through the encoder
// and the decoder, with the ICC profile, orientation and compression.
//
// For PNG the chunk checksums of the input are recomputed before decoding:
// a mutation would otherwise almost always end at the first checksum test,
// and the fuzzer would never reach the chunk contents.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "imagefile/exif_orientation.hpp"
#include "imagefile/image_io.hpp"
#include "imagefile/orientation.hpp"
#include "runtime/tool_error.hpp"

namespace {

using axiswarp::tools::Image;
using axiswarp::tools::ImageFile;
using axiswarp::tools::ImageMetadata;
using axiswarp::tools::ToolError;

#if defined(AXISWARP_FUZZ_JPEG)
constexpr bool kJpeg = true;
#else
constexpr bool kJpeg = false;
#endif
#if defined(AXISWARP_FUZZ_TIFF)
constexpr bool kTiff = true;
#else
constexpr bool kTiff = false;
#endif
constexpr const char* kFormat = kTiff ? "tiff" : kJpeg ? "jpeg" : "png";

// Small enough that the largest accepted image decodes in milliseconds and
// stays far below the fuzzer's memory limit, whatever its header claims.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 18;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s fuzzer: %s\n", kFormat, what);
    std::abort();
}

Image decode(std::span<const std::byte> bytes, const char* name, ImageMetadata* metadata) {
    axiswarp::tools::ImageReadOptions options;
    options.maxPixels = kMaxPixels;
    return kJpeg ? axiswarp::tools::decodeJpeg(bytes, name, options, metadata)
                 : axiswarp::tools::decodePng(bytes, name, options, metadata);
}

void checkOrientation(const Image& image, const ImageMetadata& metadata) {
    const int orientation = axiswarp::tools::exifOrientation(metadata.exif);
    if (orientation < 1 || orientation > 8) fail("an orientation outside 1..8");
    const Image upright = axiswarp::tools::orientUpright(image, orientation);
    const bool swapped = orientation >= 5;
    if (upright.width != (swapped ? image.height : image.width) ||
        upright.height != (swapped ? image.width : image.height) || upright.channels != image.channels) {
        fail("turning upright gave the wrong extents");
    }
    if (orientation != 1 &&
        axiswarp::tools::exifOrientation(axiswarp::tools::exifWithOrientation(metadata.exif, 1)) != 1) {
        fail("a reset EXIF orientation does not read as 1");
    }
}

// Rewrites the CRC of every whole chunk after the signature.
void fixPngChecksums(std::vector<std::byte>& file) {
    auto readBig = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (std::size_t b = 0; b < 4; ++b) value = (value << 8) | std::to_integer<std::uint32_t>(file[at + b]);
        return value;
    };
    std::size_t at = 8;
    while (file.size() >= 12 && at <= file.size() - 12) {
        const std::uint64_t length = readBig(at);
        if (length > file.size() - at - 12) break;
        const auto* body = reinterpret_cast<const Bytef*>(file.data() + at + 4);
        const auto crc = static_cast<std::uint32_t>(crc32(0L, body, static_cast<uInt>(length + 4)));
        const std::size_t crcAt = at + 8 + static_cast<std::size_t>(length);
        for (std::size_t b = 0; b < 4; ++b) file[crcAt + b] = static_cast<std::byte>(crc >> (24 - 8 * b));
        at = crcAt + 4;
    }
}

std::size_t heldSamples(const Image& image) {
    return image.visitSamples([](auto samples) { return samples.size(); });
}

void checkImage(const Image& image) {
    if (image.width == 0 || image.height == 0) fail("an image with a zero extent");
    if (std::uint64_t{image.width} * image.height > kMaxPixels) fail("an image beyond the pixel limit");
    if (image.channels < 1 || image.channels > 4) fail("channels outside 1..4");
    if (kJpeg && ((image.channels != 1 && image.channels != 3) || image.bitDepth() != 8)) {
        fail("a JPEG image other than 8-bit gray or RGB");
    }
    if (heldSamples(image) != image.sampleCount()) fail("the sample buffer does not match the extents");
}


ImageFile decodeTiffFile(std::span<const std::byte> bytes, const char* name) {
    axiswarp::tools::ImageReadOptions options;
    options.maxPixels = kMaxPixels;
    // Few pages, so that a chain of large pages stays within memory; the
    // stored orientation is kept, for the round trip to compare.
    options.maxPages = 8;
    options.autoOrient = false;
    options.warning = [](const std::string&) {};  // overviews left out: not a failure
    return axiswarp::tools::decodeTiff(bytes, name, options);
}

void fuzzTiff(std::span<const std::byte> bytes) {
    ImageFile file;
    try {
        file = decodeTiffFile(bytes, "input");
    } catch (const ToolError& error) {
        static const bool verbose = std::getenv("AXISWARP_FUZZ_VERBOSE") != nullptr;
        if (verbose) std::fprintf(stderr, "refused: %s\n", error.what());
        return;
    }
    if (file.pages.empty() || file.pages.size() > 8) fail("a page count outside 1..8");
    if (file.metadata.orientation < 1 || file.metadata.orientation > 8) fail("an orientation outside 1..8");
    const Image& first = file.pages.front();
    for (const Image& page : file.pages) {
        checkImage(page);
        if (page.width != first.width || page.height != first.height || page.channels != first.channels ||
            page.sampleType() != first.sampleType()) {
            fail("the pages of a stack differ");
        }
    }
    // JPEG-compressed pages round-trip losslessly through Deflate.
    axiswarp::tools::ImageWriteOptions lossless;
    const bool jpeg = file.compression == axiswarp::tools::TiffCompression::jpeg;
    if (jpeg) lossless.tiffCompression = axiswarp::tools::TiffCompression::deflate;
    ImageFile back;
    try {
        back = decodeTiffFile(axiswarp::tools::encodeTiff(file, "round trip", lossless), "round trip");
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail("a decoded file does not survive the encoder and the decoder");
    }
    if (back.pages.size() != file.pages.size()) fail("the round trip changed the page count");
    for (std::size_t p = 0; p < file.pages.size(); ++p)
        if (!(back.pages[p] == file.pages[p])) fail("the round trip changed a page");
    if (back.metadata.iccProfile != file.metadata.iccProfile || back.metadata.orientation != file.metadata.orientation ||
        back.compression != (jpeg ? lossless.tiffCompression : file.compression) ||
        back.metadata.colour != file.metadata.colour) {
        fail("the round trip changed the profile, the orientation or the compression");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::byte> input(reinterpret_cast<const std::byte*>(data),
                                 reinterpret_cast<const std::byte*>(data) + size);
    // A plain if: the TIFF path stays compiled (and checked) in every target.
    if (kTiff) {
        fuzzTiff(input);
        return 0;
    }
    if (!kJpeg) fixPngChecksums(input);
    const std::span<const std::byte> bytes(input);
    Image image;
    ImageMetadata metadata;
    try {
        image = decode(bytes, "input", &metadata);
    } catch (const ToolError& error) {
        // Refused with a message: the expected end for most inputs.
        // AXISWARP_FUZZ_VERBOSE=1 shows it (for checking seeds).
        static const bool verbose = std::getenv("AXISWARP_FUZZ_VERBOSE") != nullptr;
        if (verbose) std::fprintf(stderr, "refused: %s\n", error.what());
        return 0;
    }
    checkImage(image);
    checkOrientation(image, metadata);

    Image back;
    ImageMetadata backMetadata;
    bool warned = false;
    try {
        axiswarp::tools::ImageWriteOptions options;
        options.warning = [&](const std::string&) { warned = true; };
        const std::vector<std::byte> encoded = kJpeg ? axiswarp::tools::encodeJpeg(image, "round trip", options, &metadata)
                                                     : axiswarp::tools::encodePng(image, "round trip", options, &metadata);
        back = decode(encoded, "round trip", &backMetadata);
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        fail("a decoded image does not survive the encoder and the decoder");
    }
    if (back.width != image.width || back.height != image.height || back.channels != image.channels ||
        back.bitDepth() != image.bitDepth()) {
        fail("the round trip changed the extents, channels or depth");
    }
    if (!kJpeg && !(back == image)) fail("the PNG round trip changed samples");
    if (!warned && (backMetadata.iccProfile != metadata.iccProfile || backMetadata.exif != metadata.exif))
        fail("the round trip changed the metadata");
    return 0;
}
