// The whole encoded file of an input, for the codecs whose libraries decode
// a page in one call from memory (WebP, HEIF/AVIF). Such files are small
// next to their decoded pixels, so holding them costs little.
#ifndef AXISWARP_TOOLS_INPUT_BYTES_HPP
#define AXISWARP_TOOLS_INPUT_BYTES_HPP

#include "imagefile/byte_source.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace axiswarp::tools {

// The source's bytes: its memory when it is held there (nothing is copied
// and `storage` stays empty), else the whole file read into `storage`. The
// file's size was checked against the limit when the source was opened.
// Throws ToolError naming the input when the file cannot be read whole.
std::span<const std::byte> inputBytes(ByteSource& source, std::vector<std::byte>& storage);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_INPUT_BYTES_HPP
