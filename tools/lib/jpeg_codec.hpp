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
// Decoded bands of rows go straight into the image's planes, and the image's
// memory is taken only once the first band has decoded. Every failure throws
// ToolError whose message starts with `name`.
#ifndef AXISWARP_TOOLS_JPEG_CODEC_HPP
#define AXISWARP_TOOLS_JPEG_CODEC_HPP

#include "codec_options.hpp"
#include "image.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikeJpeg(std::span<const std::byte> bytes) noexcept;

Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name,
                 const ImageReadOptions& options = {});
std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name,
                                  const ImageWriteOptions& options = {});

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_JPEG_CODEC_HPP
