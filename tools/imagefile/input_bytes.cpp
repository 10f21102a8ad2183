#include "imagefile/input_bytes.hpp"

#include "imagefile/codec_support.hpp"

#include <limits>
#include <string>

namespace axiswarp::tools {

std::span<const std::byte> inputBytes(ByteSource& source, std::vector<std::byte>& storage) {
    if (!source.memory().empty() || source.size() == 0) return source.memory();
    if (source.size() > std::numeric_limits<std::size_t>::max()) failCodec(source.name(), "the file is too large");
    storage.resize(static_cast<std::size_t>(source.size()));
    if (source.readAt(0, storage) != storage.size())
        failCodec(source.name(), "the file could not be read whole (it shrank while being read)" + source.errorText());
    return storage;
}

}  // namespace axiswarp::tools
