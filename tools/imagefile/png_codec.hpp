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
// The reader pulls the file through libpng's read callback, a row at a
// time (an interlaced file, whose passes each cover the whole image, is read
// whole on the first call). The image size is checked against the pixel
// limit, and the file's size against what its header announces, before any
// data is decompressed. Every failure throws ToolError whose message starts
// with the input's name, naming the row for damaged image data.
#ifndef AXISWARP_TOOLS_PNG_CODEC_HPP
#define AXISWARP_TOOLS_PNG_CODEC_HPP

#include "imagefile/codec_options.hpp"
#include "image/image.hpp"
#include "imagefile/byte_source.hpp"
#include "imagefile/image_file.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikePng(std::span<const std::byte> bytes) noexcept;

// An EXIF block after the image data is looked up before the first row, so
// the metadata of info() is whole from the start. A file without an eXIf
// chunk takes the EXIF block of a "Raw profile type exif" text chunk. The
// orientation is left for the registry to read from the EXIF, unless the
// EXIF has no orientation tag: then an XMP packet's (iTXt
// "XML:com.adobe.xmp") is taken, an invalid value as 1. An iCCP or eXIf
// chunk libpng refuses (an unknown compression method) is dropped with a
// warning through options.warning.
std::unique_ptr<ImageReader> openPngReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
// 8- or 16-bit samples, 1 to 4 channels, one page.
std::unique_ptr<ImageWriter> openPngWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                           const ImageWriteOptions& options);

// Whole images through the reader and the writer.
// `metadata`, when given, receives the profile and EXIF block; its
// orientation is left for the caller to read from the EXIF.
Image decodePng(std::span<const std::byte> bytes, std::string_view name,
                const ImageReadOptions& options = {}, ImageMetadata* metadata = nullptr);
std::vector<std::byte> encodePng(const Image& image, std::string_view name,
                                 const ImageWriteOptions& options = {},
                                 const ImageMetadata* metadata = nullptr);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_PNG_CODEC_HPP
