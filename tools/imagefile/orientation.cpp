#include "imagefile/orientation.hpp"

#include "imagefile/exif_orientation.hpp"
#include "runtime/tool_error.hpp"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

namespace axiswarp::tools {

namespace {

// Out and in are planes of one channel, column-major.
//
// Orientations 1 to 4 keep columns as columns: each output column is an
// input column, copied in order or reversed.
template <class T>
void keepAxes(const T* in, T* out, std::uint32_t height, std::uint32_t width, bool flipRows,
              bool flipCols) {
    for (std::uint32_t j = 0; j < width; ++j) {
        const T* src = in + std::size_t{flipCols ? width - 1 - j : j} * height;
        T* dst = out + std::size_t{j} * height;
        if (flipRows)
            std::reverse_copy(src, src + height, dst);
        else
            std::copy(src, src + height, dst);
    }
}

// Orientations 5 to 8 make input rows output columns. Output (i, j), in an
// image of `width` rows and `height` columns, is input row j (or height-1-j)
// of column i (or width-1-i). Done in square tiles, so that both the strided
// reads and the contiguous writes stay in cache: a plain double loop would
// touch a new cache line for every sample on one side.
template <class T>
void swapAxes(const T* in, T* out, std::uint32_t height, std::uint32_t width, bool flipRows,
              bool flipCols) {
    constexpr std::uint32_t kTile = 64;
    const std::size_t inStride = height;   // input: height rows
    const std::size_t outStride = width;   // output: width rows
    for (std::uint32_t j0 = 0; j0 < height; j0 += kTile) {
        const std::uint32_t j1 = std::min(height, j0 + kTile);
        for (std::uint32_t i0 = 0; i0 < width; i0 += kTile) {
            const std::uint32_t i1 = std::min(width, i0 + kTile);
            for (std::uint32_t j = j0; j < j1; ++j) {
                const std::size_t row = flipRows ? height - 1 - j : j;
                T* dst = out + std::size_t{j} * outStride;
                for (std::uint32_t i = i0; i < i1; ++i) {
                    const std::size_t col = flipCols ? width - 1 - i : i;
                    dst[i] = in[row + col * inStride];
                }
            }
        }
    }
}

}  // namespace

Image orientUpright(const Image& image, int orientation) {
    if (orientation < 1 || orientation > 8)
        throw ToolError("orientation " + std::to_string(orientation) + " is not one of 1 to 8");
    if (orientation == 1) return image.clone();
    // Which of the stored axes are read backwards, per value (see the table
    // in the header): the stored row 0 lands at the bottom or right, the
    // stored column 0 at the right or bottom.
    const bool swap = orientation >= 5;
    static constexpr bool kFlipRows[9] = {false, false, false, true, true, false, true, true, false};
    static constexpr bool kFlipCols[9] = {false, false, true, true, false, false, false, true, true};
    const bool flipRows = kFlipRows[orientation];
    const bool flipCols = kFlipCols[orientation];
    const std::uint32_t outWidth = swap ? image.height : image.width;
    const std::uint32_t outHeight = swap ? image.width : image.height;
    Image upright = Image::allocate(outWidth, outHeight, image.channels, image.sampleType());
    const std::size_t plane = std::size_t{image.width} * image.height;
    image.visitSamples([&](auto in) {
        using T = typename decltype(in)::value_type;
        T* out = upright.samples<T>().data();
        for (std::uint32_t c = 0; c < image.channels; ++c) {
            if (swap)
                swapAxes(in.data() + c * plane, out + c * plane, image.height, image.width, flipRows,
                         flipCols);
            else
                keepAxes(in.data() + c * plane, out + c * plane, image.height, image.width, flipRows,
                         flipCols);
        }
    });
    return upright;
}

void applyOrientation(ImageFile& file) {
    const int orientation = file.metadata.orientation;
    if (orientation == 1) return;
    for (Image& page : file.pages) page = orientUpright(page, orientation);
    file.metadata.orientation = 1;
    if (!file.metadata.exif.empty()) file.metadata.exif = exifWithOrientation(file.metadata.exif, 1);
}

}  // namespace axiswarp::tools
