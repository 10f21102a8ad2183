// TIFF files through libtiff.
//
// Reading: 8-, 16- and 32-bit unsigned and signed integer samples and 32- and
// 64-bit float samples; gray, gray+alpha, RGB and RGBA (an extra sample
// beyond the colour ones is taken as alpha); contiguous or separate planes;
// strips or tiles; no compression, LZW or Deflate (whatever libtiff decodes).
// Every page becomes one Image; pages of differing size, channel count or
// sample type are refused, naming the page. The ICC profile tag and the
// Orientation tag go to the metadata; the compression of the first page to
// ImageFile::compression.
//
// Writing: every page with the same layout, contiguous, in strips, with the
// compression of the options, else of the file, else none; the metadata's
// ICC profile and orientation as tags.
//
// Hostile files are refused before anything large is allocated: the pixel
// limit is checked against every directory's extents, strip and tile
// offsets and byte counts against the file's size, and the page count
// against the file's size and the page limit.
#ifndef AXISWARP_TOOLS_TIFF_CODEC_HPP
#define AXISWARP_TOOLS_TIFF_CODEC_HPP

#include "codec_options.hpp"
#include "image_file.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikeTiff(std::span<const std::byte> bytes) noexcept;

// `name` starts every error message (ToolError, or LimitError for a limit).
ImageFile decodeTiff(std::span<const std::byte> bytes, std::string_view name,
                     const ImageReadOptions& options = {});
std::vector<std::byte> encodeTiff(const ImageFile& file, std::string_view name,
                                  const ImageWriteOptions& options = {});

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_TIFF_CODEC_HPP
