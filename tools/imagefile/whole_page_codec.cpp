#include "imagefile/whole_page_codec.hpp"

#include "imagefile/codec_support.hpp"
#include "imagefile/exif_orientation.hpp"

#include <cstring>

namespace axiswarp::tools {

void WholePageReader::readRows(unsigned char* band, std::uint32_t rows) {
    const PageLayout& page = info_.page;
    if (rows > page.height - nextRow_)
        failCodec(name_, "asked for rows " + std::to_string(nextRow_) + " to " +
                             std::to_string(std::uint64_t{nextRow_} + rows - 1) + " of a page of " +
                             std::to_string(page.height) + " rows");
    if (!decoded_) {
        decode();
        decoded_ = true;
    }
    const std::size_t rowBytes = page.rowBytes();
    for (std::uint32_t y = 0; y < rows; ++y) std::memcpy(band + y * rowBytes, row(nextRow_ + y), rowBytes);
    nextRow_ += rows;
}

void WholePageReader::nextPage() { failCodec(name_, "holds one page; there is no next page"); }

Rgb8Page::Rgb8Page(std::string_view name, const StreamInfo& out, std::string_view format, std::uint32_t maxSide,
                   const ImageWriteOptions& options)
    : name_(name), in_(out.page), width_(out.page.width), height_(out.page.height),
      alpha_(out.page.channels == 2 || out.page.channels == 4) {
    if (out.pages != 1)
        failCodec(name, "the image has " + std::to_string(out.pages) + " pages, and " + std::string(format) +
                            " holds one; write it as .tif");
    if (in_.type != SampleType::uint8 && in_.type != SampleType::uint16)
        failCodec(name, "the image has " + std::string(sampleTypeName(in_.type)) + " samples, and " +
                            std::string(format) + " stores 8-bit unsigned integers; write it as .tif");
    if (in_.channels < 1 || in_.channels > 4)
        failCodec(name, "cannot write an image with " + std::to_string(in_.channels) +
                            " channels (1 to 4 are supported)");
    if (width_ == 0 || height_ == 0) failCodec(name, "cannot write an image with a zero extent");
    if (width_ > maxSide || height_ > maxSide)
        failCodec(name, "the image is " + std::to_string(width_) + "x" + std::to_string(height_) + ", and " +
                            std::string(format) + " stores at most " + std::to_string(maxSide) +
                            " pixels a side");
    if (in_.type == SampleType::uint16 && options.warning)
        options.warning(std::string(name) + ": 16-bit samples reduced to 8 bits for " + std::string(format));
    samples_.resize(bufferBytes(name, stride(), height_));
}

void Rgb8Page::append(const unsigned char* band, std::uint32_t rows) {
    if (rows > height_ - rowsIn_)
        failCodec(name_, "was given more rows than the image's " + std::to_string(height_));
    const std::uint32_t c = in_.channels;
    const bool gray = c <= 2;
    const std::size_t inRow = in_.rowBytes();
    for (std::uint32_t y = 0; y < rows; ++y) {
        unsigned char* to = samples_.data() + (rowsIn_ + y) * stride();
        const unsigned char* from = band + y * inRow;
        for (std::uint32_t x = 0; x < width_; ++x) {
            for (std::uint32_t k = 0; k < channels(); ++k) {
                // Gray repeats its one colour channel into R, G and B; alpha
                // is the last channel either way.
                const std::uint32_t source = gray ? (k < 3 ? 0 : 1) : k;
                const std::size_t at = std::size_t{x} * c + source;
                if (in_.type == SampleType::uint8) {
                    to[std::size_t{x} * channels() + k] = from[at];
                } else {
                    std::uint16_t v;
                    std::memcpy(&v, from + at * 2, 2);
                    // Nearest 8-bit value of v/257; (v + 128)/257 never ties.
                    to[std::size_t{x} * channels() + k] = static_cast<unsigned char>((unsigned{v} + 128) / 257);
                }
            }
        }
    }
    rowsIn_ += rows;
}

void Rgb8Page::checkComplete() const {
    if (rowsIn_ != height_)
        failCodec(name_, "the image was given " + std::to_string(rowsIn_) + " of its " + std::to_string(height_) +
                             " rows");
}

std::vector<std::byte> exifToWrite(const ImageMetadata& metadata) {
    // A tag that says otherwise, or an invalid value (0 reads as 1), is
    // rewritten; a block without the tag is left alone when upright.
    const std::optional<int> stored = exifOrientationTag(metadata.exif);
    if (stored ? *stored == metadata.orientation : metadata.orientation == 1) return metadata.exif;
    return exifWithOrientation(metadata.exif, metadata.orientation);
}

std::vector<std::byte> bareExif(std::span<const std::byte> block) {
    constexpr std::string_view kJpegHeader{"Exif\0\0", 6};
    if (block.size() >= kJpegHeader.size() && std::memcmp(block.data(), kJpegHeader.data(), kJpegHeader.size()) == 0)
        block = block.subspan(kJpegHeader.size());
    if (block.size() < 8 || (std::memcmp(block.data(), "II*\0", 4) != 0 && std::memcmp(block.data(), "MM\0*", 4) != 0))
        return {};
    return {block.begin(), block.end()};
}

}  // namespace axiswarp::tools
