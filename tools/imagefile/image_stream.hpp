// Image files a band of rows at a time.
//
// A reader decodes a file top to bottom, page by page, without holding the
// file or a whole page in memory: the codec libraries read the file through
// their own readers, and each call hands over the next rows. A writer takes
// rows in the same order and encodes them as they come. Between the two, a
// band of rows is one contiguous block, interleaved as the codecs store
// pixels: sample (row r, column x, channel c) of a band is at
// (r * width + x) * channels + c, in the page's sample type and the
// machine's byte order, alpha straight (not premultiplied).
//
// As a host array, such a band is a C-by-W-by-R array, so the module reads
// and writes it directly (the interleaved strategies): nothing is reordered
// between the decoder, the two passes and the encoder.
#ifndef AXISWARP_TOOLS_IMAGE_STREAM_HPP
#define AXISWARP_TOOLS_IMAGE_STREAM_HPP

#include "image/image.hpp"
#include "imagefile/codec_options.hpp"
#include "imagefile/image_file.hpp"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace axiswarp::tools {

// The extents and samples of one page.
struct PageLayout {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t channels = 0;  // 1 gray, 2 gray+alpha, 3 RGB, 4 RGBA
    SampleType type = SampleType::uint8;

    std::size_t sampleBytes() const noexcept { return static_cast<std::size_t>(bitsOf(type) / 8); }
    std::size_t rowBytes() const noexcept { return std::size_t{width} * channels * sampleBytes(); }
    bool operator==(const PageLayout&) const = default;
};

// What a reader knows from the file's header before any pixel is decoded,
// and what a writer is told before the first row.
struct StreamInfo {
    ImageFormat format = ImageFormat::png;
    PageLayout page;          // every page alike
    std::uint32_t pages = 1;  // a TIFF stack has several
    // The orientation as stored (not applied), the ICC profile and EXIF.
    ImageMetadata metadata;
    // For a TIFF file, the compression of its first page.
    std::optional<TiffCompression> compression;
    // The rows the decoder produces most cheaply at a time (a strip, a row
    // of tiles, an iMCU row); at least 1. A hint: any count may be asked.
    std::uint32_t bandRows = 1;
};

// An input file: read from `path` when `bytes` is empty, else from `bytes`
// (fuzzers and tests). `name` starts every message about it.
struct ImageInput {
    std::filesystem::path path;
    std::span<const std::byte> bytes;
    std::string name;
};

class ImageReader {
public:
    virtual ~ImageReader() = default;
    virtual const StreamInfo& info() const noexcept = 0;
    // Decodes the next `rows` rows of the current page into `band`, which
    // holds rows * info().page.rowBytes() bytes, aligned for the sample type.
    // Throws ToolError starting with the input's name, and naming the row
    // where decoding stopped, for damaged or truncated data.
    virtual void readRows(unsigned char* band, std::uint32_t rows) = 0;
    // Moves to the next page, after every row of the current one was read.
    virtual void nextPage() = 0;
};

// Where a writer's bytes go: a file being written or a buffer. TIFF moves
// back to patch offsets, so the output can be positioned and read back.
class ByteOutput {
public:
    virtual ~ByteOutput() = default;
    virtual void write(std::span<const std::byte> bytes) = 0;   // at the position
    virtual void seek(std::uint64_t offset) = 0;                // anywhere up to size()
    virtual std::uint64_t tell() const = 0;
    virtual std::uint64_t size() const = 0;
    // Up to bytes.size() bytes from `offset`; how many were read.
    virtual std::size_t readAt(std::uint64_t offset, std::span<std::byte> bytes) = 0;
};

class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    // The next `rows` rows of the current page, laid out as readRows gives
    // them, in the layout the writer was opened with.
    virtual void writeRows(const unsigned char* band, std::uint32_t rows) = 0;
    // Ends the current page and starts the next (stacks only).
    virtual void nextPage() = 0;
    // After the last row of the last page: completes the file.
    virtual void finish() = 0;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_IMAGE_STREAM_HPP
