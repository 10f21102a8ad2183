// Writes seed inputs for the webp and heif fuzz targets with the tool
// library's own encoders: small pictures in RGB and RGBA, lossy and
// lossless WebP, HEIC and AVIF where libheif can encode them, with and
// without an ICC profile, EXIF and an orientation.
// Usage: write_stream_seeds CORPUS_FOLDER   (writes CORPUS/webp and CORPUS/heif)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "imagefile/exif_orientation.hpp"
#include "imagefile/heif_codec.hpp"
#include "imagefile/image_stream.hpp"
#include "imagefile/webp_codec.hpp"

namespace {

using namespace axiswarp::tools;

class VectorOutput final : public ByteOutput {
public:
    void write(std::span<const std::byte> bytes) override { data.insert(data.end(), bytes.begin(), bytes.end()); }
    void seek(std::uint64_t) override {}
    std::uint64_t tell() const override { return data.size(); }
    std::uint64_t size() const override { return data.size(); }
    std::size_t readAt(std::uint64_t, std::span<std::byte>) override { return 0; }
    std::vector<std::byte> data;
};

template <class Open>
void writeSeed(const std::filesystem::path& file, Open open, std::uint32_t channels, int orientation) {
    StreamInfo info;
    info.page = {23, 11, channels, SampleType::uint8};
    if (orientation != 1) {
        info.metadata.orientation = orientation;
        info.metadata.exif = exifWithOrientation({}, orientation);
        info.metadata.iccProfile.assign(132, std::byte{0x2a});
    }
    std::vector<unsigned char> rows(info.page.rowBytes() * info.page.height);
    for (std::size_t i = 0; i < rows.size(); ++i) rows[i] = static_cast<unsigned char>(i * 37 / 5);
    VectorOutput output;
    const auto writer = open(output, info);
    writer->writeRows(rows.data(), info.page.height);
    writer->finish();
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(output.data.data()),
                                                static_cast<std::streamsize>(output.data.size()));
    std::printf("%s: %zu bytes\n", file.string().c_str(), output.data.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: write_stream_seeds CORPUS_FOLDER\n");
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    std::filesystem::create_directories(corpus / "webp");
    std::filesystem::create_directories(corpus / "heif");
    for (const std::uint32_t channels : {3u, 4u})
        for (const int orientation : {1, 6}) {
            const std::string tag = std::to_string(channels) + "ch-o" + std::to_string(orientation);
            for (const auto compression : {WebpCompression::lossy, WebpCompression::lossless})
                writeSeed(corpus / "webp" / ((compression == WebpCompression::lossy ? "lossy-" : "lossless-") + tag + ".webp"),
                          [&](ByteOutput& o, const StreamInfo& i) { return openWebpWriter(o, i, "seed", {}, compression); },
                          channels, orientation);
            if (heicCanEncode())
                writeSeed(corpus / "heif" / (tag + ".heic"),
                          [](ByteOutput& o, const StreamInfo& i) { return openHeicWriter(o, i, "seed", {}); }, channels,
                          orientation);
            if (avifCanEncode())
                writeSeed(corpus / "heif" / (tag + ".avif"),
                          [](ByteOutput& o, const StreamInfo& i) { return openAvifWriter(o, i, "seed", {}); }, channels,
                          orientation);
        }
    return 0;
}
