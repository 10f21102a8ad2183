// An image file as decoded: its pages and the metadata carried to the output.
//
// PNG and JPEG files hold one page; a TIFF file holds one or more, all of one
// size, channel count and sample type (a stack). The metadata is kept as
// bytes, as stored, so that writing it back changes nothing in it.
#ifndef AXISWARP_TOOLS_IMAGE_FILE_HPP
#define AXISWARP_TOOLS_IMAGE_FILE_HPP

#include "image/image.hpp"

#include <cstddef>
#include <optional>
#include <vector>

namespace axiswarp::tools {

enum class ImageFormat { png, jpeg, tiff, webp, heif, avif };

// How TIFF pages are compressed. JPEG is lossy, at
// ImageWriteOptions::jpegQuality, and holds 8-bit pages without alpha.
enum class TiffCompression { none, lzw, deflate, jpeg };

// What the channels of a page hold. By default they say it by their count:
// gray, gray+alpha, RGB, RGBA. CMYK pages have four channels of ink, none of
// them alpha; Adobe's JPEG writers store them inverted (0 is full ink), and
// such samples are kept as stored, the convention with them.
enum class ColourModel { byChannels, cmyk, cmykInverted };

inline bool isCmyk(ColourModel colour) noexcept { return colour != ColourModel::byChannels; }

struct ImageMetadata {
    // An ICC colour profile, byte for byte as stored; empty when none.
    std::vector<std::byte> iccProfile;
    // The EXIF block as a TIFF-structured byte string, starting with its
    // byte-order mark ("II*\0" or "MM\0*"): the payload of a JPEG APP1 Exif
    // segment after its "Exif\0\0" and of a PNG eXIf chunk. Empty when none.
    std::vector<std::byte> exif;
    // The orientation as stored (EXIF tag 0x0112 or the TIFF Orientation
    // tag), 1 to 8; 1 means upright, and it is 1 once applied.
    int orientation = 1;
    ColourModel colour = ColourModel::byChannels;

    bool empty() const noexcept { return iccProfile.empty() && exif.empty() && orientation == 1; }
};

struct ImageFile {
    std::vector<Image> pages;  // at least one once decoded
    ImageMetadata metadata;
    // For a TIFF file, the compression of its first page; the output keeps
    // it unless told otherwise.
    std::optional<TiffCompression> compression;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_FILE_HPP
