#include "imagefile/image_io.hpp"

#include "runtime/atomic_file.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/exif_orientation.hpp"
#include "imagefile/jpeg_codec.hpp"
#include "imagefile/orientation.hpp"
#include "imagefile/png_codec.hpp"
#include "imagefile/tiff_codec.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <limits>
#include <system_error>

namespace axiswarp::tools {

namespace {

std::vector<std::byte> readWholeFile(const std::filesystem::path& path, std::string_view name,
                                     const ImageReadOptions& options) {
    std::error_code ec;
    // Before opening: opening a FIFO would wait for a writer, and a device
    // has no size to check.
    const std::filesystem::file_status status = std::filesystem::status(path, ec);
    if (std::filesystem::is_directory(status)) failCodec(name, "is a folder, not an image file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        failCodec(name, "is not a regular file");
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        const int error = errno;
        failCodec(name, "cannot open: " + (error != 0 ? std::generic_category().message(error)
                                                 : std::string("unknown error")));
    }
    const std::uint64_t size = std::filesystem::file_size(path, ec);
    if (ec) failCodec(name, "cannot read its size: " + ec.message());
    if (size > options.maxFileBytes)
        throw LimitError(LimitError::Kind::imageFileBytes,
                         std::string(name) + ": the file has " + std::to_string(size) +
                             " bytes, more than the limit of " + std::to_string(options.maxFileBytes));
    if (size > std::numeric_limits<std::size_t>::max()) failCodec(name, "the file is too large");
    std::vector<std::byte> bytes(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (static_cast<std::uint64_t>(in.gcount()) != size)
        failCodec(name, "read failed or the file shrank while being read");
    return bytes;
}

}  // namespace

namespace {

const char* const kSupported = "PNG (.png), JPEG (.jpg, .jpeg), TIFF (.tif, .tiff)";

// Formats people try; named in the refusal so it reads as "not supported"
// rather than "broken file".
std::string_view knownUnsupported(std::span<const std::byte> b) noexcept {
    auto starts = [&](std::string_view magic) {
        return b.size() >= magic.size() && std::memcmp(b.data(), magic.data(), magic.size()) == 0;
    };
    if (starts("GIF87a") || starts("GIF89a")) return "GIF";
    if (starts("BM")) return "BMP";
    if (b.size() >= 12 && starts("RIFF") && std::memcmp(b.data() + 8, "WEBP", 4) == 0) return "WebP";
    return {};
}

}  // namespace

ImageFormat imageFormatFor(const std::filesystem::path& path) {
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::tolower(ch)); });
    if (ext == ".png") return ImageFormat::png;
    if (ext == ".jpg" || ext == ".jpeg") return ImageFormat::jpeg;
    if (ext == ".tif" || ext == ".tiff") return ImageFormat::tiff;
    failCodec(path.string(), ext.empty() ? std::string("has no file extension to tell the image format; "
                                                       "supported: ") + kSupported
                                         : "the image format '" + ext + "' is not supported; supported: " +
                                               kSupported);
}

std::optional<ImageFormat> sniffImageFormat(std::span<const std::byte> bytes) noexcept {
    if (looksLikePng(bytes)) return ImageFormat::png;
    if (looksLikeJpeg(bytes)) return ImageFormat::jpeg;
    if (looksLikeTiff(bytes)) return ImageFormat::tiff;
    return std::nullopt;
}

ImageFile decodeImageFile(std::span<const std::byte> bytes, std::string_view name,
                          const ImageReadOptions& options) {
    if (bytes.empty()) failCodec(name, "the file is empty");
    const std::optional<ImageFormat> format = sniffImageFormat(bytes);
    if (!format) {
        const std::string_view other = knownUnsupported(bytes);
        failCodec(name, (other.empty() ? std::string("not an image file the tool reads")
                                       : "is a " + std::string(other) + " file, which is not supported") +
                            "; supported: " + kSupported);
    }
    ImageFile file;
    switch (*format) {
        case ImageFormat::png: file.pages.push_back(decodePng(bytes, name, options, &file.metadata)); break;
        case ImageFormat::jpeg: file.pages.push_back(decodeJpeg(bytes, name, options, &file.metadata)); break;
        case ImageFormat::tiff: file = decodeTiff(bytes, name, options); break;
    }
    // PNG and JPEG store their orientation in the EXIF block only.
    if (*format != ImageFormat::tiff) file.metadata.orientation = exifOrientation(file.metadata.exif);
    if (options.autoOrient) applyOrientation(file);
    return file;
}

void checkEncodable(ImageFormat format, SampleType type, std::size_t pages, std::string_view name) {
    if (format == ImageFormat::tiff) return;
    const char* what = format == ImageFormat::png ? "PNG" : "JPEG";
    if (pages > 1)
        failCodec(name, "the image has " + std::to_string(pages) + " pages, and " + what +
                            " holds one; write it as .tif");
    if (type != SampleType::uint8 && type != SampleType::uint16)
        failCodec(name, "the image has " + std::string(sampleTypeName(type)) + " samples, and " + what +
                            " stores 8- or 16-bit unsigned integers; write it as .tif");
}

TiffCompression parseTiffCompression(std::string_view text) {
    if (text == "none") return TiffCompression::none;
    if (text == "lzw") return TiffCompression::lzw;
    if (text == "deflate") return TiffCompression::deflate;
    throw ToolError("unknown compression '" + std::string(text) + "' (use none, lzw or deflate)");
}

std::vector<std::byte> encodeImageFile(const ImageFile& file, ImageFormat format,
                                       std::string_view name, const ImageWriteOptions& options) {
    if (file.pages.empty()) failCodec(name, "there is no image to write");
    checkEncodable(format, file.pages.front().sampleType(), file.pages.size(), name);
    // PNG and JPEG hold the orientation in the EXIF block, so a block that
    // says otherwise than the metadata (or none, from a TIFF file) is made
    // to agree.
    const ImageMetadata* metadata = &file.metadata;
    ImageMetadata agreeing;
    if (format != ImageFormat::tiff && exifOrientation(file.metadata.exif) != file.metadata.orientation) {
        agreeing = file.metadata;
        agreeing.exif = exifWithOrientation(file.metadata.exif, file.metadata.orientation);
        metadata = &agreeing;
    }
    switch (format) {
        case ImageFormat::png: return encodePng(file.pages.front(), name, options, metadata);
        case ImageFormat::jpeg: return encodeJpeg(file.pages.front(), name, options, metadata);
        case ImageFormat::tiff: return encodeTiff(file, name, options);
    }
    failCodec(name, "unknown image format");
}

ImageFile readImageFile(const std::filesystem::path& path, const ImageReadOptions& options) {
    const std::string name = path.string();
    const std::vector<std::byte> bytes = readWholeFile(path, name, options);
    return decodeImageFile(bytes, name, options);
}

void writeImageFile(const std::filesystem::path& path, const ImageFile& file,
                    const ImageWriteOptions& options) {
    const std::string name = path.string();
    const ImageFormat format = imageFormatFor(path);
    writeFileAtomically(path, encodeImageFile(file, format, name, options));
}

Image readImage(const std::filesystem::path& path, const ImageReadOptions& options) {
    ImageFile file = readImageFile(path, options);
    if (file.pages.size() != 1)
        failCodec(path.string(), "has " + std::to_string(file.pages.size()) +
                                     " pages where one image was expected");
    return std::move(file.pages.front());
}

void writeImage(const std::filesystem::path& path, const Image& image,
                const ImageWriteOptions& options) {
    ImageFile file;
    file.pages.push_back(image.clone());
    writeImageFile(path, file, options);
}

}  // namespace axiswarp::tools
