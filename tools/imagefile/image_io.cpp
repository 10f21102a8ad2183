#include "imagefile/image_io.hpp"

#include "imagefile/byte_outputs.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/orientation.hpp"
#include "imagefile/whole_image.hpp"
#include "runtime/atomic_file.hpp"

namespace axiswarp::tools {

namespace {

ImageFile readAll(const ImageInput& input, const ImageReadOptions& options) {
    const std::unique_ptr<ImageReader> reader = openImageReader(input, options);
    ImageFile file = readAllPages(*reader, options);
    if (options.autoOrient) applyOrientation(file);
    return file;
}

void writeAll(const ImageFile& file, ImageFormat format, ByteOutput& output, std::string_view name,
              const ImageWriteOptions& options) {
    if (file.pages.empty()) failCodec(name, "there is no image to write");
    checkEncodable(format, file.pages.front().sampleType(), file.pages.size(), name);
    const std::unique_ptr<ImageWriter> writer =
        openImageWriter(format, output, streamInfoOf(file, format), name, options);
    for (std::size_t i = 0; i < file.pages.size(); ++i) {
        const Image& page = file.pages[i];
        if (page.empty()) failCodec(name, "page " + std::to_string(i + 1) + " holds no samples");
        const Image& first = file.pages.front();
        if (page.width != first.width || page.height != first.height || page.channels != first.channels ||
            page.sampleType() != first.sampleType())
            failCodec(name, "page " + std::to_string(i + 1) + " differs from page 1 in size, channels or "
                                "sample type; the pages of a stack must agree");
        if (i > 0) writer->nextPage();
        writePage(*writer, page);
    }
    writer->finish();
}

}  // namespace

TiffCompression parseTiffCompression(std::string_view text) {
    if (text == "none") return TiffCompression::none;
    if (text == "lzw") return TiffCompression::lzw;
    if (text == "deflate") return TiffCompression::deflate;
    if (text == "jpeg") return TiffCompression::jpeg;
    throw ToolError("unknown compression '" + std::string(text) + "' (use none, lzw, deflate or jpeg)");
}

ImageFile decodeImageFile(std::span<const std::byte> bytes, std::string_view name,
                          const ImageReadOptions& options) {
    if (bytes.empty()) failCodec(name, "the file is empty");
    return readAll(ImageInput{{}, bytes, std::string(name)}, options);
}

std::vector<std::byte> encodeImageFile(const ImageFile& file, ImageFormat format, std::string_view name,
                                       const ImageWriteOptions& options) {
    VectorOutput output;
    writeAll(file, format, output, name, options);
    return std::move(output.bytes());
}

ImageFile readImageFile(const std::filesystem::path& path, const ImageReadOptions& options) {
    return readAll(ImageInput{path, {}, path.string()}, options);
}

void writeImageFile(const std::filesystem::path& path, const ImageFile& file, const ImageWriteOptions& options) {
    const std::string name = path.string();
    const ImageFormat format = imageFormatFor(path);
    if (file.pages.empty()) failCodec(name, "there is no image to write");
    checkEncodable(format, file.pages.front().sampleType(), file.pages.size(), name);
    AtomicFile target(path);
    AtomicFileOutput output(target);
    writeAll(file, format, output, name, options);
    output.flush();
    target.commit();
}

Image readImage(const std::filesystem::path& path, const ImageReadOptions& options) {
    ImageFile file = readImageFile(path, options);
    if (file.pages.size() != 1)
        failCodec(path.string(), "has " + std::to_string(file.pages.size()) + " pages where one image was expected");
    return std::move(file.pages.front());
}

void writeImage(const std::filesystem::path& path, const Image& image, const ImageWriteOptions& options) {
    ImageFile file;
    file.pages.push_back(image.clone());
    writeImageFile(path, file, options);
}

}  // namespace axiswarp::tools
