// Image files: which codec a file goes through, and reading and writing
// whole files.
//
// The format of an input is told by its content (the first bytes), so a file
// named for another format is still read right; the format of an output
// follows its extension (.png, .jpg, .jpeg, .tif, .tiff; any case). Formats a
// user may try that the tool does not read or write are refused with a
// message listing the supported ones.
//
// Each codec has its own file: png_codec, jpeg_codec, tiff_codec.
#ifndef AXISWARP_TOOLS_IMAGE_IO_HPP
#define AXISWARP_TOOLS_IMAGE_IO_HPP

#include "imagefile/codec_options.hpp"
#include "image/image.hpp"
#include "imagefile/image_file.hpp"
#include "imagefile/jpeg_codec.hpp"
#include "imagefile/png_codec.hpp"
#include "imagefile/tiff_codec.hpp"
#include "runtime/tool_error.hpp"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

// From the extension; throws ToolError naming the file for any other.
ImageFormat imageFormatFor(const std::filesystem::path& path);
// From the first bytes; nullopt when they are none of the formats read.
std::optional<ImageFormat> sniffImageFormat(std::span<const std::byte> bytes) noexcept;

// Throws ToolError naming the output when `format` cannot hold pages of this
// sample type, or this many pages: PNG and JPEG hold one page of 8- or
// 16-bit unsigned samples (JPEG reduces 16 bits to 8), TIFF any.
void checkEncodable(ImageFormat format, SampleType type, std::size_t pages, std::string_view name);

// "none", "lzw", "deflate"; ToolError for any other.
TiffCompression parseTiffCompression(std::string_view text);

// The file in memory, through the codec its content calls for.
ImageFile decodeImageFile(std::span<const std::byte> bytes, std::string_view name,
                          const ImageReadOptions& options = {});
std::vector<std::byte> encodeImageFile(const ImageFile& file, ImageFormat format,
                                       std::string_view name, const ImageWriteOptions& options = {});

ImageFile readImageFile(const std::filesystem::path& path, const ImageReadOptions& options = {});
// Writes through an AtomicFile; the target appears whole or not at all.
void writeImageFile(const std::filesystem::path& path, const ImageFile& file,
                    const ImageWriteOptions& options = {});

// One image: the file's only page (a stack is refused), and a file of one
// page without metadata.
Image readImage(const std::filesystem::path& path, const ImageReadOptions& options = {});
void writeImage(const std::filesystem::path& path, const Image& image,
                const ImageWriteOptions& options = {});

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_IO_HPP
