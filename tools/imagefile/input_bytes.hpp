// The whole encoded file of an ImageInput, for the codecs whose libraries
// decode a page in one call from memory (WebP, HEIF/AVIF). Such files are
// small next to their decoded pixels, so holding them costs little.
#ifndef AXISWARP_TOOLS_INPUT_BYTES_HPP
#define AXISWARP_TOOLS_INPUT_BYTES_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <span>
#include <vector>

namespace axiswarp::tools {

// The input's bytes: `input.bytes` when given (nothing is copied and
// `storage` stays empty), else the file at `input.path` read into `storage`.
// A file larger than options.maxFileBytes is refused (LimitError) before it
// is read, as are folders, devices and FIFOs.
std::span<const std::byte> inputBytes(const ImageInput& input, const ImageReadOptions& options,
                                      std::vector<std::byte>& storage);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_INPUT_BYTES_HPP
