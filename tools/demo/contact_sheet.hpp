// A labelled contact sheet: images laid out in rows on one 8-bit RGB page,
// each row under a heading and each image above its label, in the built-in
// bitmap font.
#ifndef AXISWARP_TOOLS_CONTACT_SHEET_HPP
#define AXISWARP_TOOLS_CONTACT_SHEET_HPP

#include "imagefile/image_io.hpp"
#include "demo/test_chart.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

// The part of an image inside `region`; throws ToolError when the region is
// empty or reaches outside the image.
Image cropImage(const Image& image, const ImageRegion& region);

// Every pixel repeated factor-by-factor times, so that single pixels stay
// visible on the sheet.
Image magnifyNearest(const Image& image, std::uint32_t factor);

// 8-bit RGB: gray is repeated in the three channels, 16-bit samples become
// round(v / 257), and alpha is composited over a light checkerboard so that
// transparency stays visible.
Image toRgb8(const Image& image);

struct SheetCell {
    Image image;
    std::string label;
};

struct SheetRow {
    std::string heading;
    std::vector<SheetCell> cells;
};

Image makeContactSheet(std::string_view title, const std::vector<SheetRow>& rows);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_CONTACT_SHEET_HPP
