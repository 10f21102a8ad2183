#include "imagefile/jpeg_codec.hpp"

#include "imagefile/byte_outputs.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/whole_image.hpp"

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
    // Decoding: whether damage the library steps over ends the decode, and
    // the first such warning with the count of them, for the reader to pass
    // on once the library's frames are gone.
    bool strict;
    char firstWarning[JMSG_LENGTH_MAX];
    unsigned damageWarnings;
};

// Scans beyond this are a denial-of-service pattern, not a real image.
constexpr int kMaxJpegScans = 1000;

void jpegErrorExit(j_common_ptr cinfo) {
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// The library's warnings are of three kinds. Notes about header fields it
// can ignore pass silently (a profile that does not join is reported by the
// reader itself). The end of the data before the image's end is truncation,
// always an error: the rest of the image would be invented. So is a data
// segment that ends at a marker before the image's last MCU (a header that
// announces more rows than the data holds). Every other
// warning is damage the library steps over (stray bytes before a marker, a
// bad Huffman code in one MCU): the decode goes on and the reader warns,
// as other decoders do, unless it is strict.
void jpegEmitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return;  // trace messages
    const int code = cinfo->err->msg_code;
    if (code == JWRN_JFIF_MAJOR || code == JWRN_ADOBE_XFORM || code == JWRN_BOGUS_ICC) {
        ++cinfo->err->num_warnings;
        return;
    }
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || err->strict) jpegErrorExit(cinfo);
    ++cinfo->err->num_warnings;
    if (err->damageWarnings++ == 0) (*cinfo->err->format_message)(cinfo, err->firstWarning);
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
    err.strict = true;
    err.firstWarning[0] = '\0';
    err.damageWarnings = 0;
}

// Pulls the file through a ByteSource in pieces of 64 KiB. At the end of
// the data it gives the library an end-of-image marker after a warning, as
// libjpeg's own sources do; that warning ends the decode (jpegEmitMessage).
struct JpegSource {
    jpeg_source_mgr pub;
    ByteSource* input;
    JOCTET buffer[65536];
};

void jpegSourceInit(j_decompress_ptr) {}

boolean jpegSourceFill(j_decompress_ptr cinfo) {
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    std::size_t got = src->input->read(std::as_writable_bytes(std::span(src->buffer)));
    if (got == 0) {
        if (src->input->error() != 0) {
            auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
            std::snprintf(err->message, sizeof err->message, "read error: %s", std::strerror(src->input->error()));
            std::longjmp(err->jump, 1);
        }
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->buffer[0] = 0xFF;
        src->buffer[1] = JPEG_EOI;
        got = 2;
    }
    src->pub.next_input_byte = src->buffer;
    src->pub.bytes_in_buffer = got;
    return TRUE;
}

void jpegSourceSkip(j_decompress_ptr cinfo, long count) {
    auto* src = reinterpret_cast<JpegSource*>(cinfo->src);
    if (count <= 0) return;
    const auto skip = static_cast<std::size_t>(count);
    if (skip <= src->pub.bytes_in_buffer) {
        src->pub.next_input_byte += skip;
        src->pub.bytes_in_buffer -= skip;
        return;
    }
    // Past the buffer: on from there, without reading what is skipped.
    src->input->seek(src->input->tell() + (skip - src->pub.bytes_in_buffer));
    src->pub.bytes_in_buffer = 0;
    jpegSourceFill(cinfo);
}

void jpegSourceTerm(j_decompress_ptr) {}

struct JpegReadState {
    jpeg_decompress_struct cinfo;
    JpegErrorManager err;
    jpeg_progress_mgr progress;
    JpegSource source;
    bool created;
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
    s->source.pub.init_source = jpegSourceInit;
    s->source.pub.fill_input_buffer = jpegSourceFill;
    s->source.pub.skip_input_data = jpegSourceSkip;
    s->source.pub.resync_to_restart = jpeg_resync_to_restart;
    s->source.pub.term_source = jpegSourceTerm;
    s->cinfo.src = &s->source.pub;
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
            // Four channels of ink as stored (YCCK converted back to them);
            // Adobe's files hold them inverted, which is kept.
            s->cinfo.out_color_space = JCS_CMYK;
            s->cmyk = true;
            s->components = 4;
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
        // The source never suspends; no progress means no more data.
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

// Hands the compressed bytes to a ByteOutput in pieces of 64 KiB. A failed
// write ends the encode with the output's own message.
struct JpegSink {
    jpeg_destination_mgr pub;
    ByteOutput* output;
    JOCTET buffer[65536];
};

void jpegSinkInit(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    sink->pub.next_output_byte = sink->buffer;
    sink->pub.free_in_buffer = sizeof sink->buffer;
}

void jpegSinkWrite(j_compress_ptr cinfo, std::size_t bytes) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    auto* err = reinterpret_cast<JpegErrorManager*>(cinfo->err);
    bool failed = false;
    try {
        sink->output->write(std::as_bytes(std::span(sink->buffer, bytes)));
    } catch (const std::exception& e) {
        std::snprintf(err->message, sizeof err->message, "%s", e.what());
        failed = true;
    } catch (...) {
        std::snprintf(err->message, sizeof err->message, "write failed");
        failed = true;
    }
    // Jumps only once the handler's frames are gone.
    if (failed) std::longjmp(err->jump, 1);
}

boolean jpegSinkEmpty(j_compress_ptr cinfo) {
    // Called when the whole buffer is full.
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    jpegSinkWrite(cinfo, sizeof sink->buffer);
    sink->pub.next_output_byte = sink->buffer;
    sink->pub.free_in_buffer = sizeof sink->buffer;
    return TRUE;
}

void jpegSinkTerm(j_compress_ptr cinfo) {
    auto* sink = reinterpret_cast<JpegSink*>(cinfo->dest);
    jpegSinkWrite(cinfo, sizeof sink->buffer - sink->pub.free_in_buffer);
}

struct JpegWriteState {
    jpeg_compress_struct cinfo;
    JpegErrorManager err;
    JpegSink sink;
    bool created;
    unsigned width, height;
    int components;
    bool cmyk;
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
    s->sink.pub.empty_output_buffer = jpegSinkEmpty;
    s->sink.pub.term_destination = jpegSinkTerm;
    s->cinfo.dest = &s->sink.pub;
    s->cinfo.image_width = s->width;
    s->cinfo.image_height = s->height;
    s->cinfo.input_components = s->components;
    s->cinfo.in_color_space = s->cmyk ? JCS_CMYK : s->components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&s->cinfo);
    // CMYK is stored as CMYK (not YCCK), with Adobe's marker, which says
    // the samples are inverted: they are given so.
    if (s->cmyk) jpeg_set_colorspace(&s->cinfo, JCS_CMYK);
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
    // The destination never suspends, so every row is taken.
    for (unsigned done = 0; done < s->bandRows;)
        done += jpeg_write_scanlines(&s->cinfo, s->rows + done, s->bandRows - done);
    return true;
}

bool jpegWriteFinish(JpegWriteState* s) {
    if (setjmp(s->err.jump)) return false;
    jpeg_finish_compress(&s->cinfo);
    return true;
}

}  // namespace

namespace {

// libjpeg's structures, released however the reader or writer ends (also
// when its constructor throws).
struct JpegReadRelease {
    void operator()(JpegReadState* s) const noexcept {
        if (s->created) jpeg_destroy_decompress(&s->cinfo);
        std::free(s->icc);
        delete s;
    }
};

struct JpegWriteRelease {
    void operator()(JpegWriteState* s) const noexcept {
        if (s->created) jpeg_destroy_compress(&s->cinfo);
        delete s;
    }
};

// Zeroed, as the stage functions expect.
template <class State, class Release>
std::unique_ptr<State, Release> zeroedState() {
    std::unique_ptr<State, Release> state(new State);
    std::memset(state.get(), 0, sizeof(State));
    return state;
}

class JpegReader final : public ImageReader {
public:
    JpegReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options);
    const StreamInfo& info() const noexcept override { return info_; }
    void readRows(unsigned char* band, std::uint32_t rows) override;
    void nextPage() override { failCodec(name(), "a JPEG file holds one page"); }

private:
    const std::string& name() const { return source_->name(); }
    // Passes on the damage the decoder stepped over: the first warning
    // once, and at the end how many more came.
    void reportDamage(bool atEnd);
    // Metadata segments read but not kept.
    void reportDroppedSegments();

    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<JpegReadState, JpegReadRelease> s_;
    StreamInfo info_;
    std::vector<JSAMPROW> rows_;
    ImageReadOptions options_;
    unsigned damageReported_ = 0;
};

void JpegReader::reportDamage(bool atEnd) {
    const unsigned count = s_->err.damageWarnings;
    if (damageReported_ == 0 && count > 0) {
        warnReading(options_, name(), std::string("damaged JPEG data was read past (") + s_->err.firstWarning + ")");
        damageReported_ = 1;
    }
    if (atEnd && count > damageReported_) {
        warnReading(options_, name(), std::to_string(count - damageReported_) + " more warning" +
                                          (count - damageReported_ > 1 ? "s" : "") + " of damaged JPEG data");
        damageReported_ = count;
    }
}

void JpegReader::reportDroppedSegments() {
    constexpr unsigned char kIccHeader[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};
    unsigned iccSegments = 0;
    unsigned exifSegments = 0;
    for (jpeg_saved_marker_ptr m = s_->cinfo.marker_list; m != nullptr; m = m->next) {
        if (m->marker == kIccMarker && m->data_length >= sizeof kIccHeader &&
            std::memcmp(m->data, kIccHeader, sizeof kIccHeader) == 0)
            ++iccSegments;
        if (m->marker == kExifMarker && m->data_length >= 4 && std::memcmp(m->data, "Exif", 4) == 0)
            ++exifSegments;
    }
    if (iccSegments > 0 && info_.metadata.iccProfile.empty())
        warnReading(options_, name(), "its ICC profile was left out: its " + std::to_string(iccSegments) +
                                          " APP2 segment" + (iccSegments > 1 ? "s do" : " does") +
                                          " not join into one profile (missing or repeated sequence numbers)");
    const unsigned keptExif = info_.metadata.exif.empty() ? 0 : 1;
    if (exifSegments > keptExif)
        warnReading(options_, name(), std::to_string(exifSegments - keptExif) + " EXIF segment" +
                                          (exifSegments - keptExif > 1 ? "s were" : " was") +
                                          " left out (" + (keptExif ? "only the first is kept" : "damaged header") +
                                          ")");
}

JpegReader::JpegReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options)
    : source_(std::move(source)), s_(zeroedState<JpegReadState, JpegReadRelease>()), options_(options) {
    options_.pool = nullptr;
    JpegReadState& s = *s_;
    s.source.input = source_.get();
    jpegInstallErrors(s.err);
    s.err.strict = options.strict;
    s.cinfo.err = &s.err.pub;
    s.progress.progress_monitor = jpegProgress;
    if (!jpegReadHeader(&s)) failCodec(name(), std::string("invalid JPEG data: ") + s.err.message);
    ImageMetadata& found = info_.metadata;
    if (s.cmyk) found.colour = s.cinfo.saw_Adobe_marker ? ColourModel::cmykInverted : ColourModel::cmyk;
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
    reportDroppedSegments();
    checkPixelLimit(name(), s.width, s.height, options, source_->size());
    // A progressive file is read whole here (its coefficients, 2 bytes a
    // sample), a sequential one only as far as its first rows.
    if (!jpegStart(&s)) failCodec(name(), std::string("invalid JPEG data: ") + s.err.message);
    reportDamage(false);
    info_.format = ImageFormat::jpeg;
    info_.page = {s.width, s.height, static_cast<std::uint32_t>(s.components), SampleType::uint8};
    // One row of MCUs is what the decoder works on at once.
    info_.bandRows = std::min<std::uint32_t>(s.height, static_cast<std::uint32_t>(s.cinfo.max_v_samp_factor) * DCTSIZE);
}

void JpegReader::readRows(unsigned char* band, std::uint32_t rows) {
    JpegReadState& s = *s_;
    const std::uint32_t done = s.cinfo.output_scanline;
    if (rows > s.height - done)
        failCodec(name(), "asked for rows past the last (" + std::to_string(done + rows) + " of " +
                              std::to_string(s.height) + ")");
    if (rows == 0) return;
    const std::size_t rowBytes = info_.page.rowBytes();
    rows_ = bandRowPointers<JSAMPROW>(band, rowBytes, rows);
    s.rows = rows_.data();
    s.bandRows = rows;
    if (!jpegReadBand(&s))
        failCodec(name(), "invalid JPEG data at row " + std::to_string(s.cinfo.output_scanline + 1) + ": " +
                              s.err.message);
    reportDamage(false);
    if (s.cinfo.output_scanline == s.height) {
        if (!jpegFinish(&s)) failCodec(name(), std::string("invalid JPEG data after the last row: ") + s.err.message);
        reportDamage(true);
    }
}

class JpegWriter final : public ImageWriter {
public:
    JpegWriter(ByteOutput& output, const StreamInfo& out, std::string_view name, const ImageWriteOptions& options);
    void writeRows(const unsigned char* band, std::uint32_t rows) override;
    void nextPage() override { failCodec(name_, "a JPEG file holds one page"); }
    void finish() override;

private:
    std::unique_ptr<JpegWriteState, JpegWriteRelease> s_;
    std::string name_;
    PageLayout in_;
    bool invert_ = false;             // CMYK into Adobe's inverted convention
    std::vector<unsigned char> row_;  // one converted row
};

JpegWriter::JpegWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                       const ImageWriteOptions& options)
    : s_(zeroedState<JpegWriteState, JpegWriteRelease>()), name_(name), in_(out.page) {
    validateLayoutForEncoding(in_, name);
    if (out.pages != 1) failCodec(name, "a JPEG file holds one page, not " + std::to_string(out.pages));
    if (in_.width > JPEG_MAX_DIMENSION || in_.height > JPEG_MAX_DIMENSION)
        failCodec(name, "the image is " + std::to_string(in_.width) + "x" + std::to_string(in_.height) +
                            ", larger than JPEG allows (" + std::to_string(JPEG_MAX_DIMENSION) + " a side)");
    if (options.jpegQuality < 1 || options.jpegQuality > 100)
        failCodec(name, "the JPEG quality must be 1 to 100, not " + std::to_string(options.jpegQuality));
    const bool cmyk = isCmyk(out.metadata.colour);
    if (cmyk && in_.channels != 4)
        failCodec(name, "a CMYK image has four channels, not " + std::to_string(in_.channels));
    const bool hasAlpha = !cmyk && (in_.channels == 2 || in_.channels == 4);
    const std::uint32_t components = cmyk ? 4 : in_.channels <= 2 ? 1 : 3;
    // Samples with no ink at 0 (as TIFF stores CMYK) are inverted into
    // Adobe's convention, which the marker written declares.
    invert_ = out.metadata.colour == ColourModel::cmyk;
    if (options.warning) {
        if (in_.type == SampleType::uint16)
            options.warning(std::string(name) + ": 16-bit samples reduced to 8 bits for JPEG");
        if (hasAlpha) options.warning(std::string(name) + ": alpha channel dropped (JPEG has none)");
    }
    JpegWriteState& s = *s_;
    jpegInstallErrors(s.err);
    s.cinfo.err = &s.err.pub;
    s.sink.output = &output;
    s.width = in_.width;
    s.height = in_.height;
    s.components = static_cast<int>(components);
    s.cmyk = cmyk;
    s.quality = options.jpegQuality;
    const ImageMetadata& metadata = out.metadata;
    std::vector<unsigned char> exifSegment;
    auto leftOut = [&](const std::string& what) {
        if (options.warning) options.warning(std::string(name) + ": " + what + "; left out");
    };
    const std::size_t exifSize = metadata.exif.size();
    if (exifSize > kMaxSegment - sizeof kExifHeader) {
        leftOut("the EXIF block has " + std::to_string(exifSize) + " bytes, more than a JPEG segment holds (" +
                std::to_string(kMaxSegment - sizeof kExifHeader) + ")");
    } else if (exifSize > 0) {
        exifSegment.assign(kExifHeader, kExifHeader + sizeof kExifHeader);
        const auto* e = reinterpret_cast<const unsigned char*>(metadata.exif.data());
        exifSegment.insert(exifSegment.end(), e, e + exifSize);
        s.exifSegment = exifSegment.data();
        s.exifSegmentSize = static_cast<unsigned>(exifSegment.size());
    }
    const std::size_t iccSize = metadata.iccProfile.size();
    if (iccSize > kMaxIccBytes) {
        leftOut("the ICC profile has " + std::to_string(iccSize) + " bytes, more than JPEG holds (" +
                std::to_string(kMaxIccBytes) + ")");
    } else if (iccSize > 0) {
        s.icc = reinterpret_cast<const JOCTET*>(metadata.iccProfile.data());
        s.iccSize = static_cast<unsigned>(iccSize);
    }
    if (!jpegWriteStart(&s)) failCodec(name, std::string("JPEG encoding failed: ") + s.err.message);
    s.exifSegment = nullptr;
    s.icc = nullptr;
    if (in_.type != SampleType::uint8 || hasAlpha || invert_) row_.resize(std::size_t{in_.width} * components);
}

void JpegWriter::writeRows(const unsigned char* band, std::uint32_t rows) {
    JpegWriteState& s = *s_;
    const std::uint32_t done = s.cinfo.next_scanline;
    if (rows > s.height - done)
        failCodec(name_, "given rows past the last (" + std::to_string(done + rows) + " of " +
                             std::to_string(s.height) + ")");
    const std::size_t rowBytes = in_.rowBytes();
    if (row_.empty()) {
        // libjpeg only reads the rows it is given.
        std::vector<JSAMPROW> pointers =
            bandRowPointers<JSAMPROW>(const_cast<unsigned char*>(band), rowBytes, rows);
        s.rows = pointers.data();
        s.bandRows = rows;
        if (!jpegWriteBand(&s)) failCodec(name_, std::string("JPEG encoding failed: ") + s.err.message);
        return;
    }
    // The colour samples come first in every layout, so dropping alpha is
    // skipping the last sample of each pixel.
    const std::uint32_t channels = in_.channels;
    const std::uint32_t components = static_cast<std::uint32_t>(s.components);
    JSAMPROW pointer = row_.data();
    s.rows = &pointer;
    s.bandRows = 1;
    for (std::uint32_t r = 0; r < rows; ++r) {
        const unsigned char* in = band + r * rowBytes;
        for (std::uint32_t x = 0; x < in_.width; ++x)
            for (std::uint32_t c = 0; c < components; ++c) {
                const std::size_t at = std::size_t{x} * channels + c;
                if (in_.type == SampleType::uint8) {
                    row_[std::size_t{x} * components + c] = in[at];
                } else {
                    std::uint16_t v;
                    std::memcpy(&v, in + at * 2, 2);
                    // Nearest 8-bit value of v/257; (v + 128)/257 never ties.
                    row_[std::size_t{x} * components + c] = static_cast<unsigned char>((unsigned{v} + 128) / 257);
                }
                if (invert_) row_[std::size_t{x} * components + c] ^= 0xff;
            }
        if (!jpegWriteBand(&s)) failCodec(name_, std::string("JPEG encoding failed: ") + s.err.message);
    }
}

void JpegWriter::finish() {
    JpegWriteState& s = *s_;
    if (s.cinfo.next_scanline != s.height)
        failCodec(name_, "the image ended after " + std::to_string(s.cinfo.next_scanline) + " of " +
                             std::to_string(s.height) + " rows");
    if (!jpegWriteFinish(&s)) failCodec(name_, std::string("JPEG encoding failed: ") + s.err.message);
}

}  // namespace

bool looksLikeJpeg(std::span<const std::byte> bytes) noexcept {
    return bytes.size() >= 3 && bytes[0] == std::byte{0xff} && bytes[1] == std::byte{0xd8} &&
           bytes[2] == std::byte{0xff};
}

std::unique_ptr<ImageReader> openJpegReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options) {
    return std::make_unique<JpegReader>(std::move(source), options);
}

std::unique_ptr<ImageWriter> openJpegWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options) {
    return std::make_unique<JpegWriter>(output, out, name, options);
}

Image decodeJpeg(std::span<const std::byte> bytes, std::string_view name, const ImageReadOptions& options,
                 ImageMetadata* metadata) {
    if (!looksLikeJpeg(bytes)) failCodec(name, "not a JPEG file" + contentHint(bytes));
    JpegReader reader(ByteSource::overBytes(bytes, std::string(name)), options);
    ImageFile file = readAllPages(reader, options);
    if (metadata != nullptr) *metadata = std::move(file.metadata);
    return std::move(file.pages.front());
}

std::vector<std::byte> encodeJpeg(const Image& image, std::string_view name, const ImageWriteOptions& options,
                                  const ImageMetadata* metadata) {
    validateForEncoding(image, name);
    StreamInfo out = streamInfoOf(image, ImageFormat::jpeg);
    if (metadata != nullptr) out.metadata = *metadata;
    VectorOutput output;
    JpegWriter writer(output, out, name, options);
    writePage(writer, image);
    writer.finish();
    return std::move(output.bytes());
}

}  // namespace axiswarp::tools
