// CMYK pages written to formats that hold RGB alone (PNG, WebP, HEIF/AVIF):
// converted through the file's own ICC profile to sRGB with lcms2.
//
// CMYK samples mean nothing without the profile of the press they were
// separated for, so a CMYK image without a CMYK profile is refused rather
// than guessed at. The conversion is perceptual, row by row as the rows
// come, at the page's bit depth (8 or 16); the output carries lcms2's sRGB
// profile in place of the CMYK one.
#ifndef AXISWARP_TOOLS_CMYK_CONVERSION_HPP
#define AXISWARP_TOOLS_CMYK_CONVERSION_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <memory>
#include <string_view>

namespace axiswarp::tools {

// What `out` (CMYK) becomes: 3 channels, the sRGB profile, no CMYK model.
// Throws ToolError naming the output when the image has no CMYK profile to
// convert by, or its samples are not 8- or 16-bit, saying which formats
// keep CMYK.
StreamInfo srgbInfoOfCmyk(const StreamInfo& out, std::string_view name, std::string_view format);

// A writer that converts each CMYK row to sRGB and hands it to `rgb`, which
// was opened with srgbInfoOfCmyk(out, ...).
std::unique_ptr<ImageWriter> cmykToSrgbWriter(std::unique_ptr<ImageWriter> rgb, const StreamInfo& out,
                                              std::string_view name);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_CMYK_CONVERSION_HPP
