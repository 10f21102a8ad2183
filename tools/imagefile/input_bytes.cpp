#include "imagefile/input_bytes.hpp"

#include "imagefile/codec_support.hpp"
#include "runtime/tool_error.hpp"

#include <cerrno>
#include <fstream>
#include <limits>
#include <string>
#include <system_error>

namespace axiswarp::tools {

std::span<const std::byte> inputBytes(const ImageInput& input, const ImageReadOptions& options,
                                      std::vector<std::byte>& storage) {
    const std::string& name = input.name;
    if (!input.bytes.empty() || input.path.empty()) {
        if (input.bytes.size() > options.maxFileBytes)
            throw LimitError(LimitError::Kind::imageFileBytes,
                             name + ": the file has " + std::to_string(input.bytes.size()) +
                                 " bytes, more than the limit of " + std::to_string(options.maxFileBytes));
        return input.bytes;
    }
    std::error_code ec;
    // Checked before opening: opening a FIFO would wait for a writer, and a
    // device has no size to check.
    const std::filesystem::file_status status = std::filesystem::status(input.path, ec);
    if (std::filesystem::is_directory(status)) failCodec(name, "is a folder, not an image file");
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status))
        failCodec(name, "is not a regular file");
    std::ifstream in(input.path, std::ios::binary);
    if (!in) {
        const int error = errno;
        failCodec(name, "cannot open: " + (error != 0 ? std::generic_category().message(error)
                                                 : std::string("unknown error")));
    }
    const std::uint64_t size = std::filesystem::file_size(input.path, ec);
    if (ec) failCodec(name, "cannot read its size: " + ec.message());
    if (size > options.maxFileBytes)
        throw LimitError(LimitError::Kind::imageFileBytes,
                         name + ": the file has " + std::to_string(size) + " bytes, more than the limit of " +
                             std::to_string(options.maxFileBytes));
    if (size > std::numeric_limits<std::size_t>::max()) failCodec(name, "the file is too large");
    storage.resize(static_cast<std::size_t>(size));
    in.read(reinterpret_cast<char*>(storage.data()), static_cast<std::streamsize>(storage.size()));
    if (static_cast<std::uint64_t>(in.gcount()) != size)
        failCodec(name, "read failed or the file shrank while being read");
    return storage;
}

}  // namespace axiswarp::tools
