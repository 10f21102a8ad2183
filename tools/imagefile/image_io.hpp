// Image files read and written whole, as planar images, through the band
// readers and writers of the format registry (format_registry.hpp): a file
// is read from disk as the codec needs it, never copied whole into memory.
//
// Each codec has its own file: png_codec, jpeg_codec, tiff_codec.
#ifndef AXISWARP_TOOLS_IMAGE_IO_HPP
#define AXISWARP_TOOLS_IMAGE_IO_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/format_registry.hpp"
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
