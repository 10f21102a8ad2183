// What the image codecs share: error messages, limits checked from a header,
// band buffers, and moving decoded bands into an image's planes.
#ifndef AXISWARP_TOOLS_CODEC_SUPPORT_HPP
#define AXISWARP_TOOLS_CODEC_SUPPORT_HPP

#include "imagefile/codec_options.hpp"
#include "image/image.hpp"
#include "imagefile/image_stream.hpp"
#include "imagefile/planar_layout.hpp"
#include "runtime/tool_error.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

[[noreturn]] void failCodec(std::string_view name, const std::string& problem);

// "NAME: PROBLEM" through options.warning, or on stderr as "warning: ..."
// when the caller gave no callback.
void warnReading(const ImageReadOptions& options, std::string_view name, const std::string& problem);

// Refuses a zero extent, more pixels than options.maxPixels, and more
// pixels per byte of a file of `fileBytes` than options.maxPixelsPerByte
// beyond kPixelsFreeOfRatio pixels (LimitError of kinds imagePixels and
// pixelsPerByte).
void checkPixelLimit(std::string_view name, std::uint64_t width, std::uint64_t height,
                     const ImageReadOptions& options, std::uint64_t fileBytes);

// Size of an interleaved buffer of `rowBytes` by `height`, refused when it
// does not fit memory arithmetic.
std::size_t bufferBytes(std::string_view name, std::uint64_t rowBytes, std::uint64_t height);

// Refuses an image PNG and JPEG cannot store: no samples, a zero extent,
// samples other than 8- or 16-bit unsigned integers.
void validateForEncoding(const Image& image, std::string_view name);

// The same for a page a writer is opened with.
void validateLayoutForEncoding(const PageLayout& page, std::string_view name);

// 16-bit PNG rows are big-endian; libpng swaps them to and from the machine's
// order, so that a band is plain uint16 samples.
inline constexpr bool kLittleEndian = std::endian::native == std::endian::little;

// A buffer for a band of rows, aligned for any sample type, which are read
// from it as samples (and the codecs write it as bytes).
class BandBuffer {
public:
    explicit BandBuffer(std::size_t bytes) : storage_((bytes + 7) / 8) {}
    unsigned char* bytes() noexcept { return reinterpret_cast<unsigned char*>(storage_.data()); }

private:
    std::vector<std::uint64_t> storage_;
};

// Row pointers into a band buffer of `rows` rows.
template <class Row>
std::vector<Row> bandRowPointers(unsigned char* band, std::size_t rowBytes, std::uint32_t rows) {
    std::vector<Row> pointers(rows);
    for (std::uint32_t y = 0; y < rows; ++y) pointers[y] = band + y * rowBytes;
    return pointers;
}

inline PlaneGeometry geometryOf(const Image& image) {
    return {image.width, image.height, image.channels};
}

// Decoded rows first..first+count-1 in `band` into the image's planes.
void storeBand(Image& image, const unsigned char* band, std::size_t rowBytes, std::uint32_t first,
               std::uint32_t count);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_CODEC_SUPPORT_HPP
