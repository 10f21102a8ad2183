#include "demo/contact_sheet.hpp"

#include "demo/bitmap_font.hpp"
#include "runtime/tool_error.hpp"

#include <algorithm>
#include <array>

namespace axiswarp::tools {

namespace {

constexpr std::uint32_t kMargin = 16;
constexpr std::uint32_t kGap = 16;
constexpr std::uint32_t kTitleScale = 3;
constexpr std::uint32_t kTextScale = 2;
constexpr std::uint32_t kTextGap = 6;  // between text and what it names
constexpr std::array<std::uint32_t, 4> kInk{20, 20, 20, 0};
constexpr std::array<std::uint32_t, 4> kHeadingInk{30, 60, 140, 0};
constexpr std::uint32_t kPaper = 255;
constexpr std::uint32_t kFrame = 160;

void fill(Image& image, std::uint32_t row, std::uint32_t col, std::uint32_t height,
          std::uint32_t width, std::uint32_t value) {
    auto s = image.samples8();
    for (std::uint32_t k = 0; k < image.channels; ++k)
        for (std::uint32_t j = col; j < col + width; ++j)
            for (std::uint32_t i = row; i < row + height; ++i)
                s[image.offset(i, j, k)] = static_cast<std::uint8_t>(value);
}

void paste(Image& sheet, const Image& rgb, std::uint32_t row, std::uint32_t col) {
    auto target = sheet.samples8();
    const auto source = rgb.samples8();
    for (std::uint32_t k = 0; k < 3; ++k)
        for (std::uint32_t j = 0; j < rgb.width; ++j)
            for (std::uint32_t i = 0; i < rgb.height; ++i)
                target[sheet.offset(row + i, col + j, k)] = source[rgb.offset(i, j, k)];
}

std::uint32_t cellWidth(const SheetCell& cell) {
    return std::max(cell.image.width, textWidth(cell.label, kTextScale));
}

std::uint32_t rowImageHeight(const SheetRow& row) {
    std::uint32_t height = 0;
    for (const SheetCell& cell : row.cells) height = std::max(height, cell.image.height);
    return height;
}

}  // namespace

Image cropImage(const Image& image, const ImageRegion& region) {
    if (region.width == 0 || region.height == 0 ||
        std::uint64_t{region.row} + region.height > image.height ||
        std::uint64_t{region.col} + region.width > image.width)
        throw ToolError("the crop region lies outside the image");
    Image out = Image::blank(region.width, region.height, image.channels, image.bitDepth());
    out.visitSamples(
        [&](auto target) {
            using T = typename decltype(target)::value_type;
            const T* source = static_cast<const T*>(image.hostArray().realData);
            for (std::uint32_t k = 0; k < image.channels; ++k)
                for (std::uint32_t j = 0; j < region.width; ++j)
                    for (std::uint32_t i = 0; i < region.height; ++i)
                        target[out.offset(i, j, k)] =
                            source[image.offset(region.row + i, region.col + j, k)];
        });
    return out;
}

Image magnifyNearest(const Image& image, std::uint32_t factor) {
    if (factor == 0 || std::uint64_t{image.width} * factor > 65535 ||
        std::uint64_t{image.height} * factor > 65535)
        throw ToolError("the magnified image would be too large");
    Image out = Image::blank(image.width * factor, image.height * factor, image.channels,
                             image.bitDepth());
    out.visitSamples(
        [&](auto target) {
            using T = typename decltype(target)::value_type;
            const T* source = static_cast<const T*>(image.hostArray().realData);
            for (std::uint32_t k = 0; k < out.channels; ++k)
                for (std::uint32_t j = 0; j < out.width; ++j)
                    for (std::uint32_t i = 0; i < out.height; ++i)
                        target[out.offset(i, j, k)] = source[image.offset(i / factor, j / factor, k)];
        });
    return out;
}

Image toRgb8(const Image& image) {
    Image out = Image::blank(image.width, image.height, 3, 8);
    auto target = out.samples8();
    const bool alpha = image.channels == 2 || image.channels == 4;
    const std::uint32_t colours = alpha ? image.channels - 1 : image.channels;
    const double top = image.bitDepth() == 8 ? 255.0 : 65535.0;
    for (std::uint32_t j = 0; j < image.width; ++j) {
        for (std::uint32_t i = 0; i < image.height; ++i) {
            const double a = alpha ? image.at(i, j, image.channels - 1) / top : 1.0;
            const double backdrop = ((i / 8 + j / 8) % 2 == 0) ? 1.0 : 0.8;
            for (std::uint32_t k = 0; k < 3; ++k) {
                const double c = image.at(i, j, colours == 1 ? 0 : k) / top;
                const double v = a * c + (1.0 - a) * backdrop;
                target[out.offset(i, j, k)] = static_cast<std::uint8_t>(255.0 * v + 0.5);
            }
        }
    }
    return out;
}

Image makeContactSheet(std::string_view title, const std::vector<SheetRow>& rows) {
    const std::uint32_t textLine = textHeight(kTextScale);
    std::uint32_t width = textWidth(title, kTitleScale);
    std::uint32_t height = textHeight(kTitleScale);
    for (const SheetRow& row : rows) {
        std::uint32_t rowWidth = textWidth(row.heading, kTextScale);
        std::uint32_t cells = 0;
        for (const SheetCell& cell : row.cells) cells += cellWidth(cell) + (cells == 0 ? 0 : kGap);
        rowWidth = std::max(rowWidth, cells + 2);  // frames
        width = std::max(width, rowWidth);
        height += kGap + textLine + kTextGap + rowImageHeight(row) + 2 + kTextGap + textLine;
    }
    width += 2 * kMargin;
    height += 2 * kMargin;

    Image sheet = Image::blank(width, height, 3, 8);
    fill(sheet, 0, 0, height, width, kPaper);
    std::uint32_t y = kMargin;
    drawText(sheet, y, kMargin, title, kTitleScale, kInk);
    y += textHeight(kTitleScale);
    for (const SheetRow& row : rows) {
        y += kGap;
        drawText(sheet, y, kMargin, row.heading, kTextScale, kHeadingInk);
        y += textLine + kTextGap;
        std::uint32_t x = kMargin;
        for (const SheetCell& cell : row.cells) {
            const Image rgb = cell.image.channels == 3 && cell.image.bitDepth() == 8 ? cell.image.clone()
                                                                                    : toRgb8(cell.image);
            fill(sheet, y, x, rgb.height + 2, rgb.width + 2, kFrame);
            paste(sheet, rgb, y + 1, x + 1);
            drawText(sheet, y + rgb.height + 2 + kTextGap, x, cell.label, kTextScale, kInk);
            x += cellWidth(cell) + kGap;
        }
        y += rowImageHeight(row) + 2 + kTextGap + textLine;
    }
    return sheet;
}

}  // namespace axiswarp::tools
