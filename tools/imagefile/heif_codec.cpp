#include "imagefile/heif_codec.hpp"

#include "imagefile/codec_support.hpp"
#include "imagefile/exif_orientation.hpp"
#include "imagefile/format_registry.hpp"
#include "imagefile/input_bytes.hpp"
#include "imagefile/whole_page_codec.hpp"

#include <libheif/heif.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <initializer_list>
#include <limits>
#include <string>

namespace axiswarp::tools {

namespace {

// libheif registers its built-in codecs on first use; heif_init makes that
// explicit and thread-safe. Never undone: the process keeps them.
void initLibheif() noexcept {
    static const bool done = [] {
        heif_init(nullptr);
        return true;
    }();
    (void)done;
}

heif_compression_format compressionOf(HeifCoding coding) noexcept {
    switch (coding) {
        case HeifCoding::hevc: return heif_compression_HEVC;
        case HeifCoding::av1: return heif_compression_AV1;
        case HeifCoding::vvc: return heif_compression_VVC;
    }
    return heif_compression_undefined;
}

const char* formatName(HeifCoding coding) noexcept {
    switch (coding) {
        case HeifCoding::hevc: return "HEIC (HEVC)";
        case HeifCoding::av1: return "AVIF (AV1)";
        case HeifCoding::vvc: return "HEIF with VVC";
    }
    return "HEIF";
}

struct ContextFree {
    void operator()(heif_context* context) const noexcept { heif_context_free(context); }
};
struct HandleRelease {
    void operator()(const heif_image_handle* handle) const noexcept { heif_image_handle_release(handle); }
};
struct ImageRelease {
    void operator()(const heif_image* image) const noexcept { heif_image_release(image); }
};
struct EncoderRelease {
    void operator()(heif_encoder* encoder) const noexcept { heif_encoder_release(encoder); }
};
struct DecodingOptionsFree {
    void operator()(heif_decoding_options* options) const noexcept { heif_decoding_options_free(options); }
};
struct EncodingOptionsFree {
    void operator()(heif_encoding_options* options) const noexcept { heif_encoding_options_free(options); }
};

using Context = std::unique_ptr<heif_context, ContextFree>;
using Handle = std::unique_ptr<const heif_image_handle, HandleRelease>;
using HeifImage = std::unique_ptr<heif_image, ImageRelease>;

// libheif's message, on one line: some end in a line break.
std::string messageOf(const heif_error& error) {
    std::string text = error.message != nullptr ? error.message : "";
    for (char& ch : text)
        if (ch == '\n' || ch == '\r') ch = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text.empty() ? "libheif error " + std::to_string(error.code) : text;
}

// The first block of Exif metadata, as ImageMetadata keeps it. The item
// starts with a 4-byte big-endian offset from its fifth byte to the TIFF
// header (past an "Exif\0\0" when a writer kept one).
std::vector<std::byte> exifOf(const heif_image_handle* handle) {
    heif_item_id id;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) != 1) return {};
    const std::size_t size = heif_image_handle_get_metadata_size(handle, id);
    if (size < 4) return {};
    std::vector<std::byte> item(size);
    if (heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok) return {};
    const std::uint32_t offset = (std::to_integer<std::uint32_t>(item[0]) << 24) |
                                 (std::to_integer<std::uint32_t>(item[1]) << 16) |
                                 (std::to_integer<std::uint32_t>(item[2]) << 8) | std::to_integer<std::uint32_t>(item[3]);
    if (offset > size - 4) return {};
    return bareExif(std::span(item).subspan(4 + offset));
}

std::vector<std::byte> iccProfileOf(const heif_image_handle* handle) {
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_rICC && type != heif_color_profile_type_prof) return {};
    std::vector<std::byte> profile(heif_image_handle_get_raw_color_profile_size(handle));
    if (profile.empty() || heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
        return {};
    return profile;
}

class HeifReader final : public WholePageReader {
public:
    HeifReader(std::string name, StreamInfo info, std::vector<std::byte> storage, Context context, Handle handle)
        : WholePageReader(std::move(name), std::move(info)), storage_(std::move(storage)),
          context_(std::move(context)), handle_(std::move(handle)) {}

private:
    void decode() override {
        const PageLayout& page = info().page;
        const std::unique_ptr<heif_decoding_options, DecodingOptionsFree> options(heif_decoding_options_alloc());
        if (!options) failCodec(name(), "out of memory while decoding");
        options->convert_hdr_to_8bit = 1;
        heif_image* decoded = nullptr;
        const heif_error error =
            heif_decode_image(handle_.get(), &decoded, heif_colorspace_RGB,
                              page.channels == 4 ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              options.get());
        image_.reset(decoded);
        if (error.code != heif_error_Ok) failCodec(name(), "invalid HEIF data: " + messageOf(error));
        // The header's extents were checked against the limit and the
        // caller's buffers were sized by them; a coded image that decodes to
        // another size is refused rather than trusted.
        const int width = heif_image_get_width(image_.get(), heif_channel_interleaved);
        const int height = heif_image_get_height(image_.get(), heif_channel_interleaved);
        int stride = 0;
        plane_ = heif_image_get_plane_readonly(image_.get(), heif_channel_interleaved, &stride);
        if (plane_ == nullptr || width < 0 || height < 0 || static_cast<std::uint32_t>(width) != page.width ||
            static_cast<std::uint32_t>(height) != page.height)
            failCodec(name(), "invalid HEIF data: the image decodes to " + std::to_string(width) + "x" +
                                  std::to_string(height) + " where its header says " + std::to_string(page.width) +
                                  "x" + std::to_string(page.height));
        if (stride < 0 || static_cast<std::size_t>(stride) < page.rowBytes())
            failCodec(name(), "invalid HEIF data: libheif gave rows shorter than the image's width");
        stride_ = static_cast<std::size_t>(stride);
    }
    const unsigned char* row(std::uint32_t y) const override { return plane_ + y * stride_; }

    std::vector<std::byte> storage_;  // read by libheif until decoded
    Context context_;
    Handle handle_;
    HeifImage image_;
    const std::uint8_t* plane_ = nullptr;
    std::size_t stride_ = 0;
};

class HeifWriter final : public ImageWriter {
public:
    HeifWriter(ByteOutput& output, const StreamInfo& out, std::string_view name, const ImageWriteOptions& options,
               HeifCoding coding)
        : output_(output), name_(name), page_(name, out, formatName(coding), kMaxSide, options),
          metadata_(out.metadata), quality_(std::clamp(options.jpegQuality, 1, 100)), coding_(coding) {}

    void writeRows(const unsigned char* band, std::uint32_t rows) override { page_.append(band, rows); }
    void nextPage() override { failCodec(name_, "HEIF output holds one image; write a stack as .tif"); }
    void finish() override;

private:
    // libheif takes extents as int, and the encoders go no further.
    static constexpr std::uint32_t kMaxSide = 65535;

    void fail(const std::string& what, const heif_error& error) const {
        failCodec(name_, what + ": " + messageOf(error));
    }

    ByteOutput& output_;
    std::string name_;
    Rgb8Page page_;
    ImageMetadata metadata_;
    int quality_;
    HeifCoding coding_;
};

void HeifWriter::finish() {
    page_.checkComplete();
    const std::string format = formatName(coding_);
    const Context context(heif_context_alloc());
    if (!context) failCodec(name_, "out of memory while writing " + format);
    heif_encoder* rawEncoder = nullptr;
    heif_error error = heif_context_get_encoder_for_format(context.get(), compressionOf(coding_), &rawEncoder);
    const std::unique_ptr<heif_encoder, EncoderRelease> encoder(rawEncoder);
    if (error.code != heif_error_Ok) fail("libheif has no " + format + " encoder", error);
    if ((error = heif_encoder_set_lossy_quality(encoder.get(), quality_)).code != heif_error_Ok)
        fail("the encoder refused the quality", error);

    heif_image* rawImage = nullptr;
    error = heif_image_create(static_cast<int>(page_.width()), static_cast<int>(page_.height()), heif_colorspace_RGB,
                              page_.hasAlpha() ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB,
                              &rawImage);
    const HeifImage image(rawImage);
    if (error.code != heif_error_Ok) fail("cannot make the image to encode", error);
    error = heif_image_add_plane(image.get(), heif_channel_interleaved, static_cast<int>(page_.width()),
                                 static_cast<int>(page_.height()), 8);
    if (error.code != heif_error_Ok) fail("cannot make the image to encode", error);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    if (plane == nullptr || stride < 0 || static_cast<std::size_t>(stride) < page_.stride())
        failCodec(name_, "libheif gave no room for the image's rows");
    for (std::uint32_t y = 0; y < page_.height(); ++y)
        std::memcpy(plane + std::size_t{y} * static_cast<std::size_t>(stride), page_.data() + y * page_.stride(),
                    page_.stride());
    if (!metadata_.iccProfile.empty()) {
        error = heif_image_set_raw_color_profile(image.get(), "prof", metadata_.iccProfile.data(),
                                                 metadata_.iccProfile.size());
        if (error.code != heif_error_Ok) fail("cannot attach the ICC profile", error);
    }

    const std::unique_ptr<heif_encoding_options, EncodingOptionsFree> options(heif_encoding_options_alloc());
    if (!options) failCodec(name_, "out of memory while writing " + format);
    // The orientation becomes the file's own rotation and mirroring, which
    // readers apply; the EXIF tag says 1 so that none applies it twice.
    options->image_orientation = static_cast<heif_orientation>(metadata_.orientation);
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_encode_image(context.get(), image.get(), encoder.get(), options.get(), &rawHandle);
    const Handle handle(rawHandle);
    if (error.code != heif_error_Ok) fail(format + " encoding failed", error);
    ImageMetadata upright = metadata_;
    upright.orientation = 1;
    const std::vector<std::byte> exif = exifToWrite(upright);
    if (!exif.empty()) {
        if (exif.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
            failCodec(name_, "the EXIF block is too large for libheif");
        error = heif_context_add_exif_metadata(context.get(), handle.get(), exif.data(), static_cast<int>(exif.size()));
        if (error.code != heif_error_Ok) fail("cannot store the EXIF block", error);
    }

    // libheif hands the file over in one piece; an exception from the
    // output must not cross its C frames, so it is carried over them.
    struct Sink {
        ByteOutput* output;
        std::exception_ptr failure;
    } sink{&output_, nullptr};
    heif_writer writer{};
    writer.writer_api_version = 1;
    writer.write = [](heif_context*, const void* data, std::size_t size, void* userdata) -> heif_error {
        auto* s = static_cast<Sink*>(userdata);
        try {
            s->output->write(std::span(static_cast<const std::byte*>(data), size));
        } catch (...) {
            s->failure = std::current_exception();
            return {heif_error_Encoding_error, heif_suberror_Unspecified, "the output could not be written"};
        }
        return {heif_error_Ok, heif_suberror_Unspecified, ""};
    };
    error = heif_context_write(context.get(), &writer, &sink);
    if (sink.failure) std::rethrow_exception(sink.failure);
    if (error.code != heif_error_Ok) fail("cannot write the file", error);
}

bool isHeifBrand(const std::byte* brand) noexcept {
    static constexpr const char* kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                              "mif1", "msf1", "avif", "avis", "mif2"};
    return std::any_of(std::begin(kBrands), std::end(kBrands),
                       [&](const char* b) { return std::memcmp(brand, b, 4) == 0; });
}

}  // namespace

std::optional<ImageFormat> heifFormatOf(std::span<const std::byte> head) noexcept {
    // A file-type box: size, "ftyp", major brand, minor version, then
    // compatible brands to the box's end.
    if (head.size() < 16 || std::memcmp(head.data() + 4, "ftyp", 4) != 0) return std::nullopt;
    const std::uint32_t boxSize = (std::to_integer<std::uint32_t>(head[0]) << 24) |
                                  (std::to_integer<std::uint32_t>(head[1]) << 16) |
                                  (std::to_integer<std::uint32_t>(head[2]) << 8) | std::to_integer<std::uint32_t>(head[3]);
    if (boxSize < 16) return std::nullopt;
    const std::byte* major = head.data() + 8;
    auto is = [](const std::byte* brand, std::initializer_list<const char*> names) {
        return std::any_of(names.begin(), names.end(), [&](const char* b) { return std::memcmp(brand, b, 4) == 0; });
    };
    bool heif = isHeifBrand(major);
    // Files whose major brand is the generic "mif1" tell their coding by
    // the compatible brands that follow.
    bool av1Brand = false;
    bool hevcBrand = false;
    const std::size_t end = std::min<std::size_t>(boxSize, head.size());
    for (std::size_t at = 16; at + 4 <= end; at += 4) {
        heif = heif || isHeifBrand(head.data() + at);
        av1Brand = av1Brand || is(head.data() + at, {"avif", "avis"});
        hevcBrand = hevcBrand || is(head.data() + at, {"heic", "heix", "heim", "heis", "hevc", "hevx"});
    }
    if (!heif) return std::nullopt;
    const bool av1 = is(major, {"avif", "avis"}) || (is(major, {"mif1", "msf1", "mif2"}) && av1Brand && !hevcBrand);
    return av1 ? ImageFormat::avif : ImageFormat::heif;
}

bool looksLikeHeif(std::span<const std::byte> head) noexcept { return heifFormatOf(head).has_value(); }

bool heifCanEncode(HeifCoding coding) noexcept {
    initLibheif();
    return heif_have_encoder_for_format(compressionOf(coding)) != 0;
}

std::unique_ptr<ImageReader> openHeifReader(std::unique_ptr<ByteSource> source, const ImageReadOptions& options) {
    initLibheif();
    const std::string name = source->name();
    std::vector<std::byte> storage;
    const std::span<const std::byte> bytes = inputBytes(*source, storage);
    if (bytes.empty()) failCodec(name, "the file is empty");
    const std::optional<ImageFormat> format = heifFormatOf(bytes);
    if (!format) failCodec(name, "not a HEIF or AVIF file" + contentHint(bytes));

    Context context(heif_context_alloc());
    if (!context) failCodec(name, "out of memory while reading");
    // A file read here stays where it is (storage moves into the reader with
    // its buffer unchanged), so libheif need not copy it; the caller's bytes
    // are copied, as they need not outlive the reader.
    heif_error error =
        storage.empty() ? heif_context_read_from_memory(context.get(), bytes.data(), bytes.size(), nullptr)
                        : heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr);
    if (error.code != heif_error_Ok) failCodec(name, "invalid HEIF data: " + messageOf(error));
    heif_image_handle* rawHandle = nullptr;
    error = heif_context_get_primary_image_handle(context.get(), &rawHandle);
    Handle handle(rawHandle);
    if (error.code != heif_error_Ok) failCodec(name, "invalid HEIF data: " + messageOf(error));

    // The extents after the file's rotation and cropping, as decoded.
    const int width = heif_image_handle_get_width(handle.get());
    const int height = heif_image_handle_get_height(handle.get());
    if (width <= 0 || height <= 0)
        failCodec(name, "invalid HEIF data: the image is " + std::to_string(width) + "x" + std::to_string(height));
    checkPixelLimit(name, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height), options,
                    bytes.size());

    StreamInfo info;
    info.format = *format;
    info.page = {static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height),
                 heif_image_handle_has_alpha_channel(handle.get()) ? 4u : 3u, SampleType::uint8};
    info.bandRows = std::min<std::uint32_t>(info.page.height, 64);
    info.metadata.iccProfile = iccProfileOf(handle.get());
    info.metadata.exif = exifOf(handle.get());
    if (exifOrientationTag(info.metadata.exif).value_or(1) != 1) info.metadata.exif = exifWithOrientation(info.metadata.exif, 1);
    info.metadata.orientation = 1;
    return std::make_unique<HeifReader>(name, std::move(info), std::move(storage), std::move(context),
                                        std::move(handle));
}

std::unique_ptr<ImageReader> openHeifReader(const ImageInput& input, const ImageReadOptions& options) {
    return openHeifReader(ByteSource::open(input, options), options);
}

std::unique_ptr<ImageWriter> openHeifWriter(ByteOutput& output, const StreamInfo& out, std::string_view name,
                                            const ImageWriteOptions& options, HeifCoding coding) {
    if (!heifCanEncode(coding))
        failCodec(name, std::string("cannot write ") + formatName(coding) +
                            ": this machine's libheif has no encoder for it; choose another output format");
    return std::make_unique<HeifWriter>(output, out, name, options, coding);
}

}  // namespace axiswarp::tools
