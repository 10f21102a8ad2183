// Decodes image files through the format registry's readers (any format,
// the stored orientation not applied) and encodes WebP through its writer,
// for tests that compare with an independent implementation.
//   stream_codec_tool decode [--strict] IN RAW
//        prints "W H C orientation icc_bytes exif_bytes bits pages", writes
//        the samples of every page to RAW (little-endian), the ICC profile
//        to RAW.icc and the EXIF block to RAW.exif; warnings go to stderr
//   stream_codec_tool encode RAW W H C OUT   lossless WebP of the 8-bit samples in RAW
// A refusal prints its message on stderr and exits 1.
#include "imagefile/format_registry.hpp"
#include "imagefile/image_stream.hpp"
#if AXISWARP_HAVE_WEBP
#include "imagefile/webp_codec.hpp"
#endif
#include "runtime/tool_error.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using namespace axiswarp::tools;

class FileOutput final : public ByteOutput {
public:
    explicit FileOutput(const char* path) : out_(path, std::ios::binary) {}
    void write(std::span<const std::byte> bytes) override {
        out_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        size_ += bytes.size();
    }
    void seek(std::uint64_t) override { throw ToolError("seek not supported"); }
    std::uint64_t tell() const override { return size_; }
    std::uint64_t size() const override { return size_; }
    std::size_t readAt(std::uint64_t, std::span<std::byte>) override { return 0; }

private:
    std::ofstream out_;
    std::uint64_t size_ = 0;
};

void save(const std::string& path, const void* data, std::size_t size) {
    std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const std::string command = argc > 1 ? argv[1] : "";
        const bool strict = argc > 2 && std::string(argv[2]) == "--strict";
        if (command == "decode" && argc == 4 + (strict ? 1 : 0)) {
            const char* in = argv[2 + (strict ? 1 : 0)];
            const std::string raw = argv[3 + (strict ? 1 : 0)];
            ImageReadOptions options;
            options.strict = strict;
            const auto reader = openImageReader(ImageInput{in, {}, in}, options);
            const StreamInfo& info = reader->info();
            std::vector<unsigned char> samples(info.page.rowBytes() * info.page.height);
            std::ofstream out(raw, std::ios::binary);
            for (std::uint32_t p = 0; p < info.pages; ++p) {
                if (p > 0) reader->nextPage();
                reader->readRows(samples.data(), info.page.height);
                // Little-endian on every machine, as the scripts read it.
                if (std::endian::native == std::endian::big && info.page.sampleBytes() > 1) {
                    const std::size_t size = info.page.sampleBytes();
                    for (std::size_t i = 0; i < samples.size(); i += size)
                        std::reverse(samples.begin() + static_cast<std::ptrdiff_t>(i),
                                     samples.begin() + static_cast<std::ptrdiff_t>(i + size));
                }
                out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
            }
            save(raw + ".icc", info.metadata.iccProfile.data(), info.metadata.iccProfile.size());
            save(raw + ".exif", info.metadata.exif.data(), info.metadata.exif.size());
            std::printf("%u %u %u %d %zu %zu %zu %u\n", info.page.width, info.page.height, info.page.channels,
                        info.metadata.orientation, info.metadata.iccProfile.size(), info.metadata.exif.size(),
                        info.page.sampleBytes() * 8, info.pages);
            return 0;
        }
#if AXISWARP_HAVE_WEBP
        if (command == "encode" && argc == 7) {
            std::ifstream in(argv[2], std::ios::binary);
            const std::vector<unsigned char> samples{std::istreambuf_iterator<char>(in), {}};
            StreamInfo info;
            info.page = {static_cast<std::uint32_t>(std::stoul(argv[3])), static_cast<std::uint32_t>(std::stoul(argv[4])),
                         static_cast<std::uint32_t>(std::stoul(argv[5])), SampleType::uint8};
            if (samples.size() != info.page.rowBytes() * info.page.height) throw ToolError("RAW has the wrong size");
            FileOutput output(argv[6]);
            const auto writer = openWebpWriter(output, info, argv[6], {}, WebpCompression::lossless);
            writer->writeRows(samples.data(), info.page.height);
            writer->finish();
            return 0;
        }
#endif
        std::fprintf(stderr, "usage: stream_codec_tool decode [--strict] IN RAW | encode RAW W H C OUT\n");
        return 2;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
