// WebP files through libwebp (decoding, encoding) and its mux and demux
// libraries (the ICCP, EXIF and XMP chunks of the extended format).
//
// Reading gives 8-bit RGB, or RGBA when the file has alpha (a lossless
// gray image decodes as RGB too: the format has no gray pages). libwebp
// decodes a page in one call, so the reader decodes it on the first
// readRows into its own buffer and hands rows out from there; the pixel
// limit is checked from the header first. Animated files are refused.
// Metadata: the ICC profile and the EXIF block (an "Exif\0\0" before it, as
// some writers leave, is removed). The orientation is the EXIF's; a file
// whose EXIF has no orientation tag takes its XMP packet's tiff:Orientation.
// An invalid value (0, above 8) reads as 1.
//
// Writing stores 8-bit RGB or RGBA, lossy at ImageWriteOptions::jpegQuality
// or lossless; gray is written as RGB and 16-bit samples are reduced to 8
// bits (with a warning). The ICC profile and the EXIF block, its
// orientation made to agree with the metadata's, go into ICCP and EXIF
// chunks. At most 16383 pixels a side, the format's limit.
//
// Every failure throws ToolError whose message starts with the file's name.
#ifndef AXISWARP_TOOLS_WEBP_CODEC_HPP
#define AXISWARP_TOOLS_WEBP_CODEC_HPP

#include "imagefile/byte_source.hpp"
#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

namespace axiswarp::tools {

bool looksLikeWebp(std::span<const std::byte> head) noexcept;

std::unique_ptr<ImageReader> openWebpReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
std::unique_ptr<ImageReader> openWebpReader(const ImageInput& input, const ImageReadOptions& options);

enum class WebpCompression { lossy, lossless };

// Lossy, as a photograph's resize wants.
std::unique_ptr<ImageWriter> openWebpWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options);
std::unique_ptr<ImageWriter> openWebpWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options, WebpCompression compression);

// libwebp always has its encoder.
inline bool webpCanEncode() noexcept { return true; }

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_WEBP_CODEC_HPP
