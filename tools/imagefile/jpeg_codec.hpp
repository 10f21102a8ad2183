// JPEG files through libjpeg.
//
// Reading gives gray (C = 1) or RGB (C = 3) at 8 bits; CMYK and YCCK files
// are refused. Damage the decoder steps over (stray bytes before a marker,
// bad entropy codes in a scan) is read past with a warning through
// options.warning (the first, then how many more), or refused when
// options.strict; data that ends before the image does is always an error.
// Writing stores 8-bit gray or RGB; a 16-bit image is reduced to 8 bits by
// rounding v/257 to nearest, and an alpha channel is dropped (not composited
// onto a background), each reported once through the warning hook.
//
// Metadata: the ICC profile of the APP2 "ICC_PROFILE" segments, joined in
// their sequence order, and the EXIF block of the first APP1 "Exif" segment
// (without its "Exif\0\0"). Written back as one APP1 segment right after
// the start of the file, in place of the JFIF segment as EXIF readers expect,
// and as many APP2 segments as the profile needs. APP2 profile segments
// that do not join (missing or repeated sequence numbers) and EXIF segments
// beyond the first are left out with a warning when read. An EXIF block beyond one
// segment's 65527 bytes, or a profile beyond 255 segments, is left out with
// a warning.
//
// The reader pulls the file through a libjpeg source over a ByteSource, 64
// KiB at a time, and decodes rows as they are asked for (a progressive
// file's scans are all read when it is opened). Every failure throws
// ToolError whose message starts with the input's name, naming the row for
// damaged image data.
#ifndef AXISWARP_TOOLS_JPEG_CODEC_HPP
#define AXISWARP_TOOLS_JPEG_CODEC_HPP

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

bool looksLikeJpeg(std::span<const std::byte> bytes) noexcept;

// The metadata of info() is read with the header; its orientation stays 1
// (the registry reads it from the EXIF).
std::unique_ptr<ImageReader> openJpegReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
// 8- or 16-bit samples (16 reduced to 8), 1 to 4 channels (alpha dropped),
// each conversion reported once through options.warning; one page.
std::unique_ptr<ImageWriter> openJpegWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options);

// Whole images through the reader and the writer.
// `metadata`, when given, receives the profile and EXIF block; its
// orientation is left for the caller to read from the EXIF.
Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name,
                 const ImageReadOptions& options = {}, ImageMetadata* metadata = nullptr);
std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name,
                                  const ImageWriteOptions& options = {},
                                  const ImageMetadata* metadata = nullptr);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_JPEG_CODEC_HPP
