// Decodes and encodes WebP files through the tool library's readers and
// writers, for tests that compare with an independent implementation.
//   stream_codec_tool decode IN RAW      prints "W H C orientation icc_bytes exif_bytes",
//                                        writes the samples to RAW, the ICC profile
//                                        to RAW.icc and the EXIF block to RAW.exif
//   stream_codec_tool encode RAW W H C OUT   lossless WebP of the 8-bit samples in RAW
// A refusal prints its message on stderr and exits 1.
#include "imagefile/image_stream.hpp"
#include "imagefile/webp_codec.hpp"
#include "runtime/tool_error.hpp"

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
        if (command == "decode" && argc == 4) {
            const auto reader = openWebpReader(ImageInput{argv[2], {}, argv[2]}, {});
            const StreamInfo& info = reader->info();
            std::vector<unsigned char> samples(info.page.rowBytes() * info.page.height);
            reader->readRows(samples.data(), info.page.height);
            save(argv[3], samples.data(), samples.size());
            save(std::string(argv[3]) + ".icc", info.metadata.iccProfile.data(), info.metadata.iccProfile.size());
            save(std::string(argv[3]) + ".exif", info.metadata.exif.data(), info.metadata.exif.size());
            std::printf("%u %u %u %d %zu %zu\n", info.page.width, info.page.height, info.page.channels,
                        info.metadata.orientation, info.metadata.iccProfile.size(), info.metadata.exif.size());
            return 0;
        }
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
        std::fprintf(stderr, "usage: stream_codec_tool decode IN RAW | encode RAW W H C OUT\n");
        return 2;
    } catch (const ToolError& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
