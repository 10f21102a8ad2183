// Orientation stored outside an EXIF block: in an XMP packet, and in the
// hex-dump text chunk some converters write into PNG files in place of an
// eXIf chunk.
//
// Both are read only when a file has no EXIF orientation of its own. Pure
// functions on bytes and text: nothing here applies an orientation.
#ifndef AXISWARP_TOOLS_XMP_ORIENTATION_HPP
#define AXISWARP_TOOLS_XMP_ORIENTATION_HPP

#include <cstddef>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

// The tiff:Orientation of an XMP packet, in either of the forms RDF allows
// for a simple property: an attribute of rdf:Description
// (tiff:Orientation="6") or an element (<tiff:Orientation>6</tiff:Orientation>).
// The value as written, which may be out of range (see validOrientation);
// nullopt when the packet has no such property or its value is not a
// decimal integer.
std::optional<int> xmpOrientation(std::span<const std::byte> packet);

// The bytes of the hex-dump text ("Raw profile type exif"): a blank line,
// the word "exif", the byte count in decimal, then that many bytes as pairs
// of hex digits split over lines. The EXIF block as ImageMetadata keeps it
// (an "Exif\0\0" before the byte-order mark is removed). nullopt when the
// text does not follow that layout, holds fewer digits than its count, or
// the decoded bytes do not start with a byte-order mark.
std::optional<std::vector<std::byte>> exifFromRawProfileText(std::string_view text);

// An orientation as the files' readers treat it: 1 to 8 as is, anything
// else (0, a negative or a value above 8, all seen in the wild) as 1.
int validOrientation(int orientation) noexcept;

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_XMP_ORIENTATION_HPP
