// A tiny built-in 5x7 bitmap font for labelling generated images.
//
// Glyphs cover A-Z (lower case letters are drawn as capitals), 0-9, space and
// . , : ; / - + ( ) = % _ ? ! ' * # < > [ ]; any other character is drawn as
// '?'. Every glyph advances 6 columns (5 plus one blank) at scale 1.
#ifndef AXISWARP_TOOLS_BITMAP_FONT_HPP
#define AXISWARP_TOOLS_BITMAP_FONT_HPP

#include "imagefile/image_io.hpp"

#include <array>
#include <cstdint>
#include <string_view>

namespace axiswarp::tools {

inline constexpr std::uint32_t kGlyphWidth = 5;
inline constexpr std::uint32_t kGlyphHeight = 7;
inline constexpr std::uint32_t kGlyphAdvance = 6;

// Row r (0 = top) of a glyph; bit 4 is the leftmost column.
std::array<std::uint8_t, kGlyphHeight> glyphRows(char c) noexcept;

// Width and height in pixels of a line of text drawn at `scale`.
std::uint32_t textWidth(std::string_view text, std::uint32_t scale) noexcept;
inline std::uint32_t textHeight(std::uint32_t scale) noexcept { return kGlyphHeight * scale; }

// Draws one line with its top-left corner at (row, col), each font pixel a
// scale-by-scale square of `colour` (one value per channel, in the image's
// sample range). Pixels falling outside the image are clipped.
void drawText(Image& image, std::int64_t row, std::int64_t col, std::string_view text,
              std::uint32_t scale, const std::array<std::uint32_t, 4>& colour);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_BITMAP_FONT_HPP
