#include "imagefile/png_codec.hpp"

#include "imagefile/byte_outputs.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/exif_orientation.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/whole_image.hpp"
#include "imagefile/xmp_orientation.hpp"

#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

// The codec library reports fatal errors through a callback that must not
// return. A C++ exception may not travel through its C frames, so the
// callback longjmps back into small "stage" functions below. Those functions
// and everything between them and the library hold only trivially
// destructible objects (C structs and pointers); every C++ object with a
// destructor (buffers, guards, strings) lives in the caller, which never sees
// the jump, only a false return, and then throws.

namespace axiswarp::tools {

namespace {


// Everything libpng's callbacks touch; trivially destructible by design.
struct PngState {
    png_structp png = nullptr;
    png_infop info = nullptr;
    char message[256] = {};
    char warning[256] = {};  // the last warning libpng gave
    char iccWarning[160] = {};  // why libpng left an iCCP chunk out
    char exifWarning[160] = {};  // why libpng left an eXIf chunk out
    // reading
    ByteSource* input = nullptr;
    // writing
    ByteOutput* output = nullptr;
    // image geometry after transforms, or to be written
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    std::uint64_t storedRowBits = 0;  // one row as the file stores it, before any transform
    int channels = 0;
    int bitDepth = 0;
    int colorType = 0;
    int compressionLevel = -1;
    int passes = 1;
    std::size_t rowBytes = 0;
    png_bytepp rows = nullptr;
    std::uint32_t bandRows = 0;  // rows in `rows` for the next band
    std::uint32_t bandDone = 0;  // of them, done so far
    // metadata to write, owned by the caller
    const unsigned char* icc = nullptr;
    png_uint_32 iccSize = 0;
    unsigned char* exif = nullptr;
    png_uint_32 exifSize = 0;
    bool iccWritten = false;
};

void pngOnError(png_structp png, png_const_charp msg) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->message, sizeof state->message, "%s", msg != nullptr ? msg : "error");
    png_longjmp(png, 1);
}

void pngOnWarning(png_structp png, png_const_charp msg) {
    auto* state = static_cast<PngState*>(png_get_error_ptr(png));
    std::snprintf(state->warning, sizeof state->warning, "%s", msg != nullptr ? msg : "warning");
    // Chunk warnings start with the chunk's name; a profile or EXIF chunk
    // libpng refuses is dropped, and the reader says so.
    if (msg != nullptr && std::strncmp(msg, "iCCP", 4) == 0)
        std::snprintf(state->iccWarning, sizeof state->iccWarning, "%s", msg);
    if (msg != nullptr && std::strncmp(msg, "eXIf", 4) == 0)
        std::snprintf(state->exifWarning, sizeof state->exifWarning, "%s", msg);
}

void pngReadData(png_structp png, png_bytep out, std::size_t length) {
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    ByteSource* in = state->input;
    if (in->read(std::as_writable_bytes(std::span(out, length))) != length) {
        if (in->error() != 0) {
            std::snprintf(state->message, sizeof state->message, "read error: %s", std::strerror(in->error()));
            png_longjmp(png, 1);
        }
        png_error(png, "unexpected end of file (the file is truncated)");
    }
}

void pngWriteData(png_structp png, png_bytep data, std::size_t length) {
    auto* state = static_cast<PngState*>(png_get_io_ptr(png));
    try {
        state->output->write(std::as_bytes(std::span(data, length)));
    } catch (const std::exception& e) {
        std::snprintf(state->message, sizeof state->message, "%s", e.what());
        png_longjmp(png, 1);
    } catch (...) {
        png_error(png, "write failed");
    }
}

void pngFlush(png_structp) {}

// Stage functions: the only frames libpng jumps back into.
bool pngReadHeader(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_set_read_fn(s->png, s, pngReadData);
    // libpng's own default caps images at 10^6 pixels a side; the caller's
    // pixel limit is the one that counts, so allow the format's maximum.
    png_set_user_limits(s->png, 0x7fffffff, 0x7fffffff);
    // The profile is kept as bytes, never used, so libpng need not compare
    // it with the sRGB profiles it knows.
    png_set_option(s->png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    png_read_info(s->png, s->info);
    s->width = png_get_image_width(s->png, s->info);
    s->height = png_get_image_height(s->png, s->info);
    s->storedRowBits = std::uint64_t{s->width} * png_get_channels(s->png, s->info) *
                       static_cast<unsigned>(png_get_bit_depth(s->png, s->info));
    return true;
}

// Sets up the transforms to 8- or 16-bit gray/RGB with optional alpha. Only
// called once the header's size has passed the limits: libpng allocates its
// row buffers here, from the announced width alone.
bool pngPrepareRows(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    const int colorType = png_get_color_type(s->png, s->info);
    const int depth = png_get_bit_depth(s->png, s->info);
    if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(s->png);
    if (colorType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
    if (png_get_valid(s->png, s->info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(s->png);
    if (depth == 16 && kLittleEndian) png_set_swap(s->png);
    s->passes = png_set_interlace_handling(s->png);
    png_read_update_info(s->png, s->info);
    s->channels = png_get_channels(s->png, s->info);
    s->bitDepth = png_get_bit_depth(s->png, s->info);
    s->rowBytes = png_get_rowbytes(s->png, s->info);
    return true;
}

// An interlaced image's passes each cover the whole image, so it is read at
// once into a full-size buffer; others are read band by band.
// An interlaced image's passes each cover the whole image, so it is read at
// once into a full-size buffer; others are read band by band, a row at a
// time so that a failure knows its row.
bool pngReadWhole(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_read_image(s->png, s->rows);
    return true;
}

bool pngReadBand(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    for (; s->bandDone < s->bandRows; ++s->bandDone) png_read_row(s->png, s->rows[s->bandDone], nullptr);
    return true;
}

bool pngReadFinish(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    // With the info struct, so that an eXIf chunk after the image data is
    // kept too.
    png_read_end(s->png, s->info);
    return true;
}

bool pngWriteStart(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    s->info = png_create_info_struct(s->png);
    if (s->info == nullptr) png_error(s->png, "out of memory");
    png_set_write_fn(s->png, s, pngWriteData, pngFlush);
    if (s->compressionLevel >= 0) png_set_compression_level(s->png, s->compressionLevel);
    // One filter for every row instead of libpng's trial of all five per row:
    // on a 1500x1308 photograph this took a fifth less time than the adaptive
    // default (1.09 s of user time for the whole run against 1.39 s) for a
    // file 14% larger (3.40 MB against 2.98). With no level asked for,
    // deflate only codes runs (Z_RLE) after the Sub filter: on that
    // photograph's rows 0.06 s against 0.40 s for the default strategy at
    // level 6, and a smaller file (3.29 MB against 3.40), as filtered photo
    // rows hold few long matches worth searching for; flat areas become runs
    // of zeros all the same. A level asks for deflate's matching at that
    // level; 9 asks for the smallest file and keeps libpng's own choices.
    if (s->compressionLevel < 9) {
        png_set_filter(s->png, 0, PNG_FILTER_SUB);
        png_set_compression_strategy(s->png, s->compressionLevel < 0 ? Z_RLE : Z_DEFAULT_STRATEGY);
    }
    png_set_IHDR(s->png, s->info, s->width, s->height, s->bitDepth, s->colorType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (s->iccSize > 0) {
        // libpng checks the profile against the image and, by default, ends
        // the write for one it refuses; as a benign error it only warns and
        // leaves the chunk out, which is seen below. Benign errors stay
        // warnings for the rest of the write; none of the image data's
        // checks are of that kind.
        png_set_benign_errors(s->png, 1);
        png_set_option(s->png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
        png_set_iCCP(s->png, s->info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, s->icc, s->iccSize);
        s->iccWritten = png_get_valid(s->png, s->info, PNG_INFO_iCCP) != 0;
    }
    if (s->exifSize > 0) png_set_eXIf_1(s->png, s->info, s->exifSize, s->exif);
    png_write_info(s->png, s->info);
    if (s->bitDepth == 16 && kLittleEndian) png_set_swap(s->png);
    return true;
}

bool pngWriteBand(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    for (; s->bandDone < s->bandRows; ++s->bandDone) png_write_row(s->png, s->rows[s->bandDone]);
    return true;
}

bool pngWriteFinish(PngState* s) {
    if (setjmp(png_jmpbuf(s->png))) return false;
    png_write_end(s->png, nullptr);
    return true;
}

// An eXIf chunk after the image data, which libpng would give only once
// every row was read: the chunks are walked by their lengths, reading eight
// bytes of each, so that the orientation is known before the first row.
// A chunk whose checksum fails is left out, as libpng leaves it out.
std::vector<std::byte> exifAfterImageData(ByteSource& in) {
    std::uint64_t at = 8;
    unsigned char head[8];
    while (in.readAt(at, std::as_writable_bytes(std::span(head))) == sizeof head) {
        const std::uint32_t length = (std::uint32_t{head[0]} << 24) | (std::uint32_t{head[1]} << 16) |
                                     (std::uint32_t{head[2]} << 8) | head[3];
        if (length > PNG_UINT_31_MAX || std::memcmp(head + 4, "IEND", 4) == 0) break;
        if (std::memcmp(head + 4, "eXIf", 4) == 0) {
            if (length + std::uint64_t{4} > in.size() - at - 8) break;
            std::vector<std::byte> chunk(length + 4);
            if (in.readAt(at + 8, chunk) != chunk.size()) break;
            uLong crc = crc32(0, head + 4, 4);
            crc = crc32(crc, reinterpret_cast<const Bytef*>(chunk.data()), length);
            const auto* c = reinterpret_cast<const unsigned char*>(chunk.data()) + length;
            const std::uint32_t stored = (std::uint32_t{c[0]} << 24) | (std::uint32_t{c[1]} << 16) |
                                         (std::uint32_t{c[2]} << 8) | c[3];
            if (stored != crc) break;
            chunk.resize(length);
            return chunk;
        }
        at += std::uint64_t{length} + 12;
    }
    return {};
}

// libpng's structures, released however the reader or writer ends (also
// when its constructor throws).
struct PngReadHandle {
    PngState s;
    PngReadHandle() = default;
    PngReadHandle(const PngReadHandle&) = delete;
    PngReadHandle& operator=(const PngReadHandle&) = delete;
    ~PngReadHandle() {
        if (s.png != nullptr) png_destroy_read_struct(&s.png, s.info != nullptr ? &s.info : nullptr, nullptr);
    }
};

struct PngWriteHandle {
    PngState s;
    PngWriteHandle() = default;
    PngWriteHandle(const PngWriteHandle&) = delete;
    PngWriteHandle& operator=(const PngWriteHandle&) = delete;
    ~PngWriteHandle() {
        if (s.png != nullptr) png_destroy_write_struct(&s.png, s.info != nullptr ? &s.info : nullptr);
    }
};

class PngReader final : public ImageReader {
public:
    PngReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
    const StreamInfo& info() const noexcept override { return info_; }
    void readRows(unsigned char* band, std::uint32_t rows) override;
    void nextPage() override { failCodec(name(), "a PNG file holds one page"); }

private:
    const std::string& name() const { return source_->name(); }
    void readTextMetadata(const ImageReadOptions& options);
    [[noreturn]] void failAtRow(std::uint32_t row) {
        failCodec(name(), "invalid PNG data at row " + std::to_string(row + 1) + ": " + s_.message);
    }

    std::unique_ptr<ByteSource> source_;
    PngReadHandle handle_;
    PngState& s_ = handle_.s;
    StreamInfo info_;
    std::uint32_t done_ = 0;               // rows handed over
    std::vector<png_bytep> rows_;
    std::vector<unsigned char> interlaced_;  // the whole image, for an interlaced file
};

PngReader::PngReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options)
    : source_(std::move(source)) {
    s_.input = source_.get();
    s_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &s_, pngOnError, pngOnWarning);
    if (s_.png == nullptr) failCodec(name(), "cannot start the PNG decoder");
    s_.info = png_create_info_struct(s_.png);
    if (s_.info == nullptr) failCodec(name(), "cannot start the PNG decoder");
    if (!pngReadHeader(&s_)) failCodec(name(), std::string("invalid PNG data: ") + s_.message);

    checkPixelLimit(name(), s_.width, s_.height, options, source_->size());
    // Deflate expands its input at most 1032-fold, so a file this small cannot
    // hold the rows its header announces. Refusing here keeps a lying header
    // from costing the time and memory of the image it claims.
    constexpr std::uint64_t kMaxDeflateRatio = 1032;
    const std::uint64_t fileBytes = source_->size();
    const std::uint64_t mostInflated =
        fileBytes > std::numeric_limits<std::uint64_t>::max() / kMaxDeflateRatio
            ? std::numeric_limits<std::uint64_t>::max()
            : fileBytes * kMaxDeflateRatio;
    if (s_.storedRowBits / 8 > mostInflated / s_.height)
        failCodec(name(), "the file is too small to hold the " + std::to_string(s_.width) + "x" +
                              std::to_string(s_.height) +
                              " image its header announces (it is truncated or its header is wrong)");
    if (!pngPrepareRows(&s_)) failCodec(name(), std::string("invalid PNG data: ") + s_.message);
    const int bytesPerSample = s_.bitDepth / 8;
    if ((s_.bitDepth != 8 && s_.bitDepth != 16) || s_.channels < 1 || s_.channels > 4 ||
        s_.rowBytes != std::size_t{s_.width} * static_cast<std::size_t>(s_.channels * bytesPerSample))
        failCodec(name(), "unsupported PNG layout (" + std::to_string(s_.channels) + " channels of " +
                              std::to_string(s_.bitDepth) + " bits)");

    info_.format = ImageFormat::png;
    info_.page = {s_.width, s_.height, static_cast<std::uint32_t>(s_.channels),
                  s_.bitDepth == 8 ? SampleType::uint8 : SampleType::uint16};
    // Rows come one at a time from libpng; an interlaced image only whole.
    info_.bandRows = s_.passes > 1 ? s_.height : std::min<std::uint32_t>(16, s_.height);
    png_charp profileName = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileSize = 0;
    if (png_get_iCCP(s_.png, s_.info, &profileName, &compression, &profile, &profileSize) != 0 &&
        profile != nullptr) {
        const auto* p = reinterpret_cast<const std::byte*>(profile);
        info_.metadata.iccProfile.assign(p, p + profileSize);
    }
    png_bytep exif = nullptr;
    png_uint_32 exifSize = 0;
    if (png_get_eXIf_1(s_.png, s_.info, &exifSize, &exif) != 0 && exif != nullptr) {
        const auto* p = reinterpret_cast<const std::byte*>(exif);
        info_.metadata.exif.assign(p, p + exifSize);
    } else {
        info_.metadata.exif = exifAfterImageData(*source_);
    }
    readTextMetadata(options);
    if (info_.metadata.iccProfile.empty() && s_.iccWarning[0] != '\0')
        warnReading(options, name(), std::string("its ICC profile was left out (") + s_.iccWarning + ")");
    if (info_.metadata.exif.empty() && s_.exifWarning[0] != '\0')
        warnReading(options, name(), std::string("its EXIF block was left out (") + s_.exifWarning + ")");
}

// Metadata some writers keep in text chunks before the image data: an XMP
// packet (iTXt "XML:com.adobe.xmp") and the EXIF block as a hex dump
// ("Raw profile type exif", from converters that predate the eXIf chunk).
// The hex dump stands in for a missing eXIf chunk; the XMP orientation is
// taken only when the EXIF has no orientation tag.
void PngReader::readTextMetadata(const ImageReadOptions& options) {
    png_textp texts = nullptr;
    int count = 0;
    if (png_get_text(s_.png, s_.info, &texts, &count) <= 0 || texts == nullptr) return;
    std::optional<int> xmp;
    for (int i = 0; i < count; ++i) {
        const png_text& text = texts[i];
        if (text.key == nullptr || text.text == nullptr) continue;
        const std::string_view key = text.key;
        const std::string_view value(text.text, text.compression >= PNG_ITXT_COMPRESSION_NONE ? text.itxt_length
                                                                                                : text.text_length);
        if (key == "XML:com.adobe.xmp") {
            if (!xmp) xmp = xmpOrientation(std::as_bytes(std::span(value.data(), value.size())));
        } else if (key == "Raw profile type exif" || key == "Raw profile type APP1") {
            std::optional<std::vector<std::byte>> block = exifFromRawProfileText(value);
            if (!block) {
                warnReading(options, name(), "its '" + std::string(key) +
                                                 "' text chunk is not a readable EXIF block and was left out");
            } else if (info_.metadata.exif.empty()) {
                info_.metadata.exif = std::move(*block);
            } else if (*block != info_.metadata.exif) {
                warnReading(options, name(), "its '" + std::string(key) +
                                                 "' text chunk was left out: the eXIf chunk's EXIF block is kept");
            }
        }
    }
    if (xmp && !exifOrientationTag(info_.metadata.exif)) info_.metadata.orientation = validOrientation(*xmp);
}

void PngReader::readRows(unsigned char* band, std::uint32_t rows) {
    if (rows > s_.height - done_)
        failCodec(name(), "asked for rows past the last (" + std::to_string(done_ + rows) + " of " +
                              std::to_string(s_.height) + ")");
    if (rows == 0) return;
    if (s_.passes > 1) {
        if (interlaced_.empty()) {
            interlaced_.resize(bufferBytes(name(), s_.rowBytes, s_.height));
            rows_ = bandRowPointers<png_bytep>(interlaced_.data(), s_.rowBytes, s_.height);
            s_.rows = rows_.data();
            if (!pngReadWhole(&s_)) failCodec(name(), std::string("invalid PNG data: ") + s_.message);
        }
        std::memcpy(band, interlaced_.data() + std::size_t{done_} * s_.rowBytes, std::size_t{rows} * s_.rowBytes);
    } else {
        rows_ = bandRowPointers<png_bytep>(band, s_.rowBytes, rows);
        s_.rows = rows_.data();
        s_.bandRows = rows;
        s_.bandDone = 0;
        if (!pngReadBand(&s_)) failAtRow(done_ + s_.bandDone);
    }
    done_ += rows;
    if (done_ == s_.height) {
        if (!pngReadFinish(&s_)) failCodec(name(), std::string("invalid PNG data after the last row: ") + s_.message);
        interlaced_ = {};
    }
}

class PngWriter final : public ImageWriter {
public:
    PngWriter(ByteOutput& output, const StreamInfo& out, std::string_view name, const ImageWriteOptions& options);
    void writeRows(const unsigned char* band, std::uint32_t rows) override;
    void nextPage() override { failCodec(name_, "a PNG file holds one page"); }
    void finish() override;

private:
    PngWriteHandle handle_;
    PngState& s_ = handle_.s;
    std::string name_;
    std::vector<unsigned char> exif_;
    std::vector<png_bytep> rows_;
    std::uint32_t done_ = 0;
};

PngWriter::PngWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                     const ImageWriteOptions& options)
    : name_(name) {
    const PageLayout& page = out.page;
    validateLayoutForEncoding(page, name);
    if (out.pages != 1) failCodec(name, "a PNG file holds one page, not " + std::to_string(out.pages));
    if (page.width > PNG_UINT_31_MAX || page.height > PNG_UINT_31_MAX)
        failCodec(name, "the image is too large for PNG");
    if (options.pngCompressionLevel < -1 || options.pngCompressionLevel > 9)
        failCodec(name, "the PNG compression level must be 0 to 9, not " +
                            std::to_string(options.pngCompressionLevel));
    static constexpr int kColorTypes[5] = {0, PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA,
                                           PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
    s_.output = &output;
    s_.width = page.width;
    s_.height = page.height;
    s_.bitDepth = bitsOf(page.type);
    s_.colorType = kColorTypes[page.channels];
    s_.compressionLevel = options.pngCompressionLevel;
    // A chunk's length is a 31-bit number.
    const ImageMetadata& metadata = out.metadata;
    auto fits = [&](std::size_t size, const char* what) {
        if (size <= PNG_UINT_31_MAX) return true;
        if (options.warning)
            options.warning(std::string(name) + ": the " + what + " is too large for PNG and is left out");
        return false;
    };
    if (!metadata.iccProfile.empty() && fits(metadata.iccProfile.size(), "ICC profile")) {
        s_.icc = reinterpret_cast<const unsigned char*>(metadata.iccProfile.data());
        s_.iccSize = static_cast<png_uint_32>(metadata.iccProfile.size());
    }
    if (!metadata.exif.empty() && fits(metadata.exif.size(), "EXIF block")) {
        // libpng takes the block through a non-const pointer.
        const auto* e = reinterpret_cast<const unsigned char*>(metadata.exif.data());
        exif_.assign(e, e + metadata.exif.size());
        s_.exif = exif_.data();
        s_.exifSize = static_cast<png_uint_32>(exif_.size());
    }
    s_.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &s_, pngOnError, pngOnWarning);
    if (s_.png == nullptr) failCodec(name, "cannot start the PNG encoder");
    if (!pngWriteStart(&s_)) failCodec(name, std::string("PNG encoding failed: ") + s_.message);
    // The profile is only known to be refused once the header is written.
    if (s_.iccSize > 0 && !s_.iccWritten && options.warning)
        options.warning(std::string(name) + ": the ICC profile is left out, as PNG refuses it (" +
                        (s_.warning[0] != '\0' ? s_.warning : "no reason given") + ")");
    s_.icc = nullptr;
    s_.exif = nullptr;
    s_.rowBytes = page.rowBytes();
}

void PngWriter::writeRows(const unsigned char* band, std::uint32_t rows) {
    if (rows > s_.height - done_)
        failCodec(name_, "given rows past the last (" + std::to_string(done_ + rows) + " of " +
                             std::to_string(s_.height) + ")");
    // libpng copies each row before transforming it, so the band is only read.
    rows_ = bandRowPointers<png_bytep>(const_cast<unsigned char*>(band), s_.rowBytes, rows);
    s_.rows = rows_.data();
    s_.bandRows = rows;
    s_.bandDone = 0;
    if (!pngWriteBand(&s_)) failCodec(name_, std::string("PNG encoding failed: ") + s_.message);
    done_ += rows;
}

void PngWriter::finish() {
    if (done_ != s_.height)
        failCodec(name_, "the image ended after " + std::to_string(done_) + " of " + std::to_string(s_.height) +
                             " rows");
    if (!pngWriteFinish(&s_)) failCodec(name_, std::string("PNG encoding failed: ") + s_.message);
}

}  // namespace

bool looksLikePng(std::span<const std::byte> bytes) noexcept {
    static constexpr unsigned char sig[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), sig, 8) == 0;
}


std::unique_ptr<ImageReader> openPngReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options) {
    return std::make_unique<PngReader>(std::move(source), options);
}

std::unique_ptr<ImageWriter> openPngWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                           const ImageWriteOptions& options) {
    return std::make_unique<PngWriter>(output, out, name, options);
}

Image decodePng(std::span<const std::byte> bytes, std::string_view name, const ImageReadOptions& options,
                ImageMetadata* metadata) {
    if (!looksLikePng(bytes)) failCodec(name, "not a PNG file" + contentHint(bytes));
    PngReader reader(ByteSource::overBytes(bytes, std::string(name)), options);
    ImageFile file = readAllPages(reader, options);
    if (metadata != nullptr) *metadata = std::move(file.metadata);
    return std::move(file.pages.front());
}

std::vector<std::byte> encodePng(const Image& image, std::string_view name, const ImageWriteOptions& options,
                                 const ImageMetadata* metadata) {
    validateForEncoding(image, name);
    StreamInfo out = streamInfoOf(image, ImageFormat::png);
    if (metadata != nullptr) out.metadata = *metadata;
    VectorOutput output;
    PngWriter writer(output, out, name, options);
    writePage(writer, image);
    writer.finish();
    return std::move(output.bytes());
}

}  // namespace axiswarp::tools
