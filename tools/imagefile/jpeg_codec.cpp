#include "imagefile/jpeg_codec.hpp"

#include "imagefile/band_pipeline.hpp"
#include "imagefile/codec_support.hpp"

// jpeglib.h needs size_t and FILE declared first.
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>

#include <csetjmp>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
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

struct JpegErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

// Scans beyond this are a denial-of-service pattern, not a real image.
constexpr int kMaxJpegScans = 1000;

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// The library's warnings include every kind of data corruption it recovers
// from by inventing samples; those end the decode. Only notes about header
// fields it can ignore stay warnings.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC) {
        ++cinfo->err->num_warnings;
        return;
    }
    jpegErrorExit(cinfo);
}

void jpegOutputMessage(j_common_ptr) {}

void jpegProgress(j_common_ptr cinfo) {
    if (cinfo->is_decompressor == 0) return;
    if (reinterpret_cast<j_decompress_ptr>(cinfo)->input_scan_number > kMaxJpegScans) {
        auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "more than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

void jpegInstallErrors(JpegErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = jpegErrorExit;
    err.pub.emit_message = jpegEmitMessage;
    err.pub.output_message = jpegOutputMessage;
    err.message[0] = '\0';
}

struct JpegReadState {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    bool created;
    const unsigned char* input;
    std::size_t inputSize;
    bool cmyk;
    unsigned width, height;
    int components;
    JSAMPARRAY rows;
    unsigned bandRows;  // rows to read into `rows` by the next jpegReadBand
    JOCTET* icc;        // the joined profile, malloc'd by the library
    unsigned iccSize;
};

// Segments that carry metadata.
constexpr int kExifMarker = JPEG_APP0 + 1;
constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr unsigned char kExifHeader[6] = {'E', 'x', 'i', 'f', 0, 0};
// A segment holds at most 65533 bytes after its length field.
constexpr std::size_t kMaxSegment = 65533;
// jpeg_write_icc_profile's pieces: 65519 bytes of profile after the 14-byte
// "ICC_PROFILE\0" and sequence numbers, each numbered in one byte.
constexpr std::size_t kMaxIccBytes = std::size_t{255} * 65519;

bool jpegReadHeader(JpegReadState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    s->cinfo.progress = &s->progress;
    jpeg_mem_src(&s->cinfo, s->input, static_cast<unsigned long>(s->inputSize));
    // Kept whole; the file's own size bounds what they cost.
    jpeg_save_markers(&s->cinfo, kExifMarker, 0xffff);
    jpeg_save_markers(&s->cinfo, kIccMarker, 0xffff);
    jpeg_read_header(&s->cinfo, TRUE);
    // Segments that do not join into a profile (missing or repeated
    // pieces) give a warning, which jpegEmitMessage lets pass, and none.
    if (jpeg_read_icc_profile(&s->cinfo, &s->icc, &s->iccSize) == FALSE) {
        s->icc = nullptr;
        s->iccSize = 0;
    }
    s->width = s->cinfo.image_width;
    s->height = s->cinfo.image_height;
    switch (s->cinfo.jpeg_color_space) {
        case JCS_GRAYSCALE:
            s->cinfo.out_color_space = JCS_GRAYSCALE;
            s->components = 1;
            break;
        case JCS_CMYK:
        case JCS_YCCK:
            s->cmyk = true;
            s->components = 0;
            break;
        default:
            s->cinfo.out_color_space = JCS_RGB;
            s->components = 3;
            break;
    }
    return true;
}

bool jpegStart(JpegReadState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_start_decompress(&s->cinfo);
    if (s->cinfo.output_width != s->width || s->cinfo.output_height != s->height ||
        s->cinfo.output_components != s->components) {
        std::snprintf(s->err.message, sizeof s->err.message, "unexpected decoder output layout");
        return false;
    }
    return true;
}

bool jpegReadBand(JpegReadState* s) {
    if (setjmp(s->err.jump)) return false;
    for (unsigned done = 0; done < s->bandRows;) {
        const JDIMENSION got = jpeg_read_scanlines(&s->cinfo, s->rows + done, s->bandRows - done);
        // A memory source never suspends; no progress means no more data.
        if (got == 0) {
            std::snprintf(s->err.message, sizeof s->err.message, "the decoder stopped early");
            return false;
        }
        done += got;
    }
    return true;
}

bool jpegFinish(JpegReadState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_finish_decompress(&s->cinfo);
    return true;
}

struct JpegReadGuard {
    JpegReadState& s;
    ~JpegReadGuard() {
        if (s.created) jpeg_destroy_decompress(&s.cinfo);
        std::free(s.icc);
    }
};

// A destination that collects the compressed bytes in a malloc'd buffer the
// caller frees, whatever happens to the encoder.
struct JpegSink {
    jpeg_destination_mgr pub;
    unsigned char* buffer;
    std::size_t capacity;
    std::size_t used;
};

void jpegSinkInit(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    if (sink->buffer == nullptr) {
        sink->buffer = static_cast<unsigned char*>(std::malloc(65536));
        if (sink->buffer == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
        sink->capacity = 65536;
    }
    sink->pub.next_output_byte = sink->buffer;
    sink->pub.free_in_buffer = sink->capacity;
}

boolean jpegSinkGrow(j_compress_ptr cinfo) {
    // Called when the whole buffer is full.
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    const std::size_t old = sink->capacity;
    if (old > std::numeric_limits<std::size_t>::max() / 2) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 1);
    void* grown = std::realloc(sink->buffer, old * 2);
    if (grown == nullptr) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 2);
    sink->buffer = static_cast<unsigned char*>(grown);
    sink->capacity = old * 2;
    sink->pub.next_output_byte = sink->buffer + old;
    sink->pub.free_in_buffer = old;
    return TRUE;
}

void jpegSinkTerm(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    sink->used = sink->capacity - sink->pub.free_in_buffer;
}

struct JpegWriteState {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    JpegSink sink;
    bool created;
    unsigned width, height;
    int components;
    int quality;
    // metadata to write, owned by the caller
    const JOCTET* exifSegment;  // "Exif\0\0" and the block
    unsigned exifSegmentSize;
    const JOCTET* icc;
    unsigned iccSize;
    JSAMPARRAY rows;
    unsigned bandRows;  // rows in `rows` for the next jpegWriteBand
};

bool jpegWriteStart(JpegWriteState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_create_compress(&s->cinfo);
    s->created = true;
    s->sink.pub.init_destination = jpegSinkInit;
    s->sink.pub.empty_output_buffer = jpegSinkGrow;
    s->sink.pub.term_destination = jpegSinkTerm;
    s->cinfo.dest = &s->sink.pub;
    s->cinfo.image_width = s->width;
    s->cinfo.image_height = s->height;
    s->cinfo.input_components = s->components;
    s->cinfo.in_color_space = s->components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    jpeg_set_quality(&s->cinfo, s->quality, TRUE);
    s->cinfo.optimize_coding = TRUE;
    // EXIF readers look for their segment right after the start of the
    // file, where the JFIF segment would be.
    if (s->exifSegmentSize > 0) s->cinfo.write_JFIF_header = FALSE;
    jpeg_start_compress(&s->cinfo, TRUE);
    if (s->exifSegmentSize > 0)
        jpeg_write_marker(&s->cinfo, kExifMarker, s->exifSegment, s->exifSegmentSize);
    if (s->iccSize > 0) jpeg_write_icc_profile(&s->cinfo, s->icc, s->iccSize);
    return true;
}

bool jpegWriteBand(JpegWriteState* s) {
    if (setjmp(s->err.jump)) return false;
    // A memory destination never suspends, so every row is taken.
    for (unsigned done = 0; done < s->bandRows;)
        done += jpeg_write_scanlines(&s->cinfo, s->rows + done, s->bandRows - done);
    return true;
}

bool jpegWriteFinish(JpegWriteState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_finish_compress(&s->cinfo);
    return true;
}

struct JpegWriteGuard {
    JpegWriteState& s;
    ~JpegWriteGuard() {
        if (s.created) jpeg_destroy_compress(&s.cinfo);
        std::free(s.sink.buffer);
    }
};

}  // namespace

bool looksLikeJpeg(std::span<const std::byte> bytes) noexcept {
    return bytes.size() >= 3 && bytes[0] == std::byte{0xff} && bytes[1] == std::byte{0xd8} &&
           bytes[2] == std::byte{0xff};
}

Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name,
                 const ImageReadOptions& options, ImageMetadata* metadata) {
    if (!looksLikeJpeg(bytes)) failCodec(name, "not a JPEG file" + contentHint(bytes));
    if (bytes.size() > std::numeric_limits<unsigned long>::max()) failCodec(name, "the file is too large");
    JpegReadState s;
    std::memset(&s, 0, sizeof s);
    JpegReadGuard guard{s};
    s.input = reinterpret_cast<const unsigned char*>(bytes.data());
    s.inputSize = bytes.size();
    jpegInstallErrors(s.err);
    s.cinfo.err = &s.err.pub;
    s.progress.progress_monitor = jpegProgress;
    if (!jpegReadHeader(&s)) failCodec(name, std::string("invalid JPEG data: ") + s.err.message);
    if (s.cmyk) failCodec(name, "CMYK JPEG images are not supported");
    ImageMetadata found;
    if (metadata != nullptr) {
        if (s.icc != nullptr) {
            const auto* p = reinterpret_cast<const std::byte*>(s.icc);
            found.iccProfile.assign(p, p + s.iccSize);
        }
        for (jpeg_saved_marker_ptr m = s.cinfo.marker_list; m != nullptr; m = m->next) {
            if (m->marker != kExifMarker || m->data_length <= sizeof kExifHeader ||
                std::memcmp(m->data, kExifHeader, sizeof kExifHeader) != 0)
                continue;
            const auto* p = reinterpret_cast<const std::byte*>(m->data);
            found.exif.assign(p + sizeof kExifHeader, p + m->data_length);
            break;
        }
    }

    checkPixelLimit(name, s.width, s.height, options);
    // JPEG data has no useful lower bound on its size (an arithmetic-coded
    // flat image is almost nothing), so a header cannot be checked against
    // the file. The image's memory is therefore taken only once the first
    // band has decoded: a file that holds no real scan data fails before it
    // costs the memory its header claims. (The host's pages are committed as
    // they are written, so a file that runs out of data later has cost only
    // the rows it really held.)
    const std::size_t rowBytes = std::size_t{s.width} * static_cast<std::size_t>(s.components);
    if (!jpegStart(&s)) failCodec(name, std::string("invalid JPEG data: ") + s.err.message);
    const std::uint32_t bandRows = std::min<std::uint32_t>(kBandRows, s.height);
    const std::uint32_t bands = (s.height + kBandRows - 1) / kBandRows;
    Image image;
    std::vector<JSAMPROW> rows;
    pipelineBands(
        options.pool, bufferBytes(name, rowBytes, bandRows), bands,
        [&](std::uint32_t b, unsigned char* band) {
            const std::uint32_t first = b * kBandRows;
            s.bandRows = std::min<std::uint32_t>(kBandRows, s.height - first);
            rows = bandRowPointers<JSAMPROW>(band, rowBytes, s.bandRows);
            s.rows = rows.data();
            if (!jpegReadBand(&s)) failCodec(name, std::string("invalid JPEG data: ") + s.err.message);
            if (b == 0)
                image = Image::allocate(s.width, s.height, static_cast<std::uint32_t>(s.components), 8);
        },
        [&](std::uint32_t b, const unsigned char* band) {
            const std::uint32_t first = b * kBandRows;
            storeBand(image, band, rowBytes, first, std::min<std::uint32_t>(kBandRows, s.height - first));
        });
    if (!jpegFinish(&s)) failCodec(name, std::string("invalid JPEG data: ") + s.err.message);
    if (metadata != nullptr) *metadata = std::move(found);
    return image;
}

std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name,
                                  const ImageWriteOptions& options, const ImageMetadata* metadata) {
    validateForEncoding(image, name);
    if (image.width > JPEG_MAX_DIMENSION || image.height > JPEG_MAX_DIMENSION)
        failCodec(name, "the image is " + std::to_string(image.width) + "x" +
                       std::to_string(image.height) + ", larger than JPEG allows (" +
                       std::to_string(JPEG_MAX_DIMENSION) + " a side)");
    if (options.jpegQuality < 1 || options.jpegQuality > 100)
        failCodec(name, "the JPEG quality must be 1 to 100, not " + std::to_string(options.jpegQuality));
    const bool hasAlpha = image.channels == 2 || image.channels == 4;
    const std::uint32_t components = image.channels <= 2 ? 1 : 3;
    if (options.warning) {
        if (image.bitDepth() == 16)
            options.warning(std::string(name) + ": 16-bit samples reduced to 8 bits for JPEG");
        if (hasAlpha)
            options.warning(std::string(name) + ": alpha channel dropped (JPEG has none)");
    }
    const std::size_t rowBytes = bufferBytes(name, image.width, components);

    JpegWriteState s;
    std::memset(&s, 0, sizeof s);
    JpegWriteGuard guard{s};
    jpegInstallErrors(s.err);
    s.cinfo.err = &s.err.pub;
    s.width = image.width;
    s.height = image.height;
    s.components = static_cast<int>(components);
    s.quality = options.jpegQuality;
    std::vector<unsigned char> exifSegment;
    if (metadata != nullptr) {
        auto leftOut = [&](const std::string& what) {
            if (options.warning) options.warning(std::string(name) + ": " + what + "; left out");
        };
        const std::size_t exifSize = metadata->exif.size();
        if (exifSize > kMaxSegment - sizeof kExifHeader) {
            leftOut("the EXIF block has " + std::to_string(exifSize) + " bytes, more than a JPEG segment holds (" +
                    std::to_string(kMaxSegment - sizeof kExifHeader) + ")");
        } else if (exifSize > 0) {
            exifSegment.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
            const auto* e = reinterpret_cast<const unsigned char*>(metadata->exif.data());
            exifSegment.insert(exifSegment.end(), e, e + exifSize);
            s.exifSegment = exifSegment.data();
            s.exifSegmentSize = static_cast<unsigned>(exifSegment.size());
        }
        const std::size_t iccSize = metadata->iccProfile.size();
        if (iccSize > kMaxIccBytes) {
            leftOut("the ICC profile has " + std::to_string(iccSize) + " bytes, more than JPEG holds (" +
                    std::to_string(kMaxIccBytes) + ")");
        } else if (iccSize > 0) {
            s.icc = reinterpret_cast<const JOCTET*>(metadata->iccProfile.data());
            s.iccSize = static_cast<unsigned>(iccSize);
        }
    }
    if (!jpegWriteStart(&s)) failCodec(name, std::string("JPEG encoding failed: ") + s.err.message);

    const std::uint32_t bandRows = std::min(kBandRows, image.height);
    BandBuffer band(bufferBytes(name, rowBytes, bandRows));
    std::vector<JSAMPROW> rows = bandRowPointers<JSAMPROW>(band.bytes(), rowBytes, bandRows);
    s.rows = rows.data();
    const PlaneGeometry g = geometryOf(image);
    for (std::uint32_t first = 0; first < image.height; first += kBandRows) {
        const std::uint32_t count = std::min(kBandRows, image.height - first);
        // The colour channels come first in every layout, so dropping alpha
        // is simply not reading the last plane.
        if (image.bitDepth() == 8) {
            planesToBand(image.samples8().data(), g, first, count, components, band.bytes(),
                         rowBytes, [](std::uint8_t v) { return v; });
        } else {
            // Nearest 8-bit value of v/257; (v + 128)/257 never ties.
            planesToBand(image.samples16().data(), g, first, count, components, band.bytes(),
                         rowBytes, [](std::uint16_t v) {
                             return static_cast<unsigned char>((unsigned{v} + 128) / 257);
                         });
        }
        s.bandRows = count;
        if (!jpegWriteBand(&s)) failCodec(name, std::string("JPEG encoding failed: ") + s.err.message);
    }
    if (!jpegWriteFinish(&s)) failCodec(name, std::string("JPEG encoding failed: ") + s.err.message);
    const auto* out = reinterpret_cast<const std::byte*>(s.sink.buffer);
    return std::vector<std::byte>(out, out + s.sink.used);
}

}  // namespace axiswarp::tools
