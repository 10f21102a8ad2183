// What the WebP and HEIF/AVIF codecs share: their libraries decode and
// encode a page in one call, not a band at a time.
//
// A reader therefore decodes the whole page on the first readRows, into
// memory it owns (or the library's decoded image), and hands the rows out
// from there; everything in its StreamInfo was read from the header
// before, so the pixel limit is checked before any sample memory is taken.
// A writer gathers the rows into one 8-bit RGB or RGBA page and encodes it
// on finish().
#ifndef AXISWARP_TOOLS_WHOLE_PAGE_CODEC_HPP
#define AXISWARP_TOOLS_WHOLE_PAGE_CODEC_HPP

#include "imagefile/codec_options.hpp"
#include "imagefile/image_stream.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace axiswarp::tools {

class WholePageReader : public ImageReader {
public:
    WholePageReader(std::string name, StreamInfo info) : name_(std::move(name)), info_(std::move(info)) {}
    const StreamInfo& info() const noexcept override { return info_; }
    void readRows(unsigned char* band, std::uint32_t rows) override;
    void nextPage() override;

protected:
    const std::string& name() const noexcept { return name_; }
    // Decodes the page, so that row(y) gives its rows; throws ToolError.
    virtual void decode() = 0;
    // Row y of the decoded page: info().page.rowBytes() bytes.
    virtual const unsigned char* row(std::uint32_t y) const = 0;

private:
    std::string name_;
    StreamInfo info_;
    bool decoded_ = false;
    std::uint32_t nextRow_ = 0;
};

// One page of 8-bit RGB or RGBA samples gathered from the rows of any
// layout a writer may be opened with: gray becomes RGB (these formats have
// no gray pages), 16-bit samples become the nearest 8-bit value of v/257
// (with a warning). Refuses stacks, sample types other than 8- and 16-bit
// unsigned integers, and more than `maxSide` pixels a side, naming `format`.
class Rgb8Page {
public:
    Rgb8Page(std::string_view name, const StreamInfo& out, std::string_view format, std::uint32_t maxSide,
             const ImageWriteOptions& options);
    void append(const unsigned char* band, std::uint32_t rows);
    // Refuses a page some of whose rows never came.
    void checkComplete() const;

    std::uint32_t width() const noexcept { return width_; }
    std::uint32_t height() const noexcept { return height_; }
    std::uint32_t channels() const noexcept { return alpha_ ? 4 : 3; }
    bool hasAlpha() const noexcept { return alpha_; }
    std::size_t stride() const noexcept { return std::size_t{width_} * channels(); }
    const unsigned char* data() const noexcept { return samples_.data(); }

private:
    std::string name_;
    PageLayout in_;
    std::uint32_t width_, height_;
    bool alpha_;
    std::vector<unsigned char> samples_;
    std::uint32_t rowsIn_ = 0;
};

// The EXIF block to write for `metadata`: its orientation tag made to agree
// with metadata.orientation (only the tag's bytes change).
std::vector<std::byte> exifToWrite(const ImageMetadata& metadata);

// The EXIF block of a container that may keep JPEG's "Exif\0\0" before the
// byte-order mark, without it; empty when what remains has no byte-order
// mark.
std::vector<std::byte> bareExif(std::span<const std::byte> block);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_WHOLE_PAGE_CODEC_HPP
