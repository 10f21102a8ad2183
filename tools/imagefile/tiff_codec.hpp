// TIFF files through libtiff.
//
// Reading: 8-, 16- and 32-bit unsigned and signed integer samples and 32- and
// 64-bit float samples; gray, gray+alpha, RGB and RGBA (an extra sample
// beyond the colour ones is taken as alpha); contiguous or separate planes;
// strips or tiles; no compression, LZW, Deflate or PackBits. Every page
// becomes one Image; pages of differing size, channel count or sample type
// are refused, naming the page. Alpha stored premultiplied (associated) is
// divided out, as images hold straight alpha. Refused, naming what they are:
// other bit depths (1-bit, 12-bit, half floats), complex samples, palette,
// white-is-zero gray, CMYK, YCbCr and Lab colour, more than one extra
// sample, and other compressions (JPEG, CCITT, LZMA, Zstandard, WebP...).
// The ICC profile tag and the Orientation tag of the first page go to the
// metadata (the orientation is not applied here); its compression to
// ImageFile::compression (PackBits as none).
//
// Writing: every page with the same layout, little-endian on every machine
// (BigTIFF only beyond 4 GiB), contiguous, in strips of about 64 KiB, with
// the compression of the options, else of the file, else none, and the
// horizontal predictor for integer samples when compressed; an alpha
// channel as unassociated alpha; the metadata's ICC profile and orientation
// (when not 1) as tags; pages of a stack marked as pages with their
// numbers. EXIF is not written: a warning says so when the metadata has it.
//
// Hostile files are refused before anything large is allocated: the pixel
// limit is checked against every directory's extents, strip and tile
// offsets and byte counts against the file's size (and against what they
// decode to, uncompressed exactly, compressed by the most the compression
// can expand), the strips of all pages together against the file's size,
// and the page count against the file's size and the page limit. libtiff's
// own allocations are capped from the file's size, and its messages become
// part of the ToolError instead of going to stderr.
#ifndef AXISWARP_TOOLS_TIFF_CODEC_HPP
#define AXISWARP_TOOLS_TIFF_CODEC_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/byte_source.hpp"
#include "imagefile/image_file.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

bool looksLikeTiff(std::span<const std::byte> bytes) noexcept;

// Every page is checked when the reader opens, before any pixel is read.
// A file in memory is handed to libtiff as mapped; a file on disk is never
// mapped. Uncompressed strips of contiguous samples are read a row at a
// time; compressed ones are decoded row by row by libtiff, which holds one
// strip's compressed bytes (a file written as one compressed strip is held
// whole in that form). Tiles and strips of separate planes are decoded a
// block (a row of tiles, a strip of every plane) at a time.
std::unique_ptr<ImageReader> openTiffReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
// Strips are encoded as their rows arrive; pages follow one another.
std::unique_ptr<ImageWriter> openTiffWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options);

// Whole files through the reader and the writer.
// `name` starts every error message (ToolError, or LimitError for a limit).
ImageFile decodeTiff(std::span<const std::byte> bytes, std::string_view name,
                     const ImageReadOptions& options = {});
std::vector<std::byte> encodeTiff(const ImageFile& file, std::string_view name,
                                  const ImageWriteOptions& options = {});

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_TIFF_CODEC_HPP
