// Fuzz target: the WebP reader (or, built with AXISWARP_FUZZ_HEIF, the
// HEIF/AVIF reader) of the tool library, through libwebp or libheif, on
// arbitrary bytes.
//
// Every input must either be refused with the library's ToolError, whose
// message starts with the input's name and is one line, or give a page
// within the pixel limit, of 8-bit RGB or RGBA, whose rows all decode, with
// an orientation of 1 to 8 (1 for HEIF, whose own transformations libheif
// applies) and, for HEIF, an EXIF block that no longer says otherwise.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "imagefile/exif_orientation.hpp"
#include "imagefile/image_stream.hpp"
#include "runtime/tool_error.hpp"
#if defined(AXISWARP_FUZZ_HEIF)
#include "imagefile/heif_codec.hpp"
#else
#include "imagefile/webp_codec.hpp"
#endif

namespace {

using namespace axiswarp::tools;

#if defined(AXISWARP_FUZZ_HEIF)
constexpr bool kHeif = true;
#else
constexpr bool kHeif = false;
#endif
constexpr const char* kFormat = kHeif ? "heif" : "webp";

// Small enough that the largest accepted image decodes quickly and stays
// far below the fuzzer's memory limit, whatever its header claims.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 18;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "%s fuzzer: %s\n", kFormat, what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    ImageReadOptions options;
    options.maxPixels = kMaxPixels;
    const ImageInput input{{}, bytes, "fuzz.input"};
    try {
#if defined(AXISWARP_FUZZ_HEIF)
        const auto reader = openHeifReader(input, options);
#else
        const auto reader = openWebpReader(input, options);
#endif
        const StreamInfo info = reader->info();
        const PageLayout& page = info.page;
        if (page.width == 0 || page.height == 0 || std::uint64_t{page.width} * page.height > kMaxPixels)
            fail("a page outside the limits was accepted");
        if ((page.channels != 3 && page.channels != 4) || page.type != SampleType::uint8 || info.pages != 1)
            fail("a layout the format cannot give");
        const int orientation = info.metadata.orientation;
        if (orientation < 1 || orientation > 8 || (kHeif && orientation != 1))
            fail("an impossible orientation");
        if (kHeif && exifOrientation(info.metadata.exif) != 1) fail("an EXIF orientation left to apply twice");
        std::vector<unsigned char> band(page.rowBytes() * 16);
        for (std::uint32_t y = 0; y < page.height; y += 16) {
            const std::uint32_t rows = page.height - y < 16 ? page.height - y : 16;
            reader->readRows(band.data(), rows);
        }
    } catch (const ToolError& error) {
        const std::string message = error.what();
        if (message.rfind("fuzz.input: ", 0) != 0 || message.find('\n') != std::string::npos)
            fail("a refusal that does not name the input on one line");
    }
    return 0;
}
