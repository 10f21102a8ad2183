#include "imagefile/webp_codec.hpp"

#include "imagefile/codec_support.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/exif_orientation.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/input_bytes.hpp"
#include "imagefile/whole_page_codec.hpp"
#include "imagefile/xmp_orientation.hpp"

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace axiswarp::tools {

namespace {

// The format's own limit on either side (14-bit fields).
constexpr std::uint32_t kMaxSide = WEBP_MAX_DIMENSION;

std::string statusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY: return "out of memory";
        case VP8_STATUS_BITSTREAM_ERROR: return "the data is damaged";
        case VP8_STATUS_UNSUPPORTED_FEATURE: return "it uses a feature libwebp does not support";
        case VP8_STATUS_NOT_ENOUGH_DATA: return "the file is truncated";
        default: return "libwebp status " + std::to_string(static_cast<int>(status));
    }
}

std::string encodingErrorText(WebPEncodingError error) {
    switch (error) {
        case VP8_ENC_ERROR_OUT_OF_MEMORY:
        case VP8_ENC_ERROR_BITSTREAM_OUT_OF_MEMORY: return "out of memory";
        case VP8_ENC_ERROR_PARTITION0_OVERFLOW:
        case VP8_ENC_ERROR_PARTITION_OVERFLOW: return "the compressed data outgrew WebP's partition sizes";
        case VP8_ENC_ERROR_FILE_TOO_BIG: return "the file would be larger than 4 GiB";
        default: return "libwebp error " + std::to_string(static_cast<int>(error));
    }
}

struct DemuxDelete {
    void operator()(WebPDemuxer* demux) const noexcept { WebPDemuxDelete(demux); }
};
struct MuxDelete {
    void operator()(WebPMux* mux) const noexcept { WebPMuxDelete(mux); }
};

// The payload of the first chunk named `fourcc`, empty when none.
std::vector<std::byte> chunk(WebPDemuxer* demux, const char* fourcc) {
    WebPChunkIterator it;
    std::vector<std::byte> bytes;
    if (WebPDemuxGetChunk(demux, fourcc, 1, &it)) {
        const auto* data = reinterpret_cast<const std::byte*>(it.chunk.bytes);
        bytes.assign(data, data + it.chunk.size);
    }
    WebPDemuxReleaseChunkIterator(&it);
    return bytes;
}

class WebpReader final : public WholePageReader {
public:
    WebpReader(std::string name, StreamInfo info, std::vector<std::byte> storage, std::span<const std::byte> bytes)
        : WholePageReader(std::move(name), std::move(info)), storage_(std::move(storage)),
          bytes_(storage_.empty() ? bytes : std::span<const std::byte>(storage_)) {}

private:
    void decode() override {
        const PageLayout& page = info().page;
        pixels_.resize(bufferBytes(name(), page.rowBytes(), page.height));
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes_.data());
        const int stride = static_cast<int>(page.rowBytes());  // at most 4 * 16383
        const std::uint8_t* done =
            page.channels == 4 ? WebPDecodeRGBAInto(data, bytes_.size(), pixels_.data(), pixels_.size(), stride)
                               : WebPDecodeRGBInto(data, bytes_.size(), pixels_.data(), pixels_.size(), stride);
        if (done == nullptr) failCodec(name(), "invalid WebP data: the image data is damaged or truncated");
        // The encoded bytes are no longer needed.
        std::vector<std::byte>().swap(storage_);
        bytes_ = {};
    }
    const unsigned char* row(std::uint32_t y) const override {
        return pixels_.data() + std::size_t{y} * info().page.rowBytes();
    }

    std::vector<std::byte> storage_;
    std::span<const std::byte> bytes_;
    std::vector<std::uint8_t> pixels_;
};

class WebpWriter final : public ImageWriter {
public:
    WebpWriter(ByteOutput& output, const StreamInfo& out, std::string_view name, const ImageWriteOptions& options,
               WebpCompression compression)
        : output_(output), name_(name), page_(name, out, "WebP", kMaxSide, options), metadata_(out.metadata),
          quality_(std::clamp(options.jpegQuality, 1, 100)), compression_(compression) {}

    void writeRows(const unsigned char* band, std::uint32_t rows) override { page_.append(band, rows); }
    void nextPage() override { failCodec(name_, "WebP holds one page; write a stack as .tif"); }
    void finish() override;

private:
    std::vector<std::uint8_t> encodeBitstream() const;

    ByteOutput& output_;
    std::string name_;
    Rgb8Page page_;
    ImageMetadata metadata_;
    int quality_;
    WebpCompression compression_;
};

std::vector<std::uint8_t> WebpWriter::encodeBitstream() const {
    WebPConfig config;
    if (!WebPConfigInit(&config)) failCodec(name_, "libwebp's encoder does not match its header");
    if (compression_ == WebpCompression::lossless) {
        config.lossless = 1;
        // Keep the colour under fully transparent pixels too: a lossless
        // file gives back every sample written.
        config.exact = 1;
    } else {
        config.quality = static_cast<float>(quality_);
    }
    if (!WebPValidateConfig(&config)) failCodec(name_, "libwebp refused its encoder settings");

    WebPPicture picture;
    if (!WebPPictureInit(&picture)) failCodec(name_, "libwebp's encoder does not match its header");
    struct PictureFree {
        WebPPicture* p;
        ~PictureFree() { WebPPictureFree(p); }
    } freePicture{&picture};
    picture.use_argb = config.lossless;
    picture.width = static_cast<int>(page_.width());
    picture.height = static_cast<int>(page_.height());
    const int stride = static_cast<int>(page_.stride());
    const int imported = page_.hasAlpha() ? WebPPictureImportRGBA(&picture, page_.data(), stride)
                                          : WebPPictureImportRGB(&picture, page_.data(), stride);
    if (!imported) failCodec(name_, "out of memory while encoding WebP");

    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    struct MemoryClear {
        WebPMemoryWriter* m;
        ~MemoryClear() { WebPMemoryWriterClear(m); }
    } clearMemory{&memory};
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory;
    if (!WebPEncode(&config, &picture))
        failCodec(name_, "WebP encoding failed: " + encodingErrorText(picture.error_code));
    return {memory.mem, memory.mem + memory.size};
}

void WebpWriter::finish() {
    page_.checkComplete();
    const std::vector<std::uint8_t> bitstream = encodeBitstream();
    const std::vector<std::byte> exif = exifToWrite(metadata_);
    if (metadata_.iccProfile.empty() && exif.empty()) {
        output_.write(std::as_bytes(std::span(bitstream)));
        return;
    }
    // The extended format: a VP8X header, then ICCP, the image, EXIF.
    std::unique_ptr<WebPMux, MuxDelete> mux(WebPMuxNew());
    if (!mux) failCodec(name_, "out of memory while writing WebP");
    const WebPData image{bitstream.data(), bitstream.size()};
    if (WebPMuxSetImage(mux.get(), &image, 0) != WEBP_MUX_OK) failCodec(name_, "libwebp could not place the image");
    auto setChunk = [&](const char* fourcc, const std::vector<std::byte>& bytes, const char* what) {
        if (bytes.empty()) return;
        const WebPData data{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()};
        if (WebPMuxSetChunk(mux.get(), fourcc, &data, 0) != WEBP_MUX_OK)
            failCodec(name_, std::string("libwebp could not store the ") + what);
    };
    setChunk("ICCP", metadata_.iccProfile, "ICC profile");
    setChunk("EXIF", exif, "EXIF block");
    WebPData assembled;
    WebPDataInit(&assembled);
    const WebPMuxError error = WebPMuxAssemble(mux.get(), &assembled);
    struct DataClear {
        WebPData* d;
        ~DataClear() { WebPDataClear(d); }
    } clearAssembled{&assembled};
    if (error != WEBP_MUX_OK)
        failCodec(name_, "libwebp could not assemble the file (error " + std::to_string(static_cast<int>(error)) + ")");
    output_.write(std::as_bytes(std::span(assembled.bytes, assembled.size)));
}

}  // namespace

bool looksLikeWebp(std::span<const std::byte> head) noexcept {
    return head.size() >= 12 && std::memcmp(head.data(), "RIFF", 4) == 0 &&
           std::memcmp(head.data() + 8, "WEBP", 4) == 0;
}

std::unique_ptr<ImageReader> openWebpReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options) {
    const std::string name = source->name();
    std::vector<std::byte> storage;
    const std::span<const std::byte> bytes = inputBytes(*source, storage);
    if (bytes.empty()) failCodec(name, "the file is empty");
    if (!looksLikeWebp(bytes)) failCodec(name, "not a WebP file" + contentHint(bytes));
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());

    WebPBitstreamFeatures features;
    const VP8StatusCode status = WebPGetFeatures(data, bytes.size(), &features);
    if (status != VP8_STATUS_OK) failCodec(name, "invalid WebP data: " + statusText(status));
    if (features.has_animation)
        failCodec(name, "is an animated WebP, which is not supported; save one frame as a still image");
    if (features.width <= 0 || features.height <= 0)
        failCodec(name, "invalid WebP data: the header gives no image size");
    checkPixelLimit(name, static_cast<std::uint64_t>(features.width), static_cast<std::uint64_t>(features.height),
                    options, bytes.size());

    StreamInfo info;
    info.format = ImageFormat::webp;
    info.page = {static_cast<std::uint32_t>(features.width), static_cast<std::uint32_t>(features.height),
                 features.has_alpha ? 4u : 3u, SampleType::uint8};
    // Rows are copied out of the decoded page, so any count costs the same;
    // a moderate band keeps the caller's buffer small.
    info.bandRows = std::min<std::uint32_t>(info.page.height, 64);

    // The container's chunks. A simple file (no VP8X header) has none; the
    // demuxer refuses a file whose chunk sizes run past its end.
    const WebPData whole{data, bytes.size()};
    const std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemux(&whole));
    if (!demux) failCodec(name, "invalid WebP data: the file's chunks are damaged or truncated");
    const std::uint32_t flags = WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS);
    if (flags & ICCP_FLAG) info.metadata.iccProfile = chunk(demux.get(), "ICCP");
    if (flags & EXIF_FLAG) info.metadata.exif = bareExif(chunk(demux.get(), "EXIF"));
    if (const std::optional<int> tag = exifOrientationTag(info.metadata.exif)) {
        info.metadata.orientation = validOrientation(*tag);
    } else if (flags & XMP_FLAG) {
        if (const std::optional<int> orientation = xmpOrientation(chunk(demux.get(), "XMP ")))
            info.metadata.orientation = validOrientation(*orientation);
    }
    // A file read whole is held by the reader; bytes in memory stay the
    // caller's, as for every reader.
    return std::make_unique<WebpReader>(name, std::move(info), std::move(storage), bytes);
}

std::unique_ptr<ImageReader> openWebpReader(const ImageInput& input, const ImageReadOptions& options) {
    return openWebpReader(ByteSource::open(input, options), options);
}

std::unique_ptr<ImageWriter> openWebpWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options, WebpCompression compression) {
    return std::make_unique<WebpWriter>(output, out, name, options, compression);
}

std::unique_ptr<ImageWriter> openWebpWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options) {
    return openWebpWriter(output, out, name, options, WebpCompression::lossy);
}

}  // namespace axiswarp::tools
