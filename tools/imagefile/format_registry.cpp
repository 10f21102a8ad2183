#include "imagefile/format_registry.hpp"

#include "imagefile/cmyk_conversion.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/exif_orientation.hpp"
#include "imagefile/jpeg_codec.hpp"
#include "imagefile/png_codec.hpp"
#include "imagefile/tiff_codec.hpp"
#include "imagefile/xmp_orientation.hpp"
#if AXISWARP_HAVE_WEBP
#include "imagefile/webp_codec.hpp"
#endif
#if AXISWARP_HAVE_HEIF
#include "imagefile/heif_codec.hpp"
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

namespace axiswarp::tools {

namespace {

using enum SampleType;

constexpr std::string_view kPngExtensions[] = {".png"};
constexpr std::string_view kJpegExtensions[] = {".jpg", ".jpeg"};
constexpr std::string_view kTiffExtensions[] = {".tif", ".tiff"};
constexpr SampleType kUnsigned8And16[] = {uint8, uint16};
constexpr SampleType kUnsigned8[] = {uint8};
constexpr SampleType kUnsigned16[] = {uint16};
constexpr SampleType kEveryType[] = {uint8, uint16, uint32, int8, int16, int32, float32, float64};

#if AXISWARP_HAVE_WEBP
constexpr std::string_view kWebpExtensions[] = {".webp"};
#endif
#if AXISWARP_HAVE_HEIF
constexpr std::string_view kHeifExtensions[] = {".heic", ".heif"};
constexpr std::string_view kAvifExtensions[] = {".avif"};

bool looksLikeHeic(std::span<const std::byte> head) noexcept { return heifFormatOf(head) == ImageFormat::heif; }
bool looksLikeAvif(std::span<const std::byte> head) noexcept { return heifFormatOf(head) == ImageFormat::avif; }
#endif

const ImageFormatEntry kFormats[] = {
    {ImageFormat::png, "PNG", kPngExtensions, looksLikePng, openPngReader, openPngWriter, nullptr, kUnsigned8And16,
     {}, 1, true, true, true, true, false},
    {ImageFormat::jpeg, "JPEG", kJpegExtensions, looksLikeJpeg, openJpegReader, openJpegWriter, nullptr, kUnsigned8,
     kUnsigned16, 1, false, true, true, true, true},
    {ImageFormat::tiff, "TIFF", kTiffExtensions, looksLikeTiff, openTiffReader, openTiffWriter, nullptr, kEveryType,
     {}, 65535, true, true, false, false, true},
#if AXISWARP_HAVE_WEBP
    {ImageFormat::webp, "WebP", kWebpExtensions, looksLikeWebp, openWebpReader, openWebpWriter, webpCanEncode,
     kUnsigned8, kUnsigned16, 1, true, true, true, true, false},
#endif
#if AXISWARP_HAVE_HEIF
    // libheif applies the file's own rotation while decoding, and its
    // reader reports the orientation as 1: nothing for the registry to read.
    {ImageFormat::heif, "HEIF", kHeifExtensions, looksLikeHeic, openHeifReader, openHeicWriter, heicCanEncode,
     kUnsigned8, kUnsigned16, 1, true, true, true, false, false},
    {ImageFormat::avif, "AVIF", kAvifExtensions, looksLikeAvif, openHeifReader, openAvifWriter, avifCanEncode,
     kUnsigned8, kUnsigned16, 1, true, true, true, false, false},
#endif
};

// "PNG (.png), JPEG (.jpg, .jpeg), TIFF (.tif, .tiff)"
std::string supportedList() {
    std::string list;
    for (const ImageFormatEntry& entry : kFormats) {
        if (!list.empty()) list += ", ";
        list += std::string(entry.name) + " (";
        bool first = true;
        for (std::string_view ext : entry.extensions) {
            if (!first) list += ", ";
            list += ext;
            first = false;
        }
        list += ")";
    }
    return list;
}

// Formats people try; named in the refusal so it reads as "not supported"
// rather than "broken file".
std::string_view knownUnsupported(std::span<const std::byte> b) noexcept {
    auto starts = [&](std::string_view magic) {
        return b.size() >= magic.size() && std::memcmp(b.data(), magic.data(), magic.size()) == 0;
    };
    if (starts("GIF87a") || starts("GIF89a")) return "GIF";
    if (starts("BM")) return "BMP";
#if !AXISWARP_HAVE_WEBP
    if (b.size() >= 12 && starts("RIFF") && std::memcmp(b.data() + 8, "WEBP", 4) == 0) return "WebP";
#endif
#if !AXISWARP_HAVE_HEIF
    if (b.size() >= 12 && std::memcmp(b.data() + 4, "ftyp", 4) == 0) return "HEIF or AVIF";
#endif
    return {};
}

// The reader with the orientation its EXIF block gives: read here, once,
// for every format that keeps it there. A block without the tag leaves the
// orientation the reader found elsewhere (XMP, a PNG text chunk); an
// invalid value (0, above 8) is upright.
class ExifOrientedReader final : public ImageReader {
public:
    explicit ExifOrientedReader(std::unique_ptr<ImageReader> reader)
        : reader_(std::move(reader)), info_(reader_->info()) {
        if (const std::optional<int> tag = exifOrientationTag(info_.metadata.exif))
            info_.metadata.orientation = validOrientation(*tag);
    }
    const StreamInfo& info() const noexcept override { return info_; }
    void readRows(unsigned char* band, std::uint32_t rows) override { reader_->readRows(band, rows); }
    void nextPage() override { reader_->nextPage(); }

private:
    std::unique_ptr<ImageReader> reader_;
    StreamInfo info_;
};

void checkEncoder(const ImageFormatEntry& entry, std::string_view name) {
    if (entry.canEncode != nullptr && !entry.canEncode())
        failCodec(name, "cannot write " + std::string(entry.name) +
                            ": this machine's codec library has no encoder for it; choose another output format");
}

}  // namespace

std::span<const ImageFormatEntry> imageFormats() noexcept { return kFormats; }

const ImageFormatEntry& formatEntry(ImageFormat format) {
    for (const ImageFormatEntry& entry : kFormats)
        if (entry.format == format) return entry;
    throw ToolError("unknown image format " + std::to_string(static_cast<int>(format)));
}

std::optional<ImageFormat> sniffImageFormat(std::span<const std::byte> bytes) noexcept {
    for (const ImageFormatEntry& entry : kFormats)
        if (entry.sniff(bytes)) return entry.format;
    return std::nullopt;
}

std::string contentHint(std::span<const std::byte> bytes) {
    const std::optional<ImageFormat> format = sniffImageFormat(bytes);
    return format ? " (its content is " + std::string(formatEntry(*format).name) + ")" : std::string();
}

ImageFormat imageFormatFor(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    for (const ImageFormatEntry& entry : kFormats)
        if (std::find(entry.extensions.begin(), entry.extensions.end(), ext) != entry.extensions.end()) {
            checkEncoder(entry, path.string());
            return entry.format;
        }
    failCodec(path.string(), ext.empty() ? "has no file extension to tell the image format; supported: " +
                                               supportedList()
                                         : "the image format '" + ext + "' is not supported; supported: " +
                                               supportedList());
}

void checkEncodable(ImageFormat format, SampleType type, std::size_t pages, std::string_view name) {
    const ImageFormatEntry& entry = formatEntry(format);
    checkEncoder(entry, name);
    if (pages > entry.maxPages)
        failCodec(name, "the image has " + std::to_string(pages) + " pages, and " + std::string(entry.name) +
                            (entry.maxPages == 1 ? " holds one" : " holds at most " + std::to_string(entry.maxPages)) +
                            "; write it as .tif");
    auto holds = [&](std::span<const SampleType> types) {
        return std::find(types.begin(), types.end(), type) != types.end();
    };
    if (!holds(entry.sampleTypes) && !holds(entry.reducedTypes))
        failCodec(name, "the image has " + std::string(sampleTypeName(type)) + " samples, and " +
                            std::string(entry.name) + " stores 8- or 16-bit unsigned integers; write it as .tif");
}

std::unique_ptr<ImageReader> openImageReader(const ImageInput& input, const ImageReadOptions& options) {
    std::unique_ptr<ByteSource> source = ByteSource::open(input, options);
    if (source->size() == 0) failCodec(source->name(), "the file is empty");
    std::array<std::byte, kSniffBytes> head{};
    const std::size_t got = source->readAt(0, head);
    const std::span<const std::byte> first(head.data(), got);
    if (got < head.size() && got < source->size())
        failCodec(source->name(), "cannot read its first bytes" + source->errorText());
    for (const ImageFormatEntry& entry : kFormats) {
        if (!entry.sniff(first)) continue;
        std::unique_ptr<ImageReader> reader = entry.openReader(std::move(source), options);
        if (entry.orientationInExif) reader = std::make_unique<ExifOrientedReader>(std::move(reader));
        return reader;
    }
    const std::string_view other = knownUnsupported(first);
    failCodec(source->name(), (other.empty() ? std::string("not an image file the tool reads")
                                             : "is a " + std::string(other) + " file, which is not supported") +
                                  "; supported: " + supportedList());
}

std::unique_ptr<ImageWriter> openImageWriter(ImageFormat format, ByteOutput& output, const StreamInfo& out,
                                             std::string_view name, const ImageWriteOptions& options) {
    const ImageFormatEntry& entry = formatEntry(format);
    checkEncodable(format, out.page.type, out.pages, name);
    if (isCmyk(out.metadata.colour) && !entry.cmyk) {
        const StreamInfo rgb = srgbInfoOfCmyk(out, name, entry.name);
        if (options.warning)
            options.warning(std::string(name) + ": CMYK converted to sRGB through the image's colour profile (" +
                            std::string(entry.name) + " holds RGB)");
        return cmykToSrgbWriter(openImageWriter(format, output, rgb, name, options), out, name);
    }
    // A tag that says otherwise, or an invalid one (0 reads as upright but
    // would stay 0), is rewritten; no tag is added for an upright image.
    const std::optional<int> tag = exifOrientationTag(out.metadata.exif);
    if (entry.orientationInExif && (tag ? *tag != out.metadata.orientation : out.metadata.orientation != 1)) {
        StreamInfo agreeing = out;
        agreeing.metadata.exif = exifWithOrientation(out.metadata.exif, out.metadata.orientation);
        return entry.openWriter(output, agreeing, name, options);
    }
    return entry.openWriter(output, out, name, options);
}

}  // namespace axiswarp::tools
