// The image formats the tool reads and writes, one entry each.
//
// An entry says how a format is named and recognised (its extensions and
// the first bytes of its files), opens a reader for an input and a writer
// for an output, and says what the format can store. Everything that asks
// "which format" or "can this format hold that" goes through here; adding a
// format is one codec file and one entry in format_registry.cpp.
//
// The format of an input is told by its content, so a file named for
// another format is still read right; the format of an output follows its
// extension (any case).
#ifndef AXISWARP_TOOLS_FORMAT_REGISTRY_HPP
#define AXISWARP_TOOLS_FORMAT_REGISTRY_HPP

#include "image/image.hpp"
#include "imagefile/byte_source.hpp"
#include "imagefile/codec_options.hpp"
#include "imagefile/image_file.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace axiswarp::tools {

struct ImageFormatEntry {
    ImageFormat format;
    std::string_view name;                           // "PNG"
    std::span<const std::string_view> extensions;  // ".png", lower case, the usual one first
    // True when the first bytes of a file are this format's. Given at least
    // kSniffBytes bytes, or the whole file when it is shorter.
    bool (*sniff)(std::span<const std::byte> head) noexcept;
    std::unique_ptr<ImageReader> (*openReader)(std::unique_ptr<ByteSource> source,
                                               const ImageReadOptions& options);
    std::unique_ptr<ImageWriter> (*openWriter)(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                               const ImageWriteOptions& options);
    // Whether this machine's library can write the format (HEIF and AVIF
    // encoders are optional parts of libheif); null when it always can.
    bool (*canEncode)() noexcept;
    // What it stores. Sample types beyond these are refused for output;
    // `reducedTypes` are written with fewer bits (a warning says so).
    std::span<const SampleType> sampleTypes;
    std::span<const SampleType> reducedTypes;
    std::uint32_t maxPages;
    bool alpha;              // false: an alpha channel is dropped with a warning
    bool iccProfile;
    bool exif;
    bool orientationInExif;  // else a tag of its own (TIFF)
    // Whether it stores CMYK pages; others get them converted to sRGB
    // through their profile (cmyk_conversion.hpp), or refuse them.
    bool cmyk;
};

// Bytes a sniff function may look at.
// 64: a HEIF file's type box lists the brands that tell HEIC from AVIF.
inline constexpr std::size_t kSniffBytes = 64;

std::span<const ImageFormatEntry> imageFormats() noexcept;
const ImageFormatEntry& formatEntry(ImageFormat format);

// From the first bytes; nullopt when they are none of the formats read.
std::optional<ImageFormat> sniffImageFormat(std::span<const std::byte> bytes) noexcept;
// " (its content is PNG)" and the like when the bytes start like a format
// the tool reads, else empty: the end of a "not a ... file" message.
std::string contentHint(std::span<const std::byte> bytes);

// The format of an output, from its extension; throws ToolError naming the
// file for any other, and for a format this machine cannot encode.
ImageFormat imageFormatFor(const std::filesystem::path& path);

// Throws ToolError naming the output when `format` cannot hold pages of this
// sample type, or this many pages, or this machine has no encoder for it.
void checkEncodable(ImageFormat format, SampleType type, std::size_t pages, std::string_view name);

// A reader for the input, through the codec its content calls for; unknown
// content is refused, naming formats people try that the tool lacks. Its
// info() holds the stored orientation, from the EXIF block for formats that
// keep it there, not applied.
std::unique_ptr<ImageReader> openImageReader(const ImageInput& input, const ImageReadOptions& options);

// A writer of `out` in `format`. For formats that keep the orientation in
// the EXIF block, a block that says otherwise than out.metadata.orientation
// (or none) is made to agree. CMYK pages for a format without CMYK are
// converted to sRGB through their profile, or refused without one.
std::unique_ptr<ImageWriter> openImageWriter(ImageFormat format, ByteOutput& output, const StreamInfo& out,
                                             std::string_view name, const ImageWriteOptions& options);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_FORMAT_REGISTRY_HPP
