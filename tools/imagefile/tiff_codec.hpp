// TIFF files through libtiff.
//
// Reading: 8-, 16- and 32-bit unsigned and signed integer samples and 32- and
// 64-bit float samples; gray, gray+alpha, RGB and RGBA (an extra sample
// beyond the colour ones is taken as alpha); contiguous or separate planes;
// strips or tiles; no compression, LZW, Deflate, PackBits, JPEG or (for
// bilevel pages) CCITT RLE, G3 and G4. Read by conversion: JPEG-coded YCbCr
// as RGB (libjpeg converts); gray of 1, 2 and 4 bits as 8-bit gray (v * 255
// / (2^bits - 1), exact, as PNG's low depths) and 12-bit samples as 16-bit
// (round(v * 65535 / 4095)), both in strips of interleaved samples; white-
// is-zero gray inverted; palette indices of 1 to 16 bits as RGB, 8-bit when
// the colour map holds 8-bit colours (scaled by 256 or 257, or unscaled),
// else 16-bit. Every page becomes one Image; pages of differing size,
// channel count or sample type are refused, naming the page. Reduced-
// resolution pages (NewSubfileType bit 0) and SubIFDs are overviews: left
// out, with one warning through options.warning. Alpha stored premultiplied
// (associated) is divided out, as images hold straight alpha. Refused,
// naming what they are: other bit depths (half floats, 12-bit tiles),
// complex samples, CMYK, uncompressed YCbCr and Lab colour, more than one
// extra sample, and other compressions (old-style JPEG, LZMA, Zstandard,
// WebP...). The ICC profile tag and the Orientation tag of the first page
// go to the metadata (the orientation is not applied here); its
// compression to ImageFile::compression (PackBits as none, CCITT as
// Deflate).
//
// Writing: every page with the same layout, little-endian on every machine
// (BigTIFF only beyond 4 GiB), contiguous, in strips of about 64 KiB, with
// the compression of the options, else of the file, else none, and the
// horizontal predictor for integer samples when losslessly compressed; JPEG
// (colour as YCbCr with halved chroma, at ImageWriteOptions::jpegQuality)
// for 8-bit pages without alpha: asked for others, it is refused, and kept
// from the input for them, it becomes Deflate with a warning. An alpha
// channel as unassociated alpha; the metadata's ICC profile and orientation
// (when not 1) as tags; pages of a stack marked as pages with their
// numbers. EXIF is not written: a warning says so when the metadata has it.
//
// Hostile files are refused before anything large is allocated: the pixel
// limit is checked against every directory's extents, strip and tile
// offsets and byte counts against the file's size (and against what they
// decode to, uncompressed exactly, compressed by the most the compression
// can expand: a CCITT row takes at least a bit), the strips of all pages
// together against the file's size, and the page count against the file's
// size and the page limit. libtiff's own allocations are capped from the
// file's size, and its messages become part of the ToolError instead of
// going to stderr.
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
// time; compressed ones (and those read by conversion) are decoded row by
// row by libtiff, which holds one strip's compressed bytes (a file written as one compressed strip is held
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
