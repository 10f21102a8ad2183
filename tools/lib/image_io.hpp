// PNG and JPEG files as images in the host layout.
//
// PNG and JPEG files to and from Image (image.hpp). Decoders write decoded
// bands of rows straight into the image's planes, and encoders read them
// back band by band, so no full-size interleaved copy is ever made.
//
// The codec follows the file extension (.png, .jpg, .jpeg; any case).
//
// PNG reading keeps 8- and 16-bit samples as they are. Palette images become
// RGB, gray images of 1, 2 or 4 bits are scaled up to 8 bits, and a tRNS
// transparency chunk becomes an alpha channel. No gamma or colour-profile
// transform is applied; ancillary chunks are not carried over.
// PNG writing chooses the colour type from C and the depth from the sample type.
//
// JPEG reading gives gray (C = 1) or RGB (C = 3) at 8 bits; CMYK and YCCK
// files are refused. Data corruption that the decoder would paper over (a
// truncated file, bad entropy codes, a broken scan) is an error, not a warning.
// Samples are returned as stored: an EXIF orientation tag is not applied, and
// colour profiles and other markers are not carried over.
// JPEG writing stores 8-bit gray or RGB; a 16-bit image is reduced to 8 bits
// by rounding v/257 to nearest, and an alpha channel is dropped (not composited
// onto a background), each reported once through the warning hook.
//
// Every failure throws ToolError whose message starts with the file name.
// Decoders check the image size against a pixel limit from the header alone,
// before any sample memory is allocated or any data decompressed.
#ifndef AXISWARP_TOOLS_IMAGE_IO_HPP
#define AXISWARP_TOOLS_IMAGE_IO_HPP

#include "codec_options.hpp"
#include "image.hpp"
#include "image_file.hpp"
#include "tool_error.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

// From the extension; throws ToolError naming the file for any other.
ImageFormat imageFormatFor(const std::filesystem::path& path);

Image readImage(const std::filesystem::path& path, const ImageReadOptions& options = {});
// Writes through a temporary file and a rename; the target appears whole or
// not at all.
void writeImage(const std::filesystem::path& path, const Image& image,
                const ImageWriteOptions& options = {});

// The codecs on memory; `name` starts every error message.
Image decodePng(std::span<const std::byte> bytes, std::string_view name,
                const ImageReadOptions& options = {});
Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name,
                 const ImageReadOptions& options = {});
std::vector<std::byte> encodePng(const Image& image, std::string_view name,
                                 const ImageWriteOptions& options = {});
std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name,
                                  const ImageWriteOptions& options = {});

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_IO_HPP
