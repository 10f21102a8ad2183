// HEIF files (HEIC: HEVC-coded, AVIF: AV1-coded) through libheif, which
// brings its own decoders and encoders for each coding.
//
// Reading gives the primary image as 8-bit RGB, or RGBA when it has alpha;
// higher bit depths are reduced to 8 bits by libheif, and gray images
// decode as RGB. libheif decodes a page in one call: the reader decodes it
// on the first readRows and hands rows out of libheif's decoded image; the
// pixel limit is checked from the image's header first. Metadata: the ICC
// profile (a colour description given only as coding parameters, "nclx",
// has no profile to keep) and the EXIF block.
//
// Orientation: libheif applies the file's own transformations (rotation,
// mirroring, cropping) while decoding, and readers of the format take those
// as the image's orientation. Writers copy the same orientation into the
// EXIF tag, so the reader resets that tag to 1 (only its two bytes change)
// and reports orientation 1: applying it again would turn the image twice.
//
// Writing encodes 8-bit RGB or RGBA at ImageWriteOptions::jpegQuality;
// gray is written as RGB and 16-bit samples are reduced to 8 bits (with a
// warning). The metadata's orientation is written as the file's own
// transformation and the EXIF tag as 1, as the reader expects; the ICC
// profile and the EXIF block are kept. A machine whose libheif lacks the
// encoder for a coding refuses that output when the writer is opened.
//
// Every failure throws ToolError whose message starts with the file's name.
#ifndef AXISWARP_TOOLS_HEIF_CODEC_HPP
#define AXISWARP_TOOLS_HEIF_CODEC_HPP

#include "imagefile/byte_source.hpp"
#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

namespace axiswarp::tools {

// Whether the bytes start with a file-type box naming a HEIF brand, and
// which of the two formats its major brand says (avif for AV1 brands,
// heif otherwise); the reader reads either.
bool looksLikeHeif(std::span<const std::byte> head) noexcept;
std::optional<ImageFormat> heifFormatOf(std::span<const std::byte> head) noexcept;

std::unique_ptr<ImageReader> openHeifReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
std::unique_ptr<ImageReader> openHeifReader(const ImageInput& input, const ImageReadOptions& options);

// The codings a HEIF file's primary image may have: HEVC (.heic), AV1
// (.avif), and H.266 (VVC), which libheif knows but, in the versions
// Debian ships, cannot encode.
enum class HeifCoding { hevc, av1, vvc };

// Whether this machine's libheif has an encoder for the coding.
bool heifCanEncode(HeifCoding coding) noexcept;
inline bool heicCanEncode() noexcept { return heifCanEncode(HeifCoding::hevc); }
inline bool avifCanEncode() noexcept { return heifCanEncode(HeifCoding::av1); }

std::unique_ptr<ImageWriter> openHeifWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options, HeifCoding coding);
inline std::unique_ptr<ImageWriter> openHeicWriter(ByteOutput& output, const StreamInfo& out,
                                                   std::string_view name, const ImageWriteOptions& options) {
    return openHeifWriter(output, out, name, options, HeifCoding::hevc);
}
inline std::unique_ptr<ImageWriter> openAvifWriter(ByteOutput& output, const StreamInfo& out,
                                                   std::string_view name, const ImageWriteOptions& options) {
    return openHeifWriter(output, out, name, options, HeifCoding::av1);
}

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_HEIF_CODEC_HPP
