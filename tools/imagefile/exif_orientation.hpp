// The orientation tag (0x0112 in IFD0) of an EXIF block, read and changed
// through libexif.
//
// A block is as ImageMetadata keeps it: TIFF-structured, starting with its
// byte-order mark, without the "Exif\0\0" that JPEG puts before it. A block
// libexif cannot read, or one whose tag is missing or out of range, counts as
// upright: a broken EXIF never fails an image.
#ifndef AXISWARP_TOOLS_EXIF_ORIENTATION_HPP
#define AXISWARP_TOOLS_EXIF_ORIENTATION_HPP

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace axiswarp::tools {

// 1 to 8; 1 when the block is empty, unreadable or has no valid tag.
int exifOrientation(std::span<const std::byte> exif);

// The tag's value as stored, which may be out of range (0 is seen in the
// wild); nullopt when the block has no usable tag. Tells "no orientation
// here" (look elsewhere) from "an invalid one" (upright, and rewritten as 1).
std::optional<int> exifOrientationTag(std::span<const std::byte> exif);

// The block with its orientation set to `orientation` (1 to 8).
//
// When the block already has the tag, only the tag's two value bytes change
// and every other byte stays as it was: re-serialising through libexif could
// move or rewrite parts it does not understand (maker notes), which the
// camera's own software reads at fixed offsets. Only a block that has no tag
// yet is rebuilt by libexif with the tag added; an empty block becomes a
// minimal one holding just the tag, unless `orientation` is 1 (nothing to
// say). A block libexif cannot read at all is returned unchanged.
std::vector<std::byte> exifWithOrientation(std::span<const std::byte> exif, int orientation);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_EXIF_ORIENTATION_HPP
