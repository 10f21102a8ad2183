// What the codecs are told when decoding and encoding.
#ifndef AXISWARP_TOOLS_CODEC_OPTIONS_HPP
#define AXISWARP_TOOLS_CODEC_OPTIONS_HPP

#include "imagefile/image_file.hpp"
#include "runtime/worker_pool.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace axiswarp::tools {

struct ImageReadOptions {
    std::uint64_t maxPixels = std::uint64_t{1} << 28;     // width * height of one page
    std::uint64_t maxFileBytes = std::uint64_t{1} << 32;  // encoded size
    // Pages of a stack, at most.
    std::uint32_t maxPages = 65536;
    // Apply the stored orientation, so that the pages are upright and the
    // metadata's orientation is 1.
    bool autoOrient = true;
    // Where an idle thread of the pool can store decoded bands while the
    // decoder goes on (band_pipeline.hpp); null decodes on the caller alone.
    // The samples are the same either way.
    WorkerPool* pool = nullptr;
};

struct ImageWriteOptions {
    int jpegQuality = 90;  // 1..100
    // 0..9, -1 for zlib's default. Below 9 every row is filtered with the
    // Sub filter, which is much faster than trying all five; 9 lets libpng
    // choose per row, for the smallest file.
    int pngCompressionLevel = -1;
    // TIFF pages: this compression when set, otherwise the file's own
    // (ImageFile::compression), otherwise none.
    std::optional<TiffCompression> tiffCompression;
    // Told about lossy conversions (16 to 8 bits, dropped alpha) and
    // metadata a format cannot hold.
    std::function<void(const std::string&)> warning;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_CODEC_OPTIONS_HPP
