// Reordering between the codecs' interleaved rows and the image's planes.
//
// A codec stores a row as pixels, each pixel its C samples in turn; the image
// stores each channel as a column-major plane (see image.hpp). Going one way
// or the other element by element strides through memory a whole column
// (M samples) at every step, which touches a new cache line and, for large
// images, a new page for every sample. The codecs therefore work in bands of
// rows, and the bands are reordered in tiles of kTileColumns columns: for each
// column of a tile and each channel, the band's rows form one contiguous run
// of the plane, read or written at once, while the tile's part of the band
// stays in the first-level cache.
#ifndef AXISWARP_TOOLS_PLANAR_LAYOUT_HPP
#define AXISWARP_TOOLS_PLANAR_LAYOUT_HPP

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace axiswarp::tools {

// Rows per band the codecs decode or encode at a time: a multiple of the
// cache line in samples, so that a band fills whole lines of each plane.
// Each column of a plane lies on a page of its own once the image is taller
// than about 4 KiB of samples, so a band writes (or reads) its rows to every
// column's page in turn: with 4 KiB pages, the address translations of those
// pages, not the copying, set the cost. 256 rows make each visit to a page
// four times as long as 64 did, and took a fifth off the user time of
// shrinking a 6000x5232 JPEG (docs/performance.md); a band of an RGB row of
// 6000 pixels is then 4.6 MB.
inline constexpr std::uint32_t kBandRows = 256;
inline constexpr std::uint32_t kTileColumns = 16;

struct PlaneGeometry {
    std::uint32_t width = 0;     // N
    std::uint32_t height = 0;    // M
    std::uint32_t channels = 0;  // C
    std::size_t planeSize() const noexcept { return std::size_t{width} * height; }
};

// Rows first .. first+count-1 of the image from `band`, whose row r starts at
// band + r*rowStride (in samples) and holds width pixels of C samples.
template <class T>
void bandToPlanes(const T* band, std::size_t rowStride, std::uint32_t first, std::uint32_t count,
                  const PlaneGeometry& g, T* planes) {
    const std::uint32_t c = g.channels;
    for (std::uint32_t x0 = 0; x0 < g.width; x0 += kTileColumns) {
        const std::uint32_t x1 = std::min(g.width, x0 + kTileColumns);
        for (std::uint32_t k = 0; k < c; ++k) {
            T* plane = planes + k * g.planeSize();
            for (std::uint32_t x = x0; x < x1; ++x) {
                T* column = plane + std::size_t{x} * g.height + first;
                const T* source = band + std::size_t{x} * c + k;
                for (std::uint32_t r = 0; r < count; ++r) column[r] = source[r * rowStride];
            }
        }
    }
}

// The reverse for rows first .. first+count-1, writing `outChannels` (at most
// C; the first ones) samples per pixel, each passed through `convert`.
template <class T, class U, class Convert>
void planesToBand(const T* planes, const PlaneGeometry& g, std::uint32_t first, std::uint32_t count,
                  std::uint32_t outChannels, U* band, std::size_t rowStride, Convert convert) {
    for (std::uint32_t x0 = 0; x0 < g.width; x0 += kTileColumns) {
        const std::uint32_t x1 = std::min(g.width, x0 + kTileColumns);
        for (std::uint32_t k = 0; k < outChannels; ++k) {
            const T* plane = planes + k * g.planeSize();
            for (std::uint32_t x = x0; x < x1; ++x) {
                const T* column = plane + std::size_t{x} * g.height + first;
                U* target = band + std::size_t{x} * outChannels + k;
                for (std::uint32_t r = 0; r < count; ++r) target[r * rowStride] = convert(column[r]);
            }
        }
    }
}

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_PLANAR_LAYOUT_HPP
