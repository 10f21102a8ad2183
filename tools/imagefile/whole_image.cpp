#include "imagefile/whole_image.hpp"

#include "imagefile/band_pipeline.hpp"
#include "imagefile/codec_support.hpp"
#include "imagefile/planar_layout.hpp"

#include <algorithm>

namespace axiswarp::tools {

ImageFile readAllPages(ImageReader& reader, const ImageReadOptions& options) {
    const StreamInfo& info = reader.info();
    const PageLayout& page = info.page;
    const std::size_t rowBytes = page.rowBytes();
    const std::uint32_t bandRows = std::min(kBandRows, page.height);
    const std::uint32_t bands = (page.height + kBandRows - 1) / kBandRows;
    ImageFile file;
    file.compression = info.compression;
    file.pages.reserve(info.pages);
    for (std::uint32_t p = 0; p < info.pages; ++p) {
        if (p > 0) reader.nextPage();
        Image image;
        pipelineBands(
            options.pool, bufferBytes("image", rowBytes, bandRows), bands,
            [&](std::uint32_t b, unsigned char* band) {
                reader.readRows(band, std::min(kBandRows, page.height - b * kBandRows));
                if (b == 0) image = Image::allocate(page.width, page.height, page.channels, page.type);
            },
            [&](std::uint32_t b, const unsigned char* band) {
                const std::uint32_t first = b * kBandRows;
                storeBand(image, band, rowBytes, first, std::min(kBandRows, page.height - first));
            });
        file.pages.push_back(std::move(image));
    }
    // Read last: a reader may complete it at the end of the data.
    file.metadata = reader.info().metadata;
    return file;
}

StreamInfo streamInfoOf(const Image& image, ImageFormat format) {
    StreamInfo out;
    out.format = format;
    out.page = {image.width, image.height, image.channels, image.sampleType()};
    return out;
}

StreamInfo streamInfoOf(const ImageFile& file, ImageFormat format) {
    StreamInfo out = file.pages.empty() ? StreamInfo{} : streamInfoOf(file.pages.front(), format);
    out.format = format;
    out.pages = static_cast<std::uint32_t>(std::min<std::size_t>(file.pages.size(), 0xffffffffu));
    out.metadata = file.metadata;
    out.compression = file.compression;
    return out;
}

void writePage(ImageWriter& writer, const Image& image) {
    const PlaneGeometry g = geometryOf(image);
    const std::size_t rowBytes = std::size_t{image.width} * image.channels * (image.bitDepth() / 8);
    const std::uint32_t bandRows = std::min(kBandRows, image.height);
    BandBuffer band(bufferBytes("image", rowBytes, bandRows));
    for (std::uint32_t first = 0; first < image.height; first += kBandRows) {
        const std::uint32_t count = std::min(kBandRows, image.height - first);
        image.visitSamples([&](auto samples) {
            using T = typename decltype(samples)::value_type;
            planesToBand(samples.data(), g, first, count, image.channels, reinterpret_cast<T*>(band.bytes()),
                         rowBytes / sizeof(T), [](T v) { return v; });
        });
        writer.writeRows(band.bytes(), count);
    }
}

}  // namespace axiswarp::tools
