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

// What the pixel limits protect against.
//
// A whole-image read holds every page in memory, so there the pixel limit
// bounds memory: 2^28 pixels by default. A band reader's memory does not
// grow with the image, so a streamed job can take far larger images
// (kStreamingMaxPixels); what is left to guard against is time: a
// decompression bomb, a tiny file whose header announces billions of
// pixels, costs the decoder seconds to minutes of work for nothing. Beyond
// kPixelsFreeOfRatio pixels, a file must therefore hold at least one byte
// per maxPixelsPerByte pixels. Measured on flat 8192x8192 images (the most
// compressible there are): PNG at level 9 reaches 1026 pixels per byte at 8
// bits and 8155 at 1 bit (deflate's 1032:1 bound); Huffman-coded JPEG 256
// (gray, optimised tables), 171 for 4:2:0 colour. Only arithmetic-coded
// JPEG goes further (a flat 8192x8192 one takes 125 bytes): such files are
// rare and, at this size, refused unless the limit is turned off (0), as a
// caller whose user set --max-pixels explicitly should do. TIFF strips are
// bounded more tightly by their own checks (tiff_codec.hpp).
inline constexpr std::uint64_t kStreamingMaxPixels = std::uint64_t{1} << 32;
inline constexpr std::uint64_t kPixelsFreeOfRatio = std::uint64_t{1} << 28;

struct ImageReadOptions {
    std::uint64_t maxPixels = std::uint64_t{1} << 28;     // width * height of one page
    // Beyond kPixelsFreeOfRatio pixels, at most this many pixels per byte
    // of the file; 0 for no such limit. 65536 leaves 8 times the margin over
    // PNG's bound and 256 times over Huffman-coded JPEG's.
    std::uint64_t maxPixelsPerByte = 65536;
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
    // Refuse a file that decodes only past damage the decoder reports but
    // can step over (a JPEG with stray bytes between its segments), as
    // before; otherwise such a file is read with a warning. Data that stops
    // early is refused either way.
    bool strict = false;
    // Told about damage read past and about metadata read but not kept (a
    // profile or EXIF block the file holds in a form the tool cannot keep);
    // when empty, those messages go to stderr, so that none is lost.
    std::function<void(const std::string&)> warning;
};

struct ImageWriteOptions {
    int jpegQuality = 90;  // 1..100
    // 0..9, or -1: run-length coding only, fast and as small as level 6 on
    // photographs. Below 9 every row is filtered with the Sub filter, which
    // is much faster than trying all five; 9 lets libpng choose per row, for
    // the smallest file.
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
