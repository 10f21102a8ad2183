// JPEG files through libjpeg.
//
// Reading gives gray (C = 1) or RGB (C = 3) at 8 bits; CMYK and YCCK files
// are refused. Data corruption that the decoder would paper over (a
// truncated file, bad entropy codes, a broken scan) is an error, not a
// warning.
// Writing stores 8-bit gray or RGB; a 16-bit image is reduced to 8 bits by
// rounding v/257 to nearest, and an alpha channel is dropped (not composited
// onto a background), each reported once through the warning hook.
//
// Metadata: the ICC profile of the APP2 "ICC_PROFILE" segments, joined in
// their sequence order, and the EXIF block of the first APP1 "Exif" segment
// (without its "Exif\0\0"). Written back as one APP1 segment right after
// the start of the file, in place of the JFIF segment as EXIF readers expect,
// and as many APP2 segments as the profile needs. An EXIF block beyond one
// segment's 65527 bytes, or a profile beyond 255 segments, is left out with
// a warning.
//
// Decoded bands of rows go straight into the image's planes, and the image's
// memory is taken only once the first band has decoded. Every failure throws
// ToolError whose message starts with `name`.
#ifndef AXISWARP_TOOLS_JPEG_CODEC_HPP
#define AXISWARP_TOOLS_JPEG_CODEC_HPP

#include "imagefile/codec_options.hpp"
#include "image/image.hpp"
#include "imagefile/image_file.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikeJpeg(std::span<const std::byte> bytes) noexcept;

// `metadata`, when given, receives the profile and EXIF block; its
// orientation is left for the caller to read from the EXIF.
Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name,
                 const ImageReadOptions& options = {}, ImageMetadata* metadata = nullptr);
std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name,
                                  const ImageWriteOptions& options = {},
                                  const ImageMetadata* metadata = nullptr);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_JPEG_CODEC_HPP
