// PNG files through libpng.
//
// Reading keeps 8- and 16-bit samples as they are. Palette images become
// RGB, gray images of 1, 2 or 4 bits are scaled up to 8 bits, and a tRNS
// transparency chunk becomes an alpha channel. No gamma or colour-profile
// transform is applied.
// Writing chooses the colour type from C and the depth from the sample type.
//
// Metadata: the ICC profile of an iCCP chunk (decompressed, byte for byte)
// and the EXIF block of an eXIf chunk, before or after the image data. A
// chunk libpng finds broken is left out with the image still read. Written
// back as iCCP, named "ICC profile", and eXIf; a profile libpng refuses for
// the image (a gray profile on a colour image, a malformed header) is left
// out with a warning through options.warning.
//
// Decoders write decoded bands of rows straight into the image's planes,
// and encoders read them back band by band, so no full-size interleaved copy
// is ever made. The image size is checked against the pixel limit from the
// header alone, before any sample memory is allocated or any data
// decompressed. Every failure throws ToolError whose message starts with
// `name`.
#ifndef AXISWARP_TOOLS_PNG_CODEC_HPP
#define AXISWARP_TOOLS_PNG_CODEC_HPP

#include "imagefile/codec_options.hpp"
#include "image/image.hpp"
#include "imagefile/image_file.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikePng(std::span<const std::byte> bytes) noexcept;

// `metadata`, when given, receives the profile and EXIF block; its
// orientation is left for the caller to read from the EXIF.
Image decodePng(std::span<const std::byte> bytes, std::string_view name,
                const ImageReadOptions& options = {}, ImageMetadata* metadata = nullptr);
std::vector<std::byte> encodePng(const Image& image, std::string_view name,
                                 const ImageWriteOptions& options = {},
                                 const ImageMetadata* metadata = nullptr);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_PNG_CODEC_HPP
